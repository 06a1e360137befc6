#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <vector>

#include "ui/form.h"

class QTimer;

namespace qvr::platform::qt {

// The main window as native Qt widgets: one widget per control of the form, mirrored from the
// form model and forwarding the user's input to it. It decides nothing by itself; what a click
// or a keystroke does is the model's business, and every widget shows what the model holds.
class QtWindow final : public QWidget, public ui::FormObserver {
  Q_OBJECT

 public:
  struct Hooks {
    std::function<void()> tick;    // every timeout of a timer control
    std::function<void()> unload;  // once, when the window closes
  };

  // Shows `form` and sends the user's input to `input`.
  QtWindow(ui::Form& form, ui::FormInput& input, Hooks hooks, QWidget* parent = nullptr);
  ~QtWindow() override;

  // The native widget of a control; nullptr for a timer.
  [[nodiscard]] QWidget* widget(ui::ControlId id) const { return widgets_.at(id); }
  // The native timer of a timer control, nullptr for any other control.
  [[nodiscard]] QTimer* timer(ui::ControlId id) const;

  void controlChanged(ui::ControlId id, ui::Property property) override;
  void windowShown() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void createNative(ui::ControlId id);
  void connectInput(ui::ControlId id);
  void mirrorAll(ui::ControlId id);
  void mirror(ui::ControlId id, ui::Property property);

  void applyEnabled(ui::ControlId id);
  void applyVisible(ui::ControlId id);
  void applyText(ui::ControlId id);
  void applyValue(ui::ControlId id);
  void applyItems(ui::ControlId id);
  void applyListIndex(ui::ControlId id);
  void applyColours(ui::ControlId id);
  void applyBorder(ui::ControlId id);
  void applyGeometry(ui::ControlId id);
  void applyCaret(ui::ControlId id);
  void applyTimer(ui::ControlId id);
  void applyFocus(ui::ControlId id);

  void onTyped(ui::ControlId id, const QString& text);
  void onTimeout();

  // The widget that a control's children are placed in: the inside of a picture box's border,
  // or the window itself.
  [[nodiscard]] QWidget* hostFor(ui::ControlId parent);

  ui::Form& form_;
  ui::FormInput& input_;
  Hooks hooks_;
  std::vector<QWidget*> widgets_;
  std::map<ui::ControlId, QWidget*> clients_;  // picture boxes: the area inside the border
  std::map<ui::ControlId, QTimer*> timers_;
  ui::ControlId typingInto_ = ui::kNoControl;
  bool unloaded_ = false;
};

}  // namespace qvr::platform::qt
