#include "platform/timed/timed_hid.h"

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace qvr::platform {

struct TimedHid::Job {
  std::function<bool(Hid&)> work;  // true when the call succeeded
  std::function<void(Hid&)> late;  // after `work`, when the caller gave up on it
  // Under the worker's mutex.
  bool done = false;
  bool abandoned = false;
  bool ok = false;
  std::string error;
};

struct TimedHid::Worker {
  explicit Worker(std::unique_ptr<Hid> hid) : backend(std::move(hid)) {}

  // Touched only by the device thread while it runs, and by the owner once the thread is gone.
  std::unique_ptr<Hid> backend;

  std::mutex mutex;
  std::condition_variable wake;      // a job was handed over, or the owner is going
  std::condition_variable finished;  // a job is done
  std::shared_ptr<Job> job;          // handed over, not taken yet
  bool busy = false;                 // from hand-over until the thread is free again
  bool stopping = false;
  std::vector<HidHandle> closes;  // refused while busy, closed as soon as the thread is free
  std::thread thread;

  void serve(const std::shared_ptr<Worker>& self);
};

// `self` keeps the worker, and with it the backend, alive for as long as the thread runs, so
// a thread the owner no longer waits for never touches freed memory.
void TimedHid::Worker::serve(const std::shared_ptr<Worker>& self) {
  std::unique_lock lock(self->mutex);
  for (;;) {
    wake.wait(lock, [this] { return stopping || job != nullptr; });
    if (job == nullptr) {
      break;
    }
    const std::shared_ptr<Job> current = std::exchange(job, nullptr);
    lock.unlock();
    const bool ok = current->work(*backend);
    std::string error = ok ? std::string() : backend->lastErrorText();
    lock.lock();
    current->ok = ok;
    current->error = std::move(error);
    current->done = true;
    if (current->abandoned && current->late) {
      lock.unlock();
      current->late(*backend);
      lock.lock();
    }
    while (!closes.empty()) {
      const std::vector<HidHandle> handles = std::exchange(closes, {});
      lock.unlock();
      for (const HidHandle handle : handles) {
        (void)backend->close(handle);
      }
      lock.lock();
    }
    busy = false;
    finished.notify_all();
  }
}

TimedHid::TimedHid(std::unique_ptr<Hid> backend, std::chrono::milliseconds budget,
                   std::chrono::milliseconds scanBudget)
    : worker_(std::make_shared<Worker>(std::move(backend))),
      budget_(budget),
      scanBudget_(scanBudget),
      notAnswering_("the device did not answer within " + std::to_string(budget.count()) + " ms"),
      scanLate_("the scan did not finish within " + std::to_string(scanBudget.count()) + " ms") {
  worker_->thread = std::thread([worker = worker_] { worker->serve(worker); });
}

TimedHid::~TimedHid() {
  bool idle = false;
  {
    const std::lock_guard lock(worker_->mutex);
    worker_->stopping = true;
    idle = !worker_->busy;
    worker_->wake.notify_one();
  }
  if (idle) {
    worker_->thread.join();
  } else {
    // The late call may take seconds more; the thread ends on its own after it.
    worker_->thread.detach();
  }
}

bool TimedHid::answering() const {
  const std::lock_guard lock(worker_->mutex);
  return !worker_->busy;
}

bool TimedHid::run(std::shared_ptr<Job> job, std::chrono::milliseconds deadline,
                   const std::string& late) {
  std::unique_lock lock(worker_->mutex);
  if (worker_->busy) {
    lastError_ = notAnswering_;
    return false;
  }
  worker_->busy = true;
  worker_->job = job;
  worker_->wake.notify_one();
  if (!worker_->finished.wait_for(lock, deadline, [&job] { return job->done; })) {
    job->abandoned = true;
    lastError_ = late;
    return false;
  }
  if (!job->ok) {
    lastError_ = job->error;
  }
  return job->ok;
}

template <typename Result, typename Call>
bool TimedHid::timed(Result& out, Call call, std::chrono::milliseconds deadline) {
  // The thread's own copy: it may still write into it long after this call has returned.
  auto result = std::make_shared<Result>(out);
  auto job = std::make_shared<Job>();
  job->work = [result, call](Hid& hid) { return call(hid, *result); };
  if (!run(std::move(job), deadline, notAnswering_)) {
    return false;
  }
  out = *result;
  return true;
}

bool TimedHid::presentInterfaces(std::vector<std::string>& paths) {
  paths.clear();
  auto listed = std::make_shared<std::vector<std::string>>();
  auto job = std::make_shared<Job>();
  job->work = [listed](Hid& hid) { return hid.presentInterfaces(*listed); };
  if (!run(std::move(job), scanBudget_, scanLate_)) {
    return false;
  }
  paths = std::move(*listed);
  return true;
}

bool TimedHid::scan(const std::function<void(Hid&)>& calls) {
  auto job = std::make_shared<Job>();
  // The job keeps its own copy: the thread may still run it after this has returned.
  job->work = [calls](Hid& hid) {
    calls(hid);
    return true;
  };
  return run(std::move(job), scanBudget_, scanLate_);
}

HidHandle TimedHid::open(const std::string& path, OpenMode mode) {
  auto handle = std::make_shared<HidHandle>(kInvalidHandle);
  auto job = std::make_shared<Job>();
  job->work = [handle, path, mode](Hid& hid) {
    *handle = hid.open(path, mode);
    return *handle != kInvalidHandle;
  };
  // Nobody will ever close a handle that arrives after its caller gave up.
  job->late = [handle](Hid& hid) {
    if (*handle != kInvalidHandle) {
      (void)hid.close(*handle);
    }
  };
  return run(job, budget_, notAnswering_) ? *handle : kInvalidHandle;
}

bool TimedHid::close(HidHandle handle) {
  {
    const std::lock_guard lock(worker_->mutex);
    if (worker_->busy) {
      worker_->closes.push_back(handle);
      lastError_ = notAnswering_ + "; the handle is closed when it does";
      return false;
    }
  }
  auto job = std::make_shared<Job>();
  job->work = [handle](Hid& hid) { return hid.close(handle); };
  return run(std::move(job), budget_, notAnswering_);
}

bool TimedHid::attributes(HidHandle handle, HidAttributes& out) {
  return timed(
      out, [handle](Hid& hid, HidAttributes& mine) { return hid.attributes(handle, mine); },
      budget_);
}

bool TimedHid::capabilities(HidHandle handle, HidCaps& out) {
  return timed(
      out, [handle](Hid& hid, HidCaps& mine) { return hid.capabilities(handle, mine); }, budget_);
}

bool TimedHid::serialNumber(HidHandle handle, DeviceStringBuffer& out) {
  return timed(
      out, [handle](Hid& hid, DeviceStringBuffer& mine) { return hid.serialNumber(handle, mine); },
      budget_);
}

bool TimedHid::manufacturer(HidHandle handle, DeviceStringBuffer& out) {
  return timed(
      out, [handle](Hid& hid, DeviceStringBuffer& mine) { return hid.manufacturer(handle, mine); },
      budget_);
}

bool TimedHid::product(HidHandle handle, DeviceStringBuffer& out) {
  return timed(
      out, [handle](Hid& hid, DeviceStringBuffer& mine) { return hid.product(handle, mine); },
      budget_);
}

bool TimedHid::getFeature(HidHandle handle, std::span<std::uint8_t> buffer) {
  std::vector<std::uint8_t> report(buffer.begin(), buffer.end());
  if (!timed(
          report,
          [handle](Hid& hid, std::vector<std::uint8_t>& mine) {
            return hid.getFeature(handle, mine);
          },
          budget_)) {
    return false;
  }
  std::copy(report.begin(), report.end(), buffer.begin());
  return true;
}

bool TimedHid::setFeature(HidHandle handle, std::span<const std::uint8_t> report) {
  auto job = std::make_shared<Job>();
  job->work = [handle, mine = std::vector<std::uint8_t>(report.begin(), report.end())](Hid& hid) {
    return hid.setFeature(handle, mine);
  };
  return run(std::move(job), budget_, notAnswering_);
}

bool TimedHid::read(HidHandle handle, std::span<std::uint8_t> buffer, std::size_t& bytesRead,
                    std::chrono::milliseconds firstReportWait) {
  bytesRead = 0;
  struct Reading {
    std::vector<std::uint8_t> bytes;
    std::size_t count = 0;
    ReadStamp stamp;
  };
  Reading reading{std::vector<std::uint8_t>(buffer.size()), 0, {}};
  if (!timed(
          reading,
          [handle, firstReportWait](Hid& hid, Reading& mine) {
            // On the device thread, as the backend's read returns: the caller may only get
            // the reports much later.
            const bool ok = hid.read(handle, mine.bytes, mine.count, firstReportWait);
            mine.stamp = hid.readStamp();
            return ok;
          },
          firstReportWait + budget_)) {
    return false;
  }
  readStamp_ = reading.stamp;
  bytesRead = std::min(reading.count, buffer.size());
  std::copy_n(reading.bytes.begin(), bytesRead, buffer.begin());
  return true;
}

}  // namespace qvr::platform
