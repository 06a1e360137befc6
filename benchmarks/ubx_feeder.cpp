// A simulated receiver on a pseudo-terminal, for a program that reads a GNSS receiver from a
// serial line (gpsd in benchmarks/cpu-vs-gpsd): the stream one simulated device's receiver
// sends, NAV-PVT, NAV-CLOCK and NAV-SAT once a second with NAV-STATUS and MON-HW, written on
// real time as each epoch is delivered. Prints the terminal's path, then runs until killed.
//
//   qvr_ubx_feeder
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_receiver.h"
#include "protocol/commands.h"
#include "protocol/firmware.h"

namespace {

namespace sim = qvr::platform::sim;
namespace protocol = qvr::protocol;

// Long enough for any command report, as the device's feature reports are.
constexpr std::size_t kReportLength = 40;

int openTerminal() {
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) {
    std::perror("qvr_ubx_feeder: pseudo-terminal");
    std::exit(1);
  }
  // Bytes pass as they are until the reader sets the line up its own way.
  termios raw{};
  tcgetattr(terminal, &raw);
  cfmakeraw(&raw);
  tcsetattr(terminal, TCSANOW, &raw);
  fcntl(terminal, F_SETFL, fcntl(terminal, F_GETFL) | O_NONBLOCK);
  return terminal;
}

// What the reader writes to the receiver is dropped, so that it never fills the line.
void drain(int terminal) {
  std::array<char, 4096> ignored{};
  while (read(terminal, ignored.data(), ignored.size()) > 0) {
  }
}

}  // namespace

int main() {
  const int terminal = openTerminal();
  std::printf("%s\n", ptsname(terminal));
  std::fflush(stdout);

  const sim::BusClock clock = sim::BusClock::realTime();
  sim::SimReceiver receiver(7130, std::chrono::floor<std::chrono::milliseconds>(clock.now()),
                            clock.utcAtZero());
  for (const std::uint8_t id :
       {protocol::kUbxIdNavSat, protocol::kUbxIdNavClock, protocol::kUbxIdNavPvt}) {
    const auto report = protocol::buildCommandReport(
        protocol::Command::ReceiverMessage,
        protocol::messageRateData(protocol::kUbxClassNav, id,
                                  protocol::FirmwareCapabilities::kNormalMessageRate),
        kReportLength);
    receiver.command(*report);
  }
  std::vector<std::uint8_t> stream;
  for (;;) {
    stream.clear();
    receiver.appendUntil(clock.now(), stream);
    // A reader that is not there yet, or reopens the line, loses what comes meanwhile, as it
    // would on a serial line.
    for (std::size_t sent = 0; sent < stream.size();) {
      const ssize_t n = write(terminal, stream.data() + sent, stream.size() - sent);
      if (n <= 0) {
        break;
      }
      sent += static_cast<std::size_t>(n);
    }
    drain(terminal);
    clock.sleepUntil(*receiver.nextDelivery());
  }
}
