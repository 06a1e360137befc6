#include "ui/controller_thread.h"

#include <utility>

namespace qvr::ui {

// The controller's system services: its own calls go straight to the window's System, except
// what only the window's thread may do. Pending window events need no running from here: the
// window's thread runs its own, and the user's input waits its turn in the job queue.
class ControllerThread::ControllerSystem final : public platform::System {
 public:
  ControllerSystem(ControllerThread& owner, platform::System& base) : owner_(owner), base_(base) {}

  void sleep(std::chrono::milliseconds duration) override { base_.sleep(duration); }
  [[nodiscard]] std::chrono::milliseconds now() const override { return base_.now(); }
  bool setSystemTime(const platform::UtcTime& time) override { return base_.setSystemTime(time); }
  [[nodiscard]] std::string clockRefusal() const override { return base_.clockRefusal(); }
  void openAddress(const std::string& address) override {
    owner_.callOnWindowThread([&base = base_, address] { base.openAddress(address); }, false);
  }
  [[nodiscard]] std::string operatingSystemVersion() override {
    return base_.operatingSystemVersion();
  }
  void messageBox(const std::string& title, const std::string& text) override {
    owner_.callOnWindowThread([&base = base_, title, text] { base.messageBox(title, text); }, true);
  }
  void doEvents() override {}
  [[nodiscard]] char decimalSeparator() override { return base_.decimalSeparator(); }

 private:
  ControllerThread& owner_;
  platform::System& base_;
};

ControllerThread::ControllerThread(platform::Hid& hid, platform::System& system, Wake wake)
    : system_(std::make_unique<ControllerSystem>(*this, system)),
      controller_(hid, *system_),
      replica_(controller_.form().controls()),
      wake_(std::move(wake)) {
  controller_.form().setObserver(this);
  thread_ = std::thread([this] { run(); });
}

ControllerThread::~ControllerThread() {
  {
    const std::lock_guard lock(eventsLock_);
    closing_ = true;
    // A controller waiting for a message box the window will never show goes on.
    for (Event& event : events_) {
      if (event.called) {
        event.called->set_value();
      }
    }
    events_.clear();
  }
  {
    const std::lock_guard lock(jobsLock_);
    stopping_ = true;
  }
  jobsChanged_.notify_all();
  thread_.join();
}

void ControllerThread::post(std::function<void()> job) {
  {
    const std::lock_guard lock(jobsLock_);
    jobs_.push_back(std::move(job));
  }
  jobsChanged_.notify_all();
}

void ControllerThread::run() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock lock(jobsLock_);
      jobsChanged_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      // What was queued before the stop still runs: the unload closes the device.
      if (jobs_.empty()) {
        return;
      }
      job = std::move(jobs_.front());
      jobs_.pop_front();
      running_ = true;
    }
    job();
    {
      const std::lock_guard lock(jobsLock_);
      running_ = false;
    }
    jobsChanged_.notify_all();
  }
}

void ControllerThread::load() {
  post([this] { controller_.load(); });
}

void ControllerThread::tick() {
  // Ticks that pile up behind a slow device would only read it again and again when it is free.
  if (!tickQueued_.exchange(true)) {
    post([this] {
      tickQueued_ = false;
      controller_.tick();
    });
  }
}

void ControllerThread::unload() {
  post([this] { controller_.unload(); });
}

void ControllerThread::postInput(ControlId id, std::function<void(Form&)> input) {
  ++inputsInFlight_[id];
  post([this, id, input = std::move(input)] {
    input(controller_.form());
    push({.kind = Event::Kind::InputTaken, .id = id});
  });
}

void ControllerThread::userClick(ControlId id) {
  postInput(id, [id](Form& form) { form.userClick(id); });
}

void ControllerThread::userChoose(ControlId id, int index) {
  postInput(id, [id, index](Form& form) { form.userChoose(id, index); });
}

void ControllerThread::userType(ControlId id, const std::string& text) {
  postInput(id, [id, text](Form& form) { form.userType(id, text); });
}

void ControllerThread::userKey(ControlId id, int keyCode) {
  postInput(id, [id, keyCode](Form& form) { form.userKey(id, keyCode); });
}

void ControllerThread::push(Event event) {
  bool first = false;
  {
    const std::lock_guard lock(eventsLock_);
    if (closing_) {
      if (event.called) {
        event.called->set_value();
      }
      return;
    }
    first = events_.empty();
    events_.push_back(std::move(event));
  }
  if (first && wake_) {
    wake_();
  }
}

void ControllerThread::controlChanged(ControlId id, Property property) {
  push({.kind = Event::Kind::Changed,
        .id = id,
        .property = property,
        .state = controller_.form()[id]});
}

void ControllerThread::windowShown() {
  push({.kind = Event::Kind::Shown});
}

void ControllerThread::callOnWindowThread(std::function<void()> call, bool wait) {
  auto called = wait ? std::make_shared<std::promise<void>>() : nullptr;
  std::future<void> done = called ? called->get_future() : std::future<void>();
  push({.kind = Event::Kind::Call, .call = std::move(call), .called = called});
  if (wait) {
    done.wait();
  }
}

namespace {

// While the user's input is on its way, the widget already shows it: an older echo of the same
// property would make it jump back under the user's fingers.
bool heldBackWhileInFlight(ControlKind kind, Property property) {
  return property == inputProperty(kind) ||
         (kind == ControlKind::TextBox && property == Property::Caret);
}

}  // namespace

void ControllerThread::deliver() {
  // Only what is there now: a controller that keeps changing things must not keep the window's
  // thread here; the rest comes with the next wake.
  std::size_t count = 0;
  {
    const std::lock_guard lock(eventsLock_);
    count = events_.size();
  }
  for (std::size_t i = 0; i < count; ++i) {
    Event event;
    {
      // One at a time, so a message box's own event loop that delivers again keeps the order.
      const std::lock_guard lock(eventsLock_);
      if (events_.empty()) {
        return;
      }
      event = std::move(events_.front());
      events_.pop_front();
    }
    switch (event.kind) {
      case Event::Kind::Changed:
        if (inputsInFlight_.contains(event.id) &&
            heldBackWhileInFlight(event.state.kind, event.property)) {
          replica_.assign(event.id, event.state);
        } else {
          replica_.assign(event.id, event.state, event.property);
        }
        break;
      case Event::Kind::Shown:
        replica_.showWindow();
        break;
      case Event::Kind::InputTaken:
        if (--inputsInFlight_[event.id] == 0) {
          inputsInFlight_.erase(event.id);
          // Whatever the controller made of it, accepted or refused, shows now.
          const Control state = replica_[event.id];
          if (const auto property = inputProperty(state.kind)) {
            replica_.assign(event.id, state, *property);
          }
        }
        break;
      case Event::Kind::Call:
        event.call();
        if (event.called) {
          event.called->set_value();
        }
        break;
    }
  }
  bool more = false;
  {
    const std::lock_guard lock(eventsLock_);
    more = !events_.empty();
  }
  if (more && wake_) {
    wake_();
  }
}

void ControllerThread::drain() {
  // Delivering meanwhile, since the controller may be waiting for a message box.
  for (;;) {
    deliver();
    std::unique_lock lock(jobsLock_);
    if (jobsChanged_.wait_for(lock, std::chrono::milliseconds(5),
                              [this] { return jobs_.empty() && !running_; })) {
      break;
    }
  }
  deliver();
}

}  // namespace qvr::ui
