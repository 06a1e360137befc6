#include "ui/form.h"

#include <algorithm>
#include <utility>

namespace qvr::ui {

std::optional<Property> inputProperty(ControlKind kind) {
  switch (kind) {
    case ControlKind::CheckBox:
      return Property::Value;
    case ControlKind::ComboBox:
      return Property::ListIndex;
    case ControlKind::TextBox:
      return Property::Text;
    default:
      return std::nullopt;
  }
}

Form::Form(std::vector<Control> controls)
    : controls_(std::move(controls)), handlers_(controls_.size()), keyHandlers_(controls_.size()) {}

ControlId Form::find(const std::string& name) const {
  for (ControlId id = 0; id < controls_.size(); ++id) {
    if (nameOf(id) == name) {
      return id;
    }
  }
  return kNoControl;
}

std::string Form::nameOf(ControlId id) const {
  const Control& c = controls_.at(id);
  if (c.arrayIndex < 0) {
    return c.name;
  }
  return c.name + "(" + std::to_string(c.arrayIndex) + ")";
}

void Form::setHandler(ControlId id, Handler handler) {
  handlers_.at(id) = std::move(handler);
}

void Form::setKeyHandler(ControlId id, KeyHandler handler) {
  keyHandlers_.at(id) = std::move(handler);
}

void Form::changed(ControlId id, Property property) {
  if (observer_ != nullptr) {
    observer_->controlChanged(id, property);
  }
}

void Form::setEnabled(ControlId id, bool enabled) {
  if (at(id).enabled != enabled) {
    at(id).enabled = enabled;
    changed(id, Property::Enabled);
  }
}

void Form::setVisible(ControlId id, bool visible) {
  if (at(id).visible != visible) {
    at(id).visible = visible;
    changed(id, Property::Visible);
  }
}

void Form::setText(ControlId id, const std::string& text) {
  Control& c = at(id);
  if (c.text != text) {
    c.text = text;
    c.selStart = std::min(c.selStart, static_cast<int>(text.size()));
    changed(id, Property::Text);
  }
}

void Form::setValue(ControlId id, int value) {
  if (at(id).value == value) {
    return;
  }
  at(id).value = value;
  changed(id, Property::Value);
  run(id);
}

void Form::setListIndex(ControlId id, int index) {
  Control& c = at(id);
  const int count = static_cast<int>(c.items.size());
  if (index < -1 || index >= count || c.listIndex == index) {
    return;
  }
  c.listIndex = index;
  c.text = index < 0 ? std::string() : c.items[static_cast<std::size_t>(index)];
  changed(id, Property::ListIndex);
  run(id);
}

void Form::clearItems(ControlId id) {
  Control& c = at(id);
  if (c.items.empty() && c.listIndex == -1 && c.text.empty()) {
    return;
  }
  c.items.clear();
  c.listIndex = -1;
  c.text.clear();
  changed(id, Property::Items);
}

void Form::addItem(ControlId id, const std::string& item) {
  at(id).items.push_back(item);
  changed(id, Property::Items);
}

void Form::setBackColor(ControlId id, Rgb color, bool opaque) {
  Control& c = at(id);
  if (c.backColor != color || c.backOpaque != opaque) {
    c.backColor = color;
    c.backOpaque = opaque;
    changed(id, Property::BackColor);
  }
}

void Form::setBorder(ControlId id, BorderStyle border) {
  if (at(id).border != border) {
    at(id).border = border;
    changed(id, Property::Border);
  }
}

void Form::setBorderColor(ControlId id, Rgb color) {
  if (at(id).borderColor != color) {
    at(id).borderColor = color;
    changed(id, Property::BorderColor);
  }
}

void Form::setGeometry(ControlId id, int Control::*field, int value) {
  if (at(id).*field != value) {
    at(id).*field = value;
    changed(id, Property::Geometry);
  }
}

void Form::setLeft(ControlId id, int left) {
  setGeometry(id, &Control::left, left);
}
void Form::setTop(ControlId id, int top) {
  setGeometry(id, &Control::top, top);
}
void Form::setWidth(ControlId id, int width) {
  setGeometry(id, &Control::width, width);
}
void Form::setHeight(ControlId id, int height) {
  setGeometry(id, &Control::height, height);
}

void Form::setSelStart(ControlId id, int position) {
  Control& c = at(id);
  const int clamped = std::clamp(position, 0, static_cast<int>(c.text.size()));
  if (c.selStart != clamped) {
    c.selStart = clamped;
    changed(id, Property::Caret);
  }
}

void Form::setInterval(ControlId id, int milliseconds) {
  if (at(id).interval != milliseconds) {
    at(id).interval = milliseconds;
    changed(id, Property::Interval);
  }
}

void Form::bringToFront(ControlId id) {
  at(id).stackOrder = ++frontMost_;
  changed(id, Property::StackOrder);
}

void Form::setFocus(ControlId id) {
  // Always passed on, like SetFocus: the user may have moved the focus since, unseen here.
  focus_ = id;
  changed(id, Property::Focus);
}

void Form::showWindow() {
  if (observer_ != nullptr) {
    observer_->windowShown();
  }
}

void Form::assign(ControlId id, const Control& state, Property property) {
  at(id) = state;
  if (property == Property::Focus) {
    focus_ = id;
  }
  changed(id, property);
}

void Form::run(ControlId id) {
  // Copied so that a handler that replaces handlers cannot pull the running one from under us.
  const Handler handler = handlers_.at(id);
  if (handler) {
    handler();
  }
}

bool Form::acceptsInput(ControlId id) const {
  for (ControlId c = id; c != kNoControl; c = controls_.at(c).parent) {
    if (!controls_.at(c).enabled || !controls_.at(c).visible) {
      return false;
    }
  }
  return true;
}

bool Form::takesInput(ControlId id) {
  if (acceptsInput(id)) {
    return true;
  }
  if (const auto property = inputProperty(at(id).kind)) {
    changed(id, *property);
  }
  return false;
}

void Form::userClick(ControlId id) {
  if (!takesInput(id)) {
    return;
  }
  switch (at(id).kind) {
    case ControlKind::CheckBox:
      setValue(id, at(id).value == 1 ? 0 : 1);
      break;
    case ControlKind::Label:
    case ControlKind::Image:
    case ControlKind::Button:
    case ControlKind::PictureBox:
      run(id);
      break;
    default:
      break;
  }
}

void Form::userChoose(ControlId id, int index) {
  if (takesInput(id) && at(id).kind == ControlKind::ComboBox) {
    setListIndex(id, index);
  }
}

void Form::userType(ControlId id, const std::string& text) {
  if (takesInput(id) && at(id).kind == ControlKind::TextBox) {
    setText(id, text);
    setSelStart(id, static_cast<int>(text.size()));
  }
}

void Form::userKey(ControlId id, int keyCode) {
  if (!takesInput(id)) {
    return;
  }
  const KeyHandler handler = keyHandlers_.at(id);
  if (handler) {
    handler(keyCode);
  }
}

}  // namespace qvr::ui
