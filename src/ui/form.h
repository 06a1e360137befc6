#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qvr::ui {

using ControlId = std::size_t;
inline constexpr ControlId kNoControl = static_cast<ControlId>(-1);

enum class ControlKind {
  Label,
  Image,
  CheckBox,
  ComboBox,
  TextBox,
  Button,
  PictureBox,
  Shape,
  Line,
  Timer
};

struct Rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

struct Font {
  std::string name;
  double points = 0;
  friend bool operator==(const Font&, const Font&) = default;
};

enum class BorderStyle { None = 0, FixedSingle = 1 };

// One control of the window. Geometry is in twips; members of the signal graph are placed
// relative to their parent picture box. A line keeps its ends as (left, top) to
// (left + width, top + height).
struct Control {
  std::string name;
  int arrayIndex = -1;  // member index for control arrays, -1 for plain controls
  ControlKind kind = ControlKind::Label;
  ControlId parent = kNoControl;
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  std::string text;  // a caption or a text box's text
  std::string tooltip;
  Font font;
  Rgb foreColor;
  Rgb backColor;
  bool backOpaque = false;  // labels: a transparent back lets the window's colour show
  Rgb borderColor;          // shapes and lines
  BorderStyle border = BorderStyle::None;
  bool enabled = true;
  bool visible = true;
  int value = 0;  // check boxes: 0 clear, 1 ticked
  std::vector<std::string> items;
  int listIndex = -1;
  int selStart = 0;    // text boxes: caret position
  int interval = 0;    // timer, milliseconds
  int stackOrder = 0;  // higher is in front of its siblings
  friend bool operator==(const Control&, const Control&) = default;
};

enum class Property {
  Enabled,
  Visible,
  Text,
  Value,
  Items,
  ListIndex,
  BackColor,
  Border,
  Geometry,
  BorderColor,
  Caret,
  Interval,
  StackOrder,
  Focus,
};

// Front ends implement this to mirror the model onto native widgets.
class FormObserver {
 public:
  virtual ~FormObserver() = default;
  virtual void controlChanged(ControlId id, Property property) = 0;
  // The window load asks for the window to appear (before it connects to the device).
  virtual void windowShown() = 0;
};

// The property a user's input changes on a control of this kind: check boxes their value,
// lists their selection, text boxes their text; nothing for kinds whose input changes nothing.
[[nodiscard]] std::optional<Property> inputProperty(ControlKind kind);

// The user's input, as a front end forwards it: to the form itself, or to a form whose handlers
// run on another thread (ControllerThread).
class FormInput {
 public:
  virtual ~FormInput() = default;
  // Aimed at a disabled or hidden control, these change nothing, as in the window; the observer
  // is told the control's input property all the same, so a widget that changed itself under
  // the user's hands shows the model's state again.
  virtual void userClick(ControlId id) = 0;
  virtual void userChoose(ControlId id, int index) = 0;
  virtual void userType(ControlId id, const std::string& text) = 0;
  virtual void userKey(ControlId id, int keyCode) = 0;
};

// The toolkit-free window: every control's state, and the event rule. Setting a check box's
// value or a list's selection runs that control's handler synchronously, once per actual
// change and never for a set that changes nothing; a user's click goes through the same path.
// Emptying a list runs nothing.
class Form final : public FormInput {
 public:
  using Handler = std::function<void()>;
  using KeyHandler = std::function<void(int& keyCode)>;

  explicit Form(std::vector<Control> controls);

  [[nodiscard]] const Control& operator[](ControlId id) const { return controls_.at(id); }
  [[nodiscard]] std::size_t size() const { return controls_.size(); }
  // kNoControl when there is none: names plain controls as "Status" and array members as
  // "Sat(3)".
  [[nodiscard]] ControlId find(const std::string& name) const;
  [[nodiscard]] std::string nameOf(ControlId id) const;

  void setObserver(FormObserver* observer) { observer_ = observer; }
  void setHandler(ControlId id, Handler handler);
  void setKeyHandler(ControlId id, KeyHandler handler);

  void setEnabled(ControlId id, bool enabled);
  void setVisible(ControlId id, bool visible);
  void setText(ControlId id, const std::string& text);
  void setValue(ControlId id, int value);
  void setListIndex(ControlId id, int index);
  void clearItems(ControlId id);
  void addItem(ControlId id, const std::string& item);
  void setBackColor(ControlId id, Rgb color, bool opaque = true);
  void setBorder(ControlId id, BorderStyle border);
  void setBorderColor(ControlId id, Rgb color);
  void setLeft(ControlId id, int left);
  void setTop(ControlId id, int top);
  void setWidth(ControlId id, int width);
  void setHeight(ControlId id, int height);
  void setSelStart(ControlId id, int position);  // clamped to the text's length
  void setInterval(ControlId id, int milliseconds);
  void bringToFront(ControlId id);
  void setFocus(ControlId id);
  void showWindow();
  [[nodiscard]] ControlId focus() const { return focus_; }

  // Runs the control's handler as a procedure, as a handler calling another one does.
  void run(ControlId id);

  void userClick(ControlId id) override;
  void userChoose(ControlId id, int index) override;
  void userType(ControlId id, const std::string& text) override;
  void userKey(ControlId id, int keyCode) override;
  [[nodiscard]] bool acceptsInput(ControlId id) const;

  // Makes a control hold `state`, as another form's control changed in `property`, and tells
  // the observer; no handler runs. For a copy of a form that shows what the original holds.
  void assign(ControlId id, const Control& state, Property property);
  // ... without telling the observer, for a change the front end already shows.
  void assign(ControlId id, const Control& state) { at(id) = state; }
  // Every control's state, for such a copy to start from.
  [[nodiscard]] std::vector<Control> controls() const { return controls_; }

 private:
  Control& at(ControlId id) { return controls_.at(id); }
  void changed(ControlId id, Property property);
  // False, with the observer told, when the control takes no input now.
  bool takesInput(ControlId id);
  void setGeometry(ControlId id, int Control::*field, int value);

  std::vector<Control> controls_;
  std::vector<Handler> handlers_;
  std::vector<KeyHandler> keyHandlers_;
  FormObserver* observer_ = nullptr;
  ControlId focus_ = kNoControl;
  int frontMost_ = 0;
};

}  // namespace qvr::ui
