#include "platform/timed/timed_hid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace qvr::platform {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kBudget{40};
// Long enough that a scan released after a few call budgets still finishes on a busy machine.
constexpr std::chrono::milliseconds kScanBudget{600};
constexpr HidHandle kHandle = 7;
constexpr std::uint8_t kFill = 0xA5;

// What the test and the fake backend share; it outlives the decorator, whose thread may still
// be inside the backend when the decorator is gone.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool blocked = false;
  int calls = 0;
  std::vector<HidHandle> closed;
  bool backendGone = false;

  void hold() {
    const std::lock_guard lock(mutex);
    blocked = true;
  }
  void release() {
    const std::lock_guard lock(mutex);
    blocked = false;
    changed.notify_all();
  }
  int callCount() {
    const std::lock_guard lock(mutex);
    return calls;
  }
  void waitForBackendGone() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return backendGone; });
  }
};

// Every call waits while the gate is held, then succeeds and fills what it was given.
class GatedHid final : public Hid {
 public:
  explicit GatedHid(std::shared_ptr<Gate> gate) : gate_(std::move(gate)) {}
  ~GatedHid() override {
    const std::lock_guard lock(gate_->mutex);
    gate_->backendGone = true;
    gate_->changed.notify_all();
  }
  GatedHid(const GatedHid&) = delete;
  GatedHid& operator=(const GatedHid&) = delete;
  GatedHid(GatedHid&&) = delete;
  GatedHid& operator=(GatedHid&&) = delete;

  bool presentInterfaces(std::vector<std::string>& paths) override {
    pass();
    paths = {"a", "b"};
    return true;
  }
  HidHandle open(const std::string& /*path*/, OpenMode /*mode*/) override {
    pass();
    return kHandle;
  }
  bool close(HidHandle handle) override {
    pass();
    const std::lock_guard lock(gate_->mutex);
    gate_->closed.push_back(handle);
    return true;
  }
  bool attributes(HidHandle /*handle*/, HidAttributes& out) override {
    pass();
    out = {1, 2, 3};
    return true;
  }
  bool capabilities(HidHandle /*handle*/, HidCaps& out) override {
    pass();
    out = {64, 40};
    return true;
  }
  bool serialNumber(HidHandle /*handle*/, DeviceStringBuffer& out) override { return fill(out); }
  bool manufacturer(HidHandle /*handle*/, DeviceStringBuffer& out) override { return fill(out); }
  bool product(HidHandle /*handle*/, DeviceStringBuffer& out) override { return fill(out); }
  bool getFeature(HidHandle /*handle*/, std::span<std::uint8_t> buffer) override {
    return fill(buffer);
  }
  bool setFeature(HidHandle /*handle*/, std::span<const std::uint8_t> /*report*/) override {
    pass();
    return true;
  }
  bool read(HidHandle /*handle*/, std::span<std::uint8_t> buffer, std::size_t& bytesRead,
            std::chrono::milliseconds /*firstReportWait*/) override {
    fill(buffer);
    bytesRead = buffer.size();
    return true;
  }
  std::string lastErrorText() const override { return {}; }
  ReadStamp readStamp() const override { return {}; }

 private:
  void pass() {
    std::unique_lock lock(gate_->mutex);
    ++gate_->calls;
    gate_->changed.wait(lock, [this] { return !gate_->blocked; });
  }
  bool fill(std::span<std::uint8_t> bytes) {
    pass();
    std::fill(bytes.begin(), bytes.end(), kFill);
    return true;
  }

  std::shared_ptr<Gate> gate_;
};

struct Bench {
  std::shared_ptr<Gate> gate = std::make_shared<Gate>();
  std::unique_ptr<TimedHid> hid =
      std::make_unique<TimedHid>(std::make_unique<GatedHid>(gate), kBudget, kScanBudget);

  void waitUntilAnswering() const {
    while (!hid->answering()) {
      std::this_thread::sleep_for(1ms);
    }
  }
};

// Each call of the seam, made on a decorator; true when it succeeded.
struct Call {
  const char* name;
  std::function<bool(Hid&)> make;
  bool scanning = false;  // the system's work, with the scan's budget
};

// A scan as the device link makes one: the listing, then each interface opened and asked.
bool scanBoth(Hid& decorator) {
  auto opened = std::make_shared<int>(0);
  const bool ok = decorator.scan([opened](Hid& h) {
    std::vector<std::string> paths;
    (void)h.presentInterfaces(paths);
    for (const std::string& path : paths) {
      const HidHandle handle = h.open(path, OpenMode::Device);
      HidAttributes attributes;
      *opened += h.attributes(handle, attributes) && h.close(handle) ? 1 : 0;
    }
  });
  return ok && *opened == 2;
}

std::vector<Call> everyCall() {
  return {
      {"presentInterfaces",
       [](Hid& h) {
         std::vector<std::string> paths;
         return h.presentInterfaces(paths) && paths.size() == 2;
       },
       true},
      {"scan", scanBoth, true},
      {"open", [](Hid& h) { return h.open("a", OpenMode::Device) != kInvalidHandle; }},
      {"attributes",
       [](Hid& h) {
         HidAttributes a;
         return h.attributes(kHandle, a);
       }},
      {"capabilities",
       [](Hid& h) {
         HidCaps c;
         return h.capabilities(kHandle, c);
       }},
      {"serialNumber",
       [](Hid& h) {
         DeviceStringBuffer b{};
         return h.serialNumber(kHandle, b);
       }},
      {"manufacturer",
       [](Hid& h) {
         DeviceStringBuffer b{};
         return h.manufacturer(kHandle, b);
       }},
      {"product",
       [](Hid& h) {
         DeviceStringBuffer b{};
         return h.product(kHandle, b);
       }},
      {"getFeature",
       [](Hid& h) {
         std::vector<std::uint8_t> b(40);
         return h.getFeature(kHandle, b);
       }},
      {"setFeature",
       [](Hid& h) {
         const std::vector<std::uint8_t> b(40);
         return h.setFeature(kHandle, b);
       }},
      {"read",
       [](Hid& h) {
         std::vector<std::uint8_t> b(64);
         std::size_t n = 0;
         return h.read(kHandle, b, n, 1ms);
       }},
      {"close", [](Hid& h) { return h.close(kHandle); }},
  };
}

TEST(TimedHid, AnsweredCallsPassTheirResultsBack) {
  Bench b;
  std::vector<std::uint8_t> feature(40, 0);
  ASSERT_TRUE(b.hid->getFeature(kHandle, feature));
  EXPECT_EQ(feature, std::vector<std::uint8_t>(40, kFill));
  std::vector<std::uint8_t> input(128, 0);
  std::size_t bytesRead = 0;
  ASSERT_TRUE(b.hid->read(kHandle, std::span(input).first(64), bytesRead, 1ms));
  EXPECT_EQ(bytesRead, 64u);
  EXPECT_EQ(input[63], kFill);
  EXPECT_EQ(input[64], 0) << "nothing past the span handed in";
  HidAttributes attributes;
  ASSERT_TRUE(b.hid->attributes(kHandle, attributes));
  EXPECT_EQ(attributes.versionNumber, 3);
  EXPECT_EQ(b.hid->open("a", OpenMode::Device), kHandle);
  EXPECT_TRUE(b.hid->answering());
}

// Whichever call hangs, it keeps its deadline, and every call after it fails at once without
// reaching the backend until the hung one has come back.
TEST(TimedHid, AHungCallKeepsItsDeadlineAndNothingQueuesBehindIt) {
  for (const Call& hung : everyCall()) {
    SCOPED_TRACE(hung.name);
    Bench b;
    b.gate->hold();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(hung.make(*b.hid));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, hung.scanning ? kScanBudget : kBudget);
    EXPECT_FALSE(b.hid->answering());
    EXPECT_EQ(b.hid->lastErrorText(), hung.scanning ? "the scan did not finish within 600 ms"
                                                    : "the device did not answer within 40 ms");
    const int callsWhileHung = b.gate->callCount();
    for (const Call& next : everyCall()) {
      SCOPED_TRACE(next.name);
      EXPECT_FALSE(next.make(*b.hid));
    }
    EXPECT_EQ(b.gate->callCount(), callsWhileHung);
    b.gate->release();
    b.waitUntilAnswering();
    for (const Call& next : everyCall()) {
      SCOPED_TRACE(next.name);
      EXPECT_TRUE(next.make(*b.hid));
    }
  }
}

// A scan on a busy machine takes longer than any one call may, and is still no hung device: it
// has the scan's budget as a whole, its calls none of their own.
TEST(TimedHid, AScanSlowerThanACallStillFinishes) {
  for (const Call& slow : everyCall()) {
    if (!slow.scanning) {
      continue;
    }
    SCOPED_TRACE(slow.name);
    Bench b;
    b.gate->hold();
    std::thread releaser([&b] {
      std::this_thread::sleep_for(3 * kBudget);
      b.gate->release();
    });
    EXPECT_TRUE(slow.make(*b.hid)) << b.hid->lastErrorText();
    releaser.join();
    EXPECT_TRUE(b.hid->answering());
  }
}

TEST(TimedHid, ALateCallNeverWritesIntoTheCallersBuffer) {
  Bench b;
  b.gate->hold();
  std::vector<std::uint8_t> kept(40, 0);
  EXPECT_FALSE(b.hid->getFeature(kHandle, kept));
  {
    // Freed before the backend gets to write: the sanitizer build catches a write into it.
    auto gone = std::make_unique<std::vector<std::uint8_t>>(64, 0);
    b.gate->release();
    b.waitUntilAnswering();
    b.gate->hold();
    std::size_t bytesRead = 0;
    EXPECT_FALSE(b.hid->read(kHandle, *gone, bytesRead, 1ms));
    EXPECT_EQ(bytesRead, 0u);
  }
  b.gate->release();
  b.waitUntilAnswering();
  EXPECT_EQ(kept, std::vector<std::uint8_t>(40, 0));
}

TEST(TimedHid, HandlesOfLateOpensAndRefusedClosesAreClosedOnceTheDeviceAnswers) {
  Bench b;
  b.gate->hold();
  EXPECT_EQ(b.hid->open("a", OpenMode::Device), kInvalidHandle);
  EXPECT_FALSE(b.hid->close(3));
  b.gate->release();
  b.waitUntilAnswering();
  const std::lock_guard lock(b.gate->mutex);
  EXPECT_EQ(b.gate->closed, (std::vector<HidHandle>{kHandle, 3}));
}

TEST(TimedHid, GoingAwayDoesNotWaitForAHungCall) {
  Bench b;
  b.gate->hold();
  DeviceStringBuffer buffer{};
  EXPECT_FALSE(b.hid->product(kHandle, buffer));
  const auto start = std::chrono::steady_clock::now();
  b.hid.reset();
  const auto took = std::chrono::steady_clock::now() - start;
  std::printf("destroying the decorator during a hung call took %.3f ms\n",
              std::chrono::duration<double, std::milli>(took).count());
  EXPECT_LT(took, 10 * kBudget);
  // The thread finishes the call on its own and then frees the backend.
  b.gate->release();
  b.gate->waitForBackendGone();
}

// Over random runs of answers, from instant to far beyond any deadline: the deadline stays
// between the shortest and the longest, an answer the longest can hold is never missed by the
// one after it if that takes as long, a hang teaches nothing, and fast answers bring a raised
// deadline down only slowly, yet all the way.
TEST(AnswerDeadline, FollowsTheSlowestAnswersWithinItsBounds) {
  constexpr std::chrono::milliseconds kShortest{200};
  constexpr auto kLongest = AnswerDeadline::kLongest;
  std::mt19937 random(7130);
  std::uniform_int_distribution<int> took(0, 3 * static_cast<int>(kLongest.count()));
  for (int run = 0; run < 200; ++run) {
    AnswerDeadline deadline(kShortest);
    for (int answer = 0; answer < 50; ++answer) {
      const std::chrono::milliseconds t{took(random) / (1 + answer % 4)};
      const std::chrono::milliseconds before = deadline.deadline();
      deadline.answered(t);
      const std::chrono::milliseconds after = deadline.deadline();
      ASSERT_GE(after, kShortest);
      ASSERT_LE(after, kLongest);
      if (t > kLongest) {
        ASSERT_EQ(after, before) << "a hang of " << t.count() << " ms taught something";
      } else if (AnswerDeadline::kHeadroom * t >= before) {
        ASSERT_EQ(after, std::min(AnswerDeadline::kHeadroom * t, kLongest));
      } else {
        ASSERT_LE(after, before);
        ASSERT_GE(after, before - before / AnswerDeadline::kEase) << "came down too fast";
      }
    }
  }
  AnswerDeadline deadline(kShortest);
  deadline.answered(kLongest);
  int fastAnswers = 0;
  while (deadline.deadline() > kShortest) {
    deadline.answered(std::chrono::milliseconds(1));
    ++fastAnswers;
  }
  EXPECT_GT(fastAnswers, 20);
  EXPECT_LT(fastAnswers, 100);
}

// A device that answers every call after longer than the first deadline misses one call, and
// is waited for long enough from then on.
TEST(TimedHid, ASlowDeviceGetsALongerDeadlineAfterItsFirstLateAnswer) {
  Bench b;
  b.gate->hold();
  std::thread releaser([&b] {
    std::this_thread::sleep_for(3 * kBudget);
    b.gate->release();
  });
  std::vector<std::uint8_t> feature(40, 0);
  EXPECT_FALSE(b.hid->getFeature(kHandle, feature));
  releaser.join();
  b.waitUntilAnswering();
  // Twice the late answer, which came only a little before the releaser's pause was over.
  EXPECT_GE(b.hid->deadline(), 5 * kBudget);
  b.gate->hold();
  releaser = std::thread([&b] {
    std::this_thread::sleep_for(3 * kBudget);
    b.gate->release();
  });
  EXPECT_TRUE(b.hid->getFeature(kHandle, feature)) << b.hid->lastErrorText();
  releaser.join();
  EXPECT_EQ(feature, std::vector<std::uint8_t>(40, kFill));
}

}  // namespace
}  // namespace qvr::platform
