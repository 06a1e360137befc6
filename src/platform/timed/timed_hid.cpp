#include "platform/timed/timed_hid.h"

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace qvr::platform {

void AnswerDeadline::answered(std::chrono::milliseconds took) {
  if (took > kLongest) {
    return;
  }
  const std::chrono::milliseconds room = std::min(kHeadroom * took, kLongest);
  if (room >= deadline_) {
    deadline_ = room;
  } else {
    // Rounded up, so that it does come all the way down.
    const std::chrono::milliseconds excess = deadline_ - std::max(room, shortest_);
    deadline_ -= (excess + std::chrono::milliseconds(kEase - 1)) / kEase;
  }
}

struct TimedHid::Job {
  std::function<bool(Hid&)> work;  // true when the call succeeded
  std::function<void(Hid&)> late;  // after `work`, when the caller gave up on it
  // A scan has the scan's budget and says nothing about the device's speed; nor does a read,
  // which waits for reports as long as it was asked to.
  bool scanning = false;
  bool teaches = true;
  // Under the worker's mutex.
  bool done = false;
  bool abandoned = false;
  bool ok = false;
  std::string error;
};

struct TimedHid::Worker {
  Worker(std::unique_ptr<Hid> hid, std::chrono::milliseconds budget)
      : backend(std::move(hid)), deadline(budget) {}

  // Touched only by the device thread while it runs, and by the owner once the thread is gone.
  std::unique_ptr<Hid> backend;

  std::mutex mutex;
  std::condition_variable wake;      // a job was handed over, or the owner is going
  std::condition_variable finished;  // a job is done
  std::shared_ptr<Job> job;          // handed over, not taken yet
  bool busy = false;                 // from hand-over until the thread is free again
  bool stopping = false;
  std::vector<HidHandle> closes;  // refused while busy, closed as soon as the thread is free
  AnswerDeadline deadline;        // learned from every call that came back, late ones too
  std::string missed;             // why the latest call that missed its deadline failed
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
    const auto started = std::chrono::steady_clock::now();
    const bool ok = current->work(*backend);
    const auto took = std::chrono::ceil<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    std::string error = ok ? std::string() : backend->lastErrorText();
    lock.lock();
    if (current->teaches) {
      deadline.answered(took);
    }
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
    : worker_(std::make_shared<Worker>(std::move(backend), budget)),
      scanBudget_(scanBudget),
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

std::chrono::milliseconds TimedHid::deadline() const {
  const std::lock_guard lock(worker_->mutex);
  return worker_->deadline.deadline();
}

bool TimedHid::run(std::shared_ptr<Job> job, std::chrono::milliseconds extra) {
  std::unique_lock lock(worker_->mutex);
  if (worker_->busy) {
    lastError_ = worker_->missed;
    return false;
  }
  const std::chrono::milliseconds callDeadline = worker_->deadline.deadline();
  worker_->busy = true;
  worker_->job = job;
  worker_->wake.notify_one();
  if (!worker_->finished.wait_for(lock, job->scanning ? scanBudget_ : callDeadline + extra,
                                  [&job] { return job->done; })) {
    job->abandoned = true;
    worker_->missed = job->scanning ? scanLate_
                                    : "the device did not answer within " +
                                          std::to_string(callDeadline.count()) + " ms";
    lastError_ = worker_->missed;
    return false;
  }
  if (!job->ok) {
    lastError_ = job->error;
  }
  return job->ok;
}

template <typename Result, typename Call>
bool TimedHid::timed(Result& out, Call call, std::optional<std::chrono::milliseconds> read) {
  // The thread's own copy: it may still write into it long after this call has returned.
  auto result = std::make_shared<Result>(out);
  auto job = std::make_shared<Job>();
  job->work = [result, call](Hid& hid) { return call(hid, *result); };
  job->teaches = !read.has_value();
  if (!run(std::move(job), read.value_or(std::chrono::milliseconds::zero()))) {
    return false;
  }
  out = *result;
  return true;
}

std::shared_ptr<TimedHid::Job> TimedHid::scanJob() {
  auto job = std::make_shared<Job>();
  job->scanning = true;
  job->teaches = false;
  return job;
}

bool TimedHid::presentInterfaces(std::vector<std::string>& paths) {
  paths.clear();
  auto listed = std::make_shared<std::vector<std::string>>();
  auto job = scanJob();
  job->work = [listed](Hid& hid) { return hid.presentInterfaces(*listed); };
  if (!run(std::move(job))) {
    return false;
  }
  paths = std::move(*listed);
  return true;
}

bool TimedHid::scan(const std::function<void(Hid&)>& calls) {
  auto job = scanJob();
  // The job keeps its own copy: the thread may still run it after this has returned.
  job->work = [calls](Hid& hid) {
    calls(hid);
    return true;
  };
  return run(std::move(job));
}

std::string TimedHid::plugIn(const std::string& path) {
  auto mark = std::make_shared<std::string>();
  auto job = scanJob();
  job->work = [mark, path](Hid& hid) {
    *mark = hid.plugIn(path);
    return true;
  };
  return run(std::move(job)) ? *mark : std::string();
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
  return run(job) ? *handle : kInvalidHandle;
}

bool TimedHid::close(HidHandle handle) {
  {
    const std::lock_guard lock(worker_->mutex);
    if (worker_->busy) {
      worker_->closes.push_back(handle);
      lastError_ = worker_->missed + "; the handle is closed when it does";
      return false;
    }
  }
  auto job = std::make_shared<Job>();
  job->work = [handle](Hid& hid) { return hid.close(handle); };
  return run(std::move(job));
}

bool TimedHid::attributes(HidHandle handle, HidAttributes& out) {
  return timed(
      out, [handle](Hid& hid, HidAttributes& mine) { return hid.attributes(handle, mine); });
}

bool TimedHid::capabilities(HidHandle handle, HidCaps& out) {
  return timed(
      out, [handle](Hid& hid, HidCaps& mine) { return hid.capabilities(handle, mine); });
}

bool TimedHid::serialNumber(HidHandle handle, DeviceStringBuffer& out) {
  return timed(
      out, [handle](Hid& hid, DeviceStringBuffer& mine) { return hid.serialNumber(handle, mine); });
}

bool TimedHid::manufacturer(HidHandle handle, DeviceStringBuffer& out) {
  return timed(
      out, [handle](Hid& hid, DeviceStringBuffer& mine) { return hid.manufacturer(handle, mine); });
}

bool TimedHid::product(HidHandle handle, DeviceStringBuffer& out) {
  return timed(
      out, [handle](Hid& hid, DeviceStringBuffer& mine) { return hid.product(handle, mine); });
}

bool TimedHid::getFeature(HidHandle handle, std::span<std::uint8_t> buffer) {
  std::vector<std::uint8_t> report(buffer.begin(), buffer.end());
  if (!timed(
          report,
          [handle](Hid& hid, std::vector<std::uint8_t>& mine) {
            return hid.getFeature(handle, mine);
          })) {
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
  return run(std::move(job));
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
          firstReportWait)) {
    return false;
  }
  readStamp_ = reading.stamp;
  bytesRead = std::min(reading.count, buffer.size());
  std::copy_n(reading.bytes.begin(), bytesRead, buffer.begin());
  return true;
}

}  // namespace qvr::platform
