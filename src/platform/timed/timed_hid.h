#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/hid.h"

namespace qvr::platform {

// How long a device's next call may take before the device counts as not answering, learned
// from how long its calls took. A device that answers every request in a quarter or half a
// second works, only slowly; with a fixed deadline below that it would miss every one and be
// started up anew forever. So the deadline follows the device's slowest answers:
//
// - An answer (in time, or a late call that did come back) that took `t` raises the deadline at
//   once to twice `t`: its next answers vary with the bus and the load of the machine, and
//   twice the slowest seen keeps one that takes half as long again from being called a hang.
// - Never beyond kLongest, 2 s: a caller waits that long at most for any one call, and a user
//   who clicks waits no longer than that to hear that the device is not answering. An answer
//   slower than that teaches nothing: a longer wait would not have caught it, so it is a hang
//   (firmware that woke up), not a slow device.
// - A faster answer brings it down by a sixteenth of the way to twice its own time, never below
//   the shortest deadline: a device that was slow once (busy with a cold start, say) is judged
//   by the shortest deadline again only after some eighty fast answers (half way after eleven), so one quick answer
//   between slow ones does not make the next slow one miss again.
class AnswerDeadline {
 public:
  static constexpr std::chrono::milliseconds kLongest{2000};
  static constexpr int kHeadroom = 2;
  static constexpr int kEase = 16;

  explicit AnswerDeadline(std::chrono::milliseconds shortest)
      : shortest_(std::min(shortest, kLongest)), deadline_(shortest_) {}

  [[nodiscard]] std::chrono::milliseconds deadline() const { return deadline_; }
  // A call came back after `took`, in time or not.
  void answered(std::chrono::milliseconds took);

 private:
  std::chrono::milliseconds shortest_;
  std::chrono::milliseconds deadline_;
};

// Runs every call of another backend on a device thread of its own and waits for it at most a
// deadline, so that firmware which stops answering feature requests never freezes the caller:
// the kernel gives up on an unanswered request only after seconds, and queues every further
// request to the device behind it.
//
// A call on the device waits for it at most as long as the device's AnswerDeadline says, which
// starts at `budget`. A call that misses its deadline fails at once, as a failed call does, and
// the device is not answering: every further call fails at once, without being queued, until the late call has
// come back. A close refused then is done on the device thread once it is free, and a handle
// that a late open returns is closed there, so no handle is lost. The thread works on its own
// copies of the caller's buffers and copies results back only for calls that finished in time.
//
// Listing the interfaces, and a scan as a whole, are no calls on a device: they take as long as
// the system is busy, so they get a budget of their own, in seconds. A scan that misses it
// fails, as a late call does, and leaves the device not answering until it is done.
class TimedHid final : public Hid {
 public:
  static constexpr std::chrono::milliseconds kDefaultBudget{200};
  static constexpr std::chrono::milliseconds kDefaultScanBudget{5000};

  explicit TimedHid(std::unique_ptr<Hid> backend, std::chrono::milliseconds budget = kDefaultBudget,
                    std::chrono::milliseconds scanBudget = kDefaultScanBudget);
  // Never waits for a late call: the thread finishes it on its own and then frees the backend.
  ~TimedHid() override;
  TimedHid(const TimedHid&) = delete;
  TimedHid& operator=(const TimedHid&) = delete;
  TimedHid(TimedHid&&) = delete;
  TimedHid& operator=(TimedHid&&) = delete;

  [[nodiscard]] bool presentInterfaces(std::vector<std::string>& paths) override;
  [[nodiscard]] bool scan(const std::function<void(Hid&)>& calls) override;
  // With the scan's budget: it asks the system, not the device.
  [[nodiscard]] std::string plugIn(const std::string& path) override;
  [[nodiscard]] HidHandle open(const std::string& path, OpenMode mode) override;
  bool close(HidHandle handle) override;
  [[nodiscard]] bool attributes(HidHandle handle, HidAttributes& out) override;
  [[nodiscard]] bool capabilities(HidHandle handle, HidCaps& out) override;
  [[nodiscard]] bool serialNumber(HidHandle handle, DeviceStringBuffer& out) override;
  [[nodiscard]] bool manufacturer(HidHandle handle, DeviceStringBuffer& out) override;
  [[nodiscard]] bool product(HidHandle handle, DeviceStringBuffer& out) override;
  [[nodiscard]] bool getFeature(HidHandle handle, std::span<std::uint8_t> buffer) override;
  [[nodiscard]] bool setFeature(HidHandle handle, std::span<const std::uint8_t> report) override;
  [[nodiscard]] bool read(HidHandle handle, std::span<std::uint8_t> buffer, std::size_t& bytesRead,
                          std::chrono::milliseconds firstReportWait) override;
  [[nodiscard]] ReadStamp readStamp() const override { return readStamp_; }
  [[nodiscard]] std::string lastErrorText() const override { return lastError_; }
  [[nodiscard]] bool answering() const override;
  // What the next call on the device waits for it at most (a read besides its wait for the
  // first report).
  [[nodiscard]] std::chrono::milliseconds deadline() const;

  struct Worker;  // the device thread's side, shared with the thread

 private:
  struct Job;
  // Hands `work` to the device thread and waits for it until its deadline: the scan's budget
  // for a scan, else the device's deadline and `extra` besides; false when the call missed it
  // or was refused because an earlier call has not come back. The job's own `late` runs on the
  // thread after `work` when the caller has given up on it.
  bool run(std::shared_ptr<Job> job, std::chrono::milliseconds extra = {});
  // Runs `call` on the thread with a result of its own; the result is copied to `out` only
  // when the call finished in time and succeeded. A read waits its `firstReportWait` besides.
  template <typename Result, typename Call>
  bool timed(Result& out, Call call,
             std::optional<std::chrono::milliseconds> read = std::nullopt);
  [[nodiscard]] std::shared_ptr<Job> scanJob();

  std::shared_ptr<Worker> worker_;
  std::chrono::milliseconds scanBudget_;
  std::string scanLate_;  // the reason a scan that missed its budget gives
  std::string lastError_;
  ReadStamp readStamp_;
};

}  // namespace qvr::platform
