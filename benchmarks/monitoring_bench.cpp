// Figures for the monitoring path: how fast the receiver stream is framed, and what one poll
// tick costs when a read brings 64 full input reports. Run: build/benchmarks/qvr_benchmarks
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_system.h"
#include "protocol/ubx_parser.h"
#include "ui/main_window.h"

namespace {

// Counts heap allocations, so the tick's steady state can be shown to allocate nothing.
std::atomic<long> allocations{0};

}  // namespace

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) {
    return p;
  }
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

using Bytes = std::vector<std::uint8_t>;
using qvr::protocol::ubxFrame;

// One navigation epoch as the receiver sends it: position and time, clock, 30 satellites.
Bytes epoch(int n) {
  Bytes pvt(92, 0);
  pvt[4] = 0xEA, pvt[5] = 0x07, pvt[6] = 12, pvt[7] = 8, pvt[8] = 12;
  pvt[10] = static_cast<std::uint8_t>(n % 60);
  pvt[11] = 0x37;
  pvt[24] = static_cast<std::uint8_t>(n), pvt[27] = 0x05;
  pvt[28] = static_cast<std::uint8_t>(n * 3), pvt[31] = 0x1C;
  pvt[36] = 0x60, pvt[37] = 0x3A;
  Bytes clock(20, 0);
  clock[8] = static_cast<std::uint8_t>(n);
  Bytes sat(8 + 12 * 30, 0);
  sat[5] = 30;
  for (int k = 0; k < 30; ++k) {
    const std::size_t block = 8 + 12 * static_cast<std::size_t>(k);
    sat[block + 2] = static_cast<std::uint8_t>(20 + (k + n) % 30);
    sat[block + 3] = static_cast<std::uint8_t>(k % 9 == 0 ? -5 : 10 + k);
    sat[block + 8] = k % 7 == 0 ? 0x00 : 0x08;
  }
  Bytes stream;
  for (const Bytes& frame : {ubxFrame(0x01, 0x07, pvt), ubxFrame(0x01, 0x22, clock),
                             ubxFrame(0x01, 0x35, sat), ubxFrame(0x0A, 0x09, Bytes(60, 1))}) {
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  return stream;
}

Bytes recordedStream(std::size_t bytes) {
  Bytes stream;
  for (int n = 0; stream.size() < bytes; ++n) {
    const Bytes e = epoch(n);
    stream.insert(stream.end(), e.begin(), e.end());
  }
  return stream;
}

void ParserThroughput(benchmark::State& state) {
  const Bytes stream = recordedStream(4 << 20);
  qvr::protocol::UbxParser parser;
  long frames = 0;
  for (auto _ : state) {
    frames += static_cast<long>(parser.feed(stream, [] {}));
    benchmark::DoNotOptimize(frames);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(ParserThroughput)->Unit(benchmark::kMillisecond);

// One tick whose read brings 64 full reports of 64 bytes: status, data-present and 61 bytes of
// the stream each, fed to the parser and decoded into the window model.
void PollTickWith64Reports(benchmark::State& state) {
  constexpr std::size_t kInputLength = 64;
  constexpr std::size_t kReports = 64;
  qvr::platform::sim::SimHid hid;
  qvr::platform::sim::SimSystem system;
  qvr::platform::sim::SimDevice& device =
      hid.attach({.serial = u"BENCH", .inputLength = kInputLength, .featureLength = 40});
  qvr::ui::MainWindow window(hid, system);
  window.load();

  const Bytes stream = recordedStream(1 << 20);
  std::size_t position = 0;
  Bytes report(kInputLength, 0);
  long allocationsInTicks = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (std::size_t r = 0; r < kReports; ++r) {
      report[1] = 0x05;
      report[2] = 1;
      for (std::size_t i = 3; i < kInputLength; ++i) {
        report[i] = stream[position];
        position = (position + 1) % stream.size();
      }
      device.queueInputReport(report);
    }
    const long before = allocations.load();
    state.ResumeTiming();
    window.tick();
    state.PauseTiming();
    allocationsInTicks += allocations.load() - before;
    state.ResumeTiming();
  }
  state.counters["allocations_per_tick"] = benchmark::Counter(
      static_cast<double>(allocationsInTicks) / static_cast<double>(state.iterations()));
}
BENCHMARK(PollTickWith64Reports)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
