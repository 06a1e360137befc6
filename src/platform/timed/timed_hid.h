#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/hid.h"

namespace qvr::platform {

// Runs every call of another backend on a device thread of its own and waits for it at most a
// deadline, so that firmware which stops answering feature requests never freezes the caller:
// the kernel gives up on an unanswered request only after seconds, and queues every further
// request to the device behind it.
//
// A call that misses its deadline fails at once, as a failed call does, and the device is not
// answering: every further call fails at once, without being queued, until the late call has
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

  struct Worker;  // the device thread's side, shared with the thread

 private:
  struct Job;
  // Hands `work` to the device thread and waits for it until `deadline`; false when the call
  // missed it (its reason then is `late`) or was refused because an earlier call has not come
  // back. The job's own `late` runs on the thread after `work` when the caller has given up on
  // it.
  bool run(std::shared_ptr<Job> job, std::chrono::milliseconds deadline, const std::string& late);
  // Runs `call` on the thread with a result of its own; the result is copied to `out` only
  // when the call finished in time and succeeded.
  template <typename Result, typename Call>
  bool timed(Result& out, Call call, std::chrono::milliseconds deadline);

  std::shared_ptr<Worker> worker_;
  std::chrono::milliseconds budget_;
  std::chrono::milliseconds scanBudget_;
  std::string notAnswering_;  // the reason a call that missed its deadline gives
  std::string scanLate_;      // ... and a scan
  std::string lastError_;
  ReadStamp readStamp_;
};

}  // namespace qvr::platform
