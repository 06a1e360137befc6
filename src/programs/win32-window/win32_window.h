#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "programs/win32-window/window_picture.h"
#include "ui/form.h"

namespace qvr::platform::win32 {

// The main window as native Win32 controls: one child window per control of the form, mirrored
// from the form model and forwarding the user's input to it. It decides nothing by itself; what
// a click or a keystroke does is the model's business, and every control shows what the model
// holds. Labels, shapes and lines inside a picture box are drawn by the box itself, in their
// stacking order, rather than being windows of their own.
//
// Windows types stay out of this header: window handles are void*, which HWND is underneath.
class Win32Window final : public ui::FormObserver {
 public:
  struct Hooks {
    std::function<void()> tick;    // every timeout of a timer control
    std::function<void()> unload;  // once, when the window is asked to close
    std::function<void()> closed;  // after the window is gone
    // On the window's thread, after requestDelivery() was called from any thread.
    std::function<void()> deliver;
  };
  struct Options {
    int dpi = 0;            // 0: the screen's
    bool headless = false;  // never shown; drawn only into pictures
  };

  // Shows `form` and sends the user's input to `input`.
  Win32Window(ui::Form& form, ui::FormInput& input, Hooks hooks, Options options);
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  [[nodiscard]] void* handle() const { return window_; }
  // From any thread: asks the window with this handle to run its deliver hook on its own
  // thread. A window that is gone ignores it.
  static void requestDelivery(void* window);
  // The native control; nullptr for a timer and for what a picture box draws itself.
  [[nodiscard]] void* control(ui::ControlId id) const { return controls_.at(id); }
  [[nodiscard]] void* tooltips() const { return tooltips_; }
  [[nodiscard]] int dpi() const { return dpi_; }

  // The client area with every control in it, painted into a bitmap as it would be on screen.
  [[nodiscard]] Picture capture() const;

  void controlChanged(ui::ControlId id, ui::Property property) override;
  void windowShown() override;

 private:
  friend struct WindowProcedures;

  void createWindow();
  void createControl(ui::ControlId id);
  void arrangeStacking();
  void addTooltip(ui::ControlId id);
  void mirror(ui::ControlId id, ui::Property property);
  void applyEnabled(ui::ControlId id);
  void applyVisible(ui::ControlId id);
  void applyText(ui::ControlId id);
  void applyValue(ui::ControlId id);
  void applyItems(ui::ControlId id);
  void applyListIndex(ui::ControlId id);
  void applyBorder(ui::ControlId id);
  void applyGeometry(ui::ControlId id);
  void applyCaret(ui::ControlId id);
  void applyTimer(ui::ControlId id);
  void applyFocus(ui::ControlId id);
  void redrawMember(ui::ControlId id);

  // Input from the native controls.
  void onCommand(ui::ControlId id, unsigned notification);
  void onTyped(ui::ControlId id);
  void onClose();

  [[nodiscard]] bool drawnByParent(ui::ControlId id) const;
  [[nodiscard]] ui::ControlId idOfChild(void* child) const;
  [[nodiscard]] void* fontFor(const ui::Font& font);
  [[nodiscard]] void* brushFor(ui::Rgb colour);
  [[nodiscard]] int pixels(int twips) const;

  ui::Form& form_;
  ui::FormInput& input_;
  Hooks hooks_;
  Options options_;
  int dpi_ = 0;
  void* window_ = nullptr;
  void* tooltips_ = nullptr;
  std::vector<void*> controls_;
  std::map<std::pair<std::string, double>, void*> fonts_;
  std::map<std::uint32_t, void*> brushes_;
  std::map<ui::ControlId, bool> timersRunning_;
  void* focused_ = nullptr;  // the control with the focus, given back when the window is active
  ui::ControlId typingInto_ = ui::kNoControl;
  int mirroring_ = 0;  // native notifications raised while this is non-zero are not input
  bool unloaded_ = false;
};

}  // namespace qvr::platform::win32
