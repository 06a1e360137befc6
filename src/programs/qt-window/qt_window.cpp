#include "programs/qt-window/qt_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "platform/qt/text.h"
#include "programs/qt-window/logo.h"
#include "ui/controls.h"

namespace qvr::platform::qt {
namespace {

using ui::Control;
using ui::ControlId;
using ui::ControlKind;
using ui::Property;

constexpr int kEnterKey = 13;

// Twips to pixels, to the nearest pixel. Edges are converted rather than sizes, so that
// controls laid edge to edge in twips stay edge to edge on screen.
constexpr int px(int twips) {
  constexpr int half = ui::kTwipsPerPixel / 2;
  return twips >= 0 ? (twips + half) / ui::kTwipsPerPixel : -((-twips + half) / ui::kTwipsPerPixel);
}

QRect pixelRect(const Control& c) {
  const int x = px(c.left);
  const int y = px(c.top);
  return {x, y, std::max(0, px(c.left + c.width) - x), std::max(0, px(c.top + c.height) - y)};
}

QColor toQColor(ui::Rgb rgb) {
  return {rgb.r, rgb.g, rgb.b};
}

// The window's fonts are not on a Linux desktop; Liberation Sans has the same metrics as the
// first, so captions take the room they were laid out for. The second is a tiny bitmap font
// for the graph's scale; a small sans at the same point size reads as well.
void installFontSubstitutions() {
  static const bool installed = [] {
    QFont::insertSubstitution(QStringLiteral("Microsoft Sans Serif"),
                              QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Small Fonts"), QStringLiteral("Liberation Sans"));
    return true;
  }();
  (void)installed;
}

QFont toQFont(const ui::Font& font) {
  QFont native(toQt(font.name));
  if (font.points > 0) {
    native.setPointSizeF(font.points);
  }
  return native;
}

// A label or image that reports a completed left click (press and release on it), as the
// click of a window's label is raised.
class ClickLabel final : public QLabel {
 public:
  using QLabel::QLabel;
  std::function<void()> onClick;

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    event->setAccepted(event->button() == Qt::LeftButton);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        onClick) {
      onClick();
    }
  }
};

// The graph box: a framed area whose members live in `client`, the part inside the border,
// so that their coordinates start inside the border and they are clipped by it.
class PictureFrame final : public QFrame {
 public:
  explicit PictureFrame(QWidget* parent) : QFrame(parent), client(new QWidget(this)) {}
  QWidget* client;
  std::function<void()> onClick;

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    event->setAccepted(event->button() == Qt::LeftButton);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        onClick) {
      onClick();
    }
  }
  void resizeEvent(QResizeEvent* event) override {
    QFrame::resizeEvent(event);
    client->setGeometry(contentsRect());
  }
};

// A filled rectangle with a one-pixel border; a zero height shows nothing.
class ShapeWidget final : public QWidget {
 public:
  explicit ShapeWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
  }
  void setColours(QColor fill, QColor border) {
    fill_ = fill;
    border_ = border;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (width() <= 0 || height() <= 0) {
      return;
    }
    QPainter painter(this);
    painter.fillRect(rect(), fill_);
    painter.setPen(border_);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
  }

 private:
  QColor fill_;
  QColor border_;
};

// A one-pixel line. The widget covers the line's bounding box; the ends are kept relative to it.
class LineWidget final : public QWidget {
 public:
  explicit LineWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
  }
  void setEnds(QPoint from, QPoint to) {
    const QRect box = QRect(from, to).normalized();
    from_ = from - box.topLeft();
    to_ = to - box.topLeft();
    setGeometry(box);
    update();
  }
  void setColour(QColor colour) {
    colour_ = colour;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setPen(QPen(colour_, 0));
    painter.drawLine(from_, to_);
  }

 private:
  QPoint from_;
  QPoint to_;
  QColor colour_;
};

// Text colour for a label or check box. A control disabled by the model greys out as the style
// does it; one that is only inside a disabled container keeps its colour, because the model
// says it is enabled.
void setTextColour(QWidget* widget, QPalette::ColorRole role, const Control& c) {
  QPalette palette = widget->palette();
  const QColor fore = toQColor(c.foreColor);
  palette.setColor(QPalette::Active, role, fore);
  palette.setColor(QPalette::Inactive, role, fore);
  palette.setColor(
      QPalette::Disabled, role,
      c.enabled ? fore : QApplication::palette(widget).color(QPalette::Disabled, role));
  widget->setPalette(palette);
}

void setBackground(QWidget* widget, const Control& c) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, toQColor(c.backColor));
  widget->setPalette(palette);
  widget->setAutoFillBackground(c.backOpaque);
}

}  // namespace

QtWindow::QtWindow(ui::Form& form, ui::FormInput& input, Hooks hooks, QWidget* parent)
    : QWidget(parent),
      form_(form),
      input_(input),
      hooks_(std::move(hooks)),
      widgets_(form.size(), nullptr) {
  installFontSubstitutions();
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(QString::fromLatin1(ui::kWindowCaption));
  setFixedSize(px(ui::kClientWidth), px(ui::kClientHeight));

  // Window-level controls first, so that every graph member finds its picture box.
  for (ControlId id = 0; id < form_.size(); ++id) {
    if (form_[id].parent == ui::kNoControl) {
      createNative(id);
    }
  }
  for (ControlId id = 0; id < form_.size(); ++id) {
    if (form_[id].parent != ui::kNoControl) {
      createNative(id);
    }
  }
  for (ControlId id = 0; id < form_.size(); ++id) {
    mirrorAll(id);
    connectInput(id);
  }

  // Siblings of equal order stay in creation order (later in front); raising the others in
  // ascending order puts the highest in front.
  std::vector<ControlId> raised;
  for (ControlId id = 0; id < form_.size(); ++id) {
    if (widgets_[id] != nullptr && form_[id].stackOrder > 0) {
      raised.push_back(id);
    }
  }
  std::stable_sort(raised.begin(), raised.end(), [this](ControlId a, ControlId b) {
    return form_[a].stackOrder < form_[b].stackOrder;
  });
  for (const ControlId id : raised) {
    widgets_[id]->raise();
  }

  form_.setObserver(this);
}

QtWindow::~QtWindow() {
  form_.setObserver(nullptr);
}

QTimer* QtWindow::timer(ControlId id) const {
  const auto it = timers_.find(id);
  return it == timers_.end() ? nullptr : it->second;
}

QWidget* QtWindow::hostFor(ControlId parent) {
  if (parent == ui::kNoControl) {
    return this;
  }
  const auto it = clients_.find(parent);
  return it != clients_.end() ? it->second : widgets_.at(parent);
}

void QtWindow::createNative(ControlId id) {
  const Control& c = form_[id];
  if (c.kind == ControlKind::Timer) {
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this] { onTimeout(); });
    timers_[id] = timer;
    return;
  }

  QWidget* host = hostFor(c.parent);
  QWidget* widget = nullptr;
  switch (c.kind) {
    case ControlKind::Label:
    case ControlKind::Image: {
      auto* label = new ClickLabel(host);
      label->setTextFormat(Qt::PlainText);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      label->setIndent(0);
      label->setMargin(0);
      label->onClick = [this, id] { input_.userClick(id); };
      widget = label;
      break;
    }
    case ControlKind::CheckBox:
      widget = new QCheckBox(host);
      break;
    case ControlKind::ComboBox:
      widget = new QComboBox(host);
      break;
    case ControlKind::TextBox:
      widget = new QLineEdit(host);
      break;
    case ControlKind::Button: {
      auto* button = new QPushButton(host);
      button->setAutoDefault(false);
      widget = button;
      break;
    }
    case ControlKind::PictureBox: {
      auto* frame = new PictureFrame(host);
      frame->onClick = [this, id] { input_.userClick(id); };
      clients_[id] = frame->client;
      widget = frame;
      break;
    }
    case ControlKind::Shape:
      widget = new ShapeWidget(host);
      break;
    case ControlKind::Line:
      widget = new LineWidget(host);
      break;
    case ControlKind::Timer:
      break;
  }
  widget->setObjectName(toQt(form_.nameOf(id)));
  widget->setToolTip(toQt(c.tooltip));
  if (!c.font.name.empty()) {
    widget->setFont(toQFont(c.font));
  }
  widgets_[id] = widget;
}

void QtWindow::connectInput(ControlId id) {
  QWidget* widget = widgets_[id];
  switch (form_[id].kind) {
    case ControlKind::CheckBox:
      // The box has already toggled itself; the model decides the value and says so, refused
      // or not, whenever it has taken the click (at once, or from the controller's thread).
      connect(static_cast<QCheckBox*>(widget), &QCheckBox::clicked, this,
              [this, id] { input_.userClick(id); });
      break;
    case ControlKind::ComboBox:
      connect(static_cast<QComboBox*>(widget), &QComboBox::activated, this,
              [this, id](int index) { input_.userChoose(id, index); });
      break;
    case ControlKind::TextBox: {
      auto* edit = static_cast<QLineEdit*>(widget);
      connect(edit, &QLineEdit::textEdited, this,
              [this, id](const QString& text) { onTyped(id, text); });
      connect(edit, &QLineEdit::returnPressed, this, [this, id] { input_.userKey(id, kEnterKey); });
      break;
    }
    case ControlKind::Button:
      connect(static_cast<QPushButton*>(widget), &QPushButton::clicked, this,
              [this, id] { input_.userClick(id); });
      break;
    default:
      break;
  }
}

void QtWindow::onTyped(ControlId id, const QString& text) {
  // The model answers with the text and a caret at its end; the widget already shows the text,
  // and moving its cursor would make it jump under the user's fingers.
  typingInto_ = id;
  input_.userType(id, fromQt(text));
  typingInto_ = ui::kNoControl;
}

void QtWindow::onTimeout() {
  if (hooks_.tick) {
    hooks_.tick();
  }
}

void QtWindow::closeEvent(QCloseEvent* event) {
  if (!unloaded_) {
    unloaded_ = true;
    if (hooks_.unload) {
      hooks_.unload();
    }
  }
  QWidget::closeEvent(event);
}

void QtWindow::windowShown() {
  QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
  if (screen != nullptr) {
    move(screen->availableGeometry().center() - rect().center());
  }
  show();
  activateWindow();
}

void QtWindow::controlChanged(ControlId id, Property property) {
  mirror(id, property);
}

void QtWindow::mirrorAll(ControlId id) {
  for (const Property property :
       {Property::Geometry, Property::Border, Property::BackColor, Property::BorderColor,
        Property::Text, Property::Items, Property::Value, Property::Enabled, Property::Visible,
        Property::Interval}) {
    mirror(id, property);
  }
}

void QtWindow::mirror(ControlId id, Property property) {
  QWidget* widget = widgets_.at(id);
  // Mirroring is never input: no native signal may reach a handler from here.
  const QSignalBlocker blocker(widget);
  switch (property) {
    case Property::Enabled:
      applyEnabled(id);
      break;
    case Property::Visible:
      applyVisible(id);
      break;
    case Property::Text:
      applyText(id);
      break;
    case Property::Value:
      applyValue(id);
      break;
    case Property::Items:
      applyItems(id);
      break;
    case Property::ListIndex:
      applyListIndex(id);
      break;
    case Property::BackColor:
    case Property::BorderColor:
      applyColours(id);
      break;
    case Property::Border:
      applyBorder(id);
      break;
    case Property::Geometry:
      applyGeometry(id);
      break;
    case Property::Caret:
      applyCaret(id);
      break;
    case Property::Interval:
      applyTimer(id);
      break;
    case Property::StackOrder:
      if (widget != nullptr) {
        widget->raise();
      }
      break;
    case Property::Focus:
      applyFocus(id);
      break;
  }
}

void QtWindow::applyEnabled(ControlId id) {
  if (QWidget* widget = widgets_[id]) {
    widget->setEnabled(form_[id].enabled);
    applyColours(id);
  } else {
    applyTimer(id);
  }
}

void QtWindow::applyVisible(ControlId id) {
  if (QWidget* widget = widgets_[id]) {
    widget->setVisible(form_[id].visible);
  }
}

void QtWindow::applyText(ControlId id) {
  const Control& c = form_[id];
  const QString text = toQt(c.text);
  switch (c.kind) {
    case ControlKind::Label:
      static_cast<QLabel*>(widgets_[id])->setText(text);
      break;
    case ControlKind::CheckBox:
    case ControlKind::Button:
      static_cast<QAbstractButton*>(widgets_[id])->setText(text);
      break;
    case ControlKind::TextBox: {
      auto* edit = static_cast<QLineEdit*>(widgets_[id]);
      if (edit->text() != text) {
        const int cursor = typingInto_ == id ? edit->cursorPosition() : c.selStart;
        edit->setText(text);
        edit->setCursorPosition(std::min(cursor, static_cast<int>(text.size())));
      }
      break;
    }
    default:
      // A list's text follows its selection; the other kinds show no text.
      break;
  }
}

void QtWindow::applyValue(ControlId id) {
  const Control& c = form_[id];
  if (c.kind != ControlKind::CheckBox) {
    return;
  }
  auto* box = static_cast<QCheckBox*>(widgets_[id]);
  box->setCheckState(c.value == 1   ? Qt::Checked
                     : c.value == 2 ? Qt::PartiallyChecked
                                    : Qt::Unchecked);
}

void QtWindow::applyItems(ControlId id) {
  const Control& c = form_[id];
  if (c.kind != ControlKind::ComboBox) {
    return;
  }
  auto* combo = static_cast<QComboBox*>(widgets_[id]);
  combo->clear();
  for (const std::string& item : c.items) {
    combo->addItem(toQt(item));
  }
  combo->setCurrentIndex(c.listIndex);
}

void QtWindow::applyListIndex(ControlId id) {
  if (form_[id].kind == ControlKind::ComboBox) {
    static_cast<QComboBox*>(widgets_[id])->setCurrentIndex(form_[id].listIndex);
  }
}

void QtWindow::applyColours(ControlId id) {
  const Control& c = form_[id];
  QWidget* widget = widgets_[id];
  switch (c.kind) {
    case ControlKind::Label:
    case ControlKind::Image:
      setTextColour(widget, QPalette::WindowText, c);
      setBackground(widget, c);
      break;
    case ControlKind::CheckBox:
      setTextColour(widget, QPalette::WindowText, c);
      break;
    case ControlKind::TextBox: {
      QPalette palette = widget->palette();
      palette.setColor(QPalette::Base, toQColor(c.backColor));
      widget->setPalette(palette);
      setTextColour(widget, QPalette::Text, c);
      break;
    }
    case ControlKind::PictureBox: {
      setBackground(widget, c);
      // The frame's line is drawn in the foreground colour; it does not grey when disabled.
      QPalette palette = widget->palette();
      palette.setColor(QPalette::WindowText, toQColor(c.foreColor));
      widget->setPalette(palette);
      break;
    }
    case ControlKind::Shape:
      static_cast<ShapeWidget*>(widget)->setColours(toQColor(c.backColor), toQColor(c.borderColor));
      break;
    case ControlKind::Line:
      static_cast<LineWidget*>(widget)->setColour(toQColor(c.borderColor));
      break;
    default:
      break;
  }
}

void QtWindow::applyBorder(ControlId id) {
  const Control& c = form_[id];
  if (c.kind != ControlKind::Label && c.kind != ControlKind::PictureBox) {
    return;
  }
  auto* frame = static_cast<QFrame*>(widgets_[id]);
  if (c.border == ui::BorderStyle::FixedSingle) {
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    frame->setLineWidth(1);
  } else {
    frame->setFrameStyle(QFrame::NoFrame);
  }
  if (c.kind == ControlKind::PictureBox) {
    clients_.at(id)->setGeometry(frame->contentsRect());
  }
}

void QtWindow::applyGeometry(ControlId id) {
  const Control& c = form_[id];
  QWidget* widget = widgets_[id];
  switch (c.kind) {
    case ControlKind::Timer:
      break;
    case ControlKind::Line:
      static_cast<LineWidget*>(widget)->setEnds(QPoint(px(c.left), px(c.top)),
                                                QPoint(px(c.left + c.width), px(c.top + c.height)));
      break;
    case ControlKind::Image:
      widget->setGeometry(pixelRect(c));
      static_cast<QLabel*>(widget)->setPixmap(drawLogo(widget->size()));
      break;
    default:
      widget->setGeometry(pixelRect(c));
      break;
  }
}

void QtWindow::applyCaret(ControlId id) {
  // While the user types, the widget's own cursor is the truth.
  if (form_[id].kind == ControlKind::TextBox && typingInto_ != id) {
    static_cast<QLineEdit*>(widgets_[id])->setCursorPosition(form_[id].selStart);
  }
}

void QtWindow::applyTimer(ControlId id) {
  QTimer* native = timer(id);
  if (native == nullptr) {
    return;
  }
  const Control& c = form_[id];
  if (native->interval() != c.interval) {
    native->setInterval(c.interval);
  }
  if (c.enabled && c.interval > 0) {
    if (!native->isActive()) {
      native->start();
    }
  } else {
    native->stop();
  }
}

void QtWindow::applyFocus(ControlId id) {
  if (QWidget* widget = widgets_[id]) {
    widget->setFocus(Qt::OtherFocusReason);
  }
}

}  // namespace qvr::platform::qt
