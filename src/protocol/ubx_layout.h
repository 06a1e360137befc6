#pragma once

#include <cstddef>

// Where the fields of the NAV messages sit in their payloads: one table for the decoder, the
// simulated receiver and the kernel test's device, so that none of them can drift from the others.
namespace qvr::protocol::ubx {

// NAV-PVT.
inline constexpr std::size_t kPvtLength = 92;
inline constexpr std::size_t kPvtITow = 0;      // u32, ms
inline constexpr std::size_t kPvtYear = 4;      // u16
inline constexpr std::size_t kPvtMonth = 6;     // u8
inline constexpr std::size_t kPvtDay = 7;       // u8
inline constexpr std::size_t kPvtHour = 8;      // u8
inline constexpr std::size_t kPvtMinute = 9;    // u8
inline constexpr std::size_t kPvtSecond = 10;   // u8
inline constexpr std::size_t kPvtValid = 11;    // bit field
inline constexpr std::size_t kPvtTAcc = 12;     // u32, ns
inline constexpr std::size_t kPvtNano = 16;     // i32, ns
inline constexpr std::size_t kPvtFixType = 20;  // u8, fix type code
inline constexpr std::size_t kPvtFlags = 21;    // bit field
inline constexpr std::size_t kPvtFlags2 = 22;   // bit field
inline constexpr std::size_t kPvtNumSv = 23;    // u8, satellites
inline constexpr std::size_t kPvtLon = 24;      // i32, 1e-7 deg
inline constexpr std::size_t kPvtLat = 28;      // i32, 1e-7 deg
inline constexpr std::size_t kPvtHeight = 32;   // i32, mm above the ellipsoid
inline constexpr std::size_t kPvtHMsl = 36;     // i32, mm
inline constexpr std::size_t kPvtHAcc = 40;     // u32, mm
inline constexpr std::size_t kPvtVAcc = 44;     // u32, mm
inline constexpr std::size_t kPvtVelN = 48;     // i32, mm/s
inline constexpr std::size_t kPvtVelE = 52;     // i32, mm/s
inline constexpr std::size_t kPvtVelD = 56;     // i32, mm/s
inline constexpr std::size_t kPvtGSpeed = 60;   // i32, mm/s
inline constexpr std::size_t kPvtSAcc = 68;     // u32, mm/s
inline constexpr std::size_t kPvtHeadAcc = 72;  // u32, 1e-5 deg
inline constexpr std::size_t kPvtPDop = 76;     // u16, 0.01
inline constexpr std::size_t kPvtFlags3 = 78;   // bit field

// NAV-CLOCK.
inline constexpr std::size_t kClockLength = 20;
inline constexpr std::size_t kClockITow = 0;   // u32, ms
inline constexpr std::size_t kClockBias = 4;   // i32 clkB, ns
inline constexpr std::size_t kClockDrift = 8;  // i32 clkD, ns/s
inline constexpr std::size_t kClockTAcc = 12;  // u32 tAcc, ns
inline constexpr std::size_t kClockFAcc = 16;  // u32 fAcc, ps/s

// NAV-SAT: a header, then one block per satellite.
inline constexpr std::size_t kSatITow = 0;     // u32, ms
inline constexpr std::size_t kSatVersion = 4;  // u8
inline constexpr std::size_t kSatNumSvs = 5;   // u8
inline constexpr std::size_t kSatFirstBlock = 8;
inline constexpr std::size_t kSatBlockSize = 12;
inline constexpr std::size_t kSatGnssId = 0;  // u8, system
inline constexpr std::size_t kSatSvId = 1;    // u8, number within the system
inline constexpr std::size_t kSatCno = 2;     // u8, dB-Hz
inline constexpr std::size_t kSatElev = 3;    // i8, degrees
inline constexpr std::size_t kSatAzim = 4;    // i16, degrees
inline constexpr std::size_t kSatPrRes = 6;   // i16, 0.1 m
inline constexpr std::size_t kSatFlags = 8;   // u32 flags, first byte

}  // namespace qvr::protocol::ubx
