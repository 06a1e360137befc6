#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/hid.h"
#include "platform/system.h"
#include "ui/form.h"
#include "ui/main_window.h"

namespace qvr::ui {

// Runs the window's controller on a thread of its own, so that the window's thread never waits
// on a device: a device may take seconds to answer a start-up, and the window must keep
// painting, moving and closing meanwhile.
//
// The window's thread holds a copy of the controller's form and mirrors that; the user's input
// and the timer's ticks go to the controller as jobs, run one after another in the order they
// came, so the device gets its reports in the order the user asked for them. Every change the
// controller makes to its form comes back as an event: `wake` is called (from the controller's
// thread) when changes are waiting, and the window's thread answers it by calling deliver(), soon
// and from its own event loop.
//
// A control the user has just changed shows the user's change until the controller has taken
// it; then it shows what the controller holds, which is what the device holds, or the old state
// when the input was refused. Message boxes and web pages are opened on the window's thread; the
// controller waits for a message box to be closed, the window never does.
class ControllerThread final : public FormInput, private FormObserver {
 public:
  using Wake = std::function<void()>;

  // Starts the thread. `hid` and `system` must outlive this object; `system`'s message boxes and
  // addresses are used from the window's thread only, its other calls from the controller's.
  ControllerThread(platform::Hid& hid, platform::System& system, Wake wake);
  // Runs what is still queued (the unload among it) and ends the thread. Message boxes asked for
  // from now on are not shown.
  ~ControllerThread() override;
  ControllerThread(const ControllerThread&) = delete;
  ControllerThread& operator=(const ControllerThread&) = delete;
  ControllerThread(ControllerThread&&) = delete;
  ControllerThread& operator=(ControllerThread&&) = delete;

  // The window thread's copy of the controller's form; never touch the controller's own.
  [[nodiscard]] Form& form() { return replica_; }

  // All of these return at once.
  void load();
  void tick();  // a tick already waiting to run takes this one's place
  void unload();
  void userClick(ControlId id) override;
  void userChoose(ControlId id, int index) override;
  void userType(ControlId id, const std::string& text) override;
  void userKey(ControlId id, int keyCode) override;

  // Shows on the copy what the controller changed since the last call, and runs the calls it
  // handed to the window's thread.
  void deliver();
  // Waits until the controller has run every job queued so far, then delivers. For a picture of
  // the window after a given number of ticks, and for tests; never for a window in use.
  void drain();

 private:
  class ControllerSystem;
  // One thing for the window's thread to do, in the order the controller did them.
  struct Event {
    enum class Kind { Changed, Shown, InputTaken, Call } kind = Kind::Changed;
    ControlId id = kNoControl;
    Property property = Property::Enabled;
    Control state;  // Changed: the control as it was right after the change
    std::function<void()> call;
    std::shared_ptr<std::promise<void>> called;  // Call: set once it ran, or never will
  };

  void post(std::function<void()> job);
  // A job for the user's input on control `id`; its echo is held back until it has run.
  void postInput(ControlId id, std::function<void(Form&)> input);
  void run();
  void push(Event event);
  // Runs `call` on the window's thread; with `wait`, returns once it has run there (or the
  // window is closing and it never will).
  void callOnWindowThread(std::function<void()> call, bool wait);

  // FormObserver, on the controller's thread.
  void controlChanged(ControlId id, Property property) override;
  void windowShown() override;

  std::unique_ptr<ControllerSystem> system_;
  MainWindow controller_;  // used on the controller's thread only, once it has started
  Form replica_;
  Wake wake_;

  std::mutex jobsLock_;
  std::condition_variable jobsChanged_;
  std::deque<std::function<void()>> jobs_;
  bool running_ = false;  // a job is being run
  bool stopping_ = false;
  std::atomic<bool> tickQueued_{false};

  std::mutex eventsLock_;
  std::deque<Event> events_;
  bool closing_ = false;  // nothing more is shown, and no more calls run on the window's thread

  // On the window's thread: inputs per control not yet taken by the controller.
  std::map<ControlId, int> inputsInFlight_;

  std::thread thread_;  // last, so that it starts when everything it uses is ready
};

}  // namespace qvr::ui
