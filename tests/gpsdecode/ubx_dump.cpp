// What this project's decoders make of a UBX stream, one line per NAV-PVT, per NAV-SAT and per
// satellite of each NAV-SAT, in the units the stream carries, so that a script can hold it against
// another decoder's reading of the same bytes.
//
//   ubx_dump < stream.ubx

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <span>
#include <vector>

#include "protocol/commands.h"
#include "protocol/ubx_messages.h"
#include "protocol/ubx_parser.h"

namespace {

using qvr::protocol::kUbxClassNav;

void printPvt(const qvr::protocol::NavPvt& p) {
  std::printf("PVT fix=%u ok=%u lat=%d lon=%d msl=%d tacc=%u hacc=%lld vacc=%lld pdop=%d\n",
              p.fixType, p.fixOk() ? 1U : 0U, p.lat, p.lon, p.hMSL, p.tAcc,
              p.hAcc ? static_cast<long long>(*p.hAcc) : -1LL,
              p.vAcc ? static_cast<long long>(*p.vAcc) : -1LL, p.pDop ? int{*p.pDop} : -1);
}

void printSat(const qvr::protocol::NavSat& sat) {
  std::printf("NAVSAT count=%d\n", sat.count());
  for (int k = 0; k < sat.count(); ++k) {
    const qvr::protocol::SatelliteSignal s = sat.satellite(k);
    std::printf("SAT gnss=%u sv=%u cno=%u el=%d az=%d used=%u\n", s.gnssId, s.svId, s.cno, s.elev,
                s.azim, s.used ? 1U : 0U);
  }
}

}  // namespace

int main() {
  const std::vector<std::uint8_t> stream(std::istreambuf_iterator<char>(std::cin), {});
  qvr::protocol::UbxParser parser;
  (void)parser.feed(std::span(stream), [&parser] {
    if (parser.messageClass() != kUbxClassNav) {
      return;
    }
    if (parser.messageId() == qvr::protocol::kUbxIdNavPvt) {
      if (const auto pvt = qvr::protocol::decodeNavPvt(parser.payload())) {
        printPvt(*pvt);
      }
    } else if (parser.messageId() == qvr::protocol::kUbxIdNavSat) {
      if (const auto sat = qvr::protocol::NavSat::decode(parser.payload())) {
        printSat(*sat);
      }
    }
  });
  return 0;
}
