#include "programs/win32-window/win32_window.h"

#include <windows.h>
// After windows.h, which it builds on.
#include <commctrl.h>

#include <algorithm>

#include "platform/win32/text.h"
#include "programs/win32-window/logo.h"
#include "programs/win32-window/twips.h"
#include "ui/controls.h"

namespace qvr::platform::win32 {
namespace {

using ui::Control;
using ui::ControlId;
using ui::ControlKind;
using ui::Property;

constexpr wchar_t kWindowClass[] = L"QVR7130Window";
constexpr wchar_t kDrawingClass[] = L"QVR7130Drawing";

// Child window IDs are the control's number from here on, clear of IDOK and IDCANCEL, which
// dialog navigation sends on its own.
constexpr int kFirstControlId = 1000;
constexpr UINT_PTR kFirstTimerId = 1;
// An edit box tells its window that Enter was pressed in it; wParam is the control's number.
constexpr UINT kEnterPressed = WM_APP + 1;
// Changes made on the controller's thread are waiting (see requestDelivery).
constexpr UINT kDeliver = WM_APP + 2;
constexpr int kEnterKey = 13;

// A drop-down list is as high as its closed box plus the rows it drops down; the closed box is
// its text's height and this much frame above and below.
constexpr int kComboListRows = 8;
constexpr int kComboFrame = 6;

constexpr DWORD kWindowStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

HWND asWindow(void* handle) {
  return static_cast<HWND>(handle);
}

COLORREF colourRef(ui::Rgb c) {
  return RGB(c.r, c.g, c.b);
}

HINSTANCE instance() {
  return GetModuleHandleW(nullptr);
}

// Graphical controls are drawn on the surface of what holds them, beneath every windowed
// control; here the window-level ones get windows of their own all the same (a label is a
// STATIC), while those inside a picture box are drawn by the box.
bool graphical(ControlKind kind) {
  return kind == ControlKind::Label || kind == ControlKind::Image || kind == ControlKind::Shape ||
         kind == ControlKind::Line;
}

}  // namespace

// The window procedures, which reach into the window's state; a friend of Win32Window.
struct WindowProcedures {
  static LRESULT CALLBACK mainWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK drawing(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK edit(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  static Win32Window* owner(HWND window) {
    return reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  }
  static void adopt(HWND window, LPARAM lParam) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  static ControlId idOf(HWND child) {
    const int id = GetDlgCtrlID(child) - kFirstControlId;
    return id < 0 ? ui::kNoControl : static_cast<ControlId>(id);
  }

  static LRESULT colours(Win32Window& self, HWND child, HDC dc);
  static void paint(Win32Window& self, ControlId id, HDC dc, const RECT& client);
  static void paintPictureBox(Win32Window& self, ControlId id, HDC dc, const RECT& client);
  static void paintMember(Win32Window& self, const Control& c, HDC dc, POINT origin);
  static void click(Win32Window& self, ControlId id, POINT at);
};

namespace {

void registerClasses() {
  static const bool registered = [] {
    WNDCLASSEXW window{};
    window.cbSize = sizeof window;
    window.lpfnWndProc = WindowProcedures::mainWindow;
    window.hInstance = instance();
    window.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    window.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    window.lpszClassName = kWindowClass;
    RegisterClassExW(&window);

    WNDCLASSEXW drawing = window;
    drawing.lpfnWndProc = WindowProcedures::drawing;
    drawing.hbrBackground = nullptr;  // painted whole, double-buffered, so never erased
    drawing.lpszClassName = kDrawingClass;
    RegisterClassExW(&drawing);
    return true;
  }();
  (void)registered;
}

int screenDpi() {
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kStandardDpi;
}

}  // namespace

Win32Window::Win32Window(ui::Form& form, ui::FormInput& input, Hooks hooks, Options options)
    : form_(form),
      input_(input),
      hooks_(std::move(hooks)),
      options_(options),
      controls_(form.size(), nullptr) {
  dpi_ = options_.dpi > 0 ? options_.dpi : screenDpi();
  registerClasses();
  INITCOMMONCONTROLSEX common{};
  common.dwSize = sizeof common;
  common.dwICC = ICC_WIN95_CLASSES;
  InitCommonControlsEx(&common);

  createWindow();
  for (ControlId id = 0; id < form_.size(); ++id) {
    createControl(id);
  }
  arrangeStacking();
  tooltips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                              WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, asWindow(window_), nullptr, instance(),
                              nullptr);
  for (ControlId id = 0; id < form_.size(); ++id) {
    addTooltip(id);
    applyTimer(id);
  }
  form_.setObserver(this);
}

Win32Window::~Win32Window() {
  form_.setObserver(nullptr);
  if (window_ != nullptr) {
    // Destroyed without closing, as when the program ends: nothing of it may call back here.
    SetWindowLongPtrW(asWindow(window_), GWLP_USERDATA, 0);
    for (ControlId id = 0; id < controls_.size(); ++id) {
      // An edit box keeps its own procedure there, which it still needs to be destroyed.
      if (controls_[id] != nullptr && form_[id].kind != ControlKind::TextBox) {
        SetWindowLongPtrW(asWindow(controls_[id]), GWLP_USERDATA, 0);
      }
    }
    DestroyWindow(asWindow(window_));
  }
  for (const auto& [key, font] : fonts_) {
    DeleteObject(font);
  }
  for (const auto& [colour, brush] : brushes_) {
    DeleteObject(brush);
  }
}

int Win32Window::pixels(int twips) const {
  return twipsToPixels(twips, dpi_);
}

void Win32Window::createWindow() {
  RECT frame{0, 0, pixels(ui::kClientWidth), pixels(ui::kClientHeight)};
  AdjustWindowRectEx(&frame, kWindowStyle, FALSE, 0);
  const std::wstring caption = widen(ui::kWindowCaption);
  // Hidden until the window load asks for it, once it has blanked the controls and scanned.
  window_ = CreateWindowExW(0, kWindowClass, caption.c_str(), kWindowStyle, CW_USEDEFAULT,
                            CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                            nullptr, nullptr, instance(), this);
}

bool Win32Window::drawnByParent(ControlId id) const {
  const Control& c = form_[id];
  return c.parent != ui::kNoControl && graphical(c.kind) && c.kind != ControlKind::Image;
}

ControlId Win32Window::idOfChild(void* child) const {
  const auto it = std::find(controls_.begin(), controls_.end(), child);
  return it == controls_.end() ? ui::kNoControl
                               : static_cast<ControlId>(std::distance(controls_.begin(), it));
}

void* Win32Window::fontFor(const ui::Font& font) {
  const auto key = std::make_pair(font.name, font.points);
  const auto it = fonts_.find(key);
  if (it != fonts_.end()) {
    return it->second;
  }
  const std::wstring name = widen(font.name);
  HFONT native = CreateFontW(fontHeight(font.points, dpi_), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, name.c_str());
  fonts_.emplace(key, native);
  return native;
}

void* Win32Window::brushFor(ui::Rgb colour) {
  const COLORREF ref = colourRef(colour);
  const auto it = brushes_.find(ref);
  if (it != brushes_.end()) {
    return it->second;
  }
  HBRUSH brush = CreateSolidBrush(ref);
  brushes_.emplace(ref, brush);
  return brush;
}

void Win32Window::createControl(ControlId id) {
  const Control& c = form_[id];
  if (c.kind == ControlKind::Timer || drawnByParent(id)) {
    return;
  }
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (c.visible ? WS_VISIBLE : 0U) |
                (c.enabled ? 0U : static_cast<DWORD>(WS_DISABLED));
  DWORD extendedStyle = 0;
  const wchar_t* windowClass = kDrawingClass;
  switch (c.kind) {
    case ControlKind::Label:
      // SS_NOTIFY: a label is clickable, and has a tooltip; SS_NOPREFIX: an '&' in a device
      // string is a character, not a mnemonic.
      windowClass = L"STATIC";
      style |= SS_LEFT | SS_NOPREFIX | SS_NOTIFY;
      break;
    case ControlKind::CheckBox:
      // Not an automatic box: it shows the value the model decides on after a click.
      windowClass = L"BUTTON";
      style |= BS_3STATE | WS_TABSTOP;
      break;
    case ControlKind::Button:
      windowClass = L"BUTTON";
      style |= BS_PUSHBUTTON | WS_TABSTOP;
      break;
    case ControlKind::TextBox:
      windowClass = L"EDIT";
      style |= ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP;
      extendedStyle = WS_EX_CLIENTEDGE;
      break;
    case ControlKind::ComboBox:
      windowClass = L"COMBOBOX";
      style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
      break;
    default:
      break;
  }
  if (c.border == ui::BorderStyle::FixedSingle && c.kind == ControlKind::Label) {
    style |= WS_BORDER;
  }
  HWND parent = c.parent == ui::kNoControl ? asWindow(window_) : asWindow(controls_.at(c.parent));
  const HWND child = CreateWindowExW(
      extendedStyle, windowClass, L"", style, 0, 0, 0, 0, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + id)), instance(), this);
  controls_[id] = child;
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(fontFor(c.font)), FALSE);
  if (c.kind == ControlKind::TextBox) {
    // The edit keeps its own procedure in its user data, where the replacement finds it.
    const LONG_PTR own =
        SetWindowLongPtrW(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProcedures::edit));
    SetWindowLongPtrW(child, GWLP_USERDATA, own);
  }
  ++mirroring_;
  for (const Property property : {Property::Geometry, Property::Text, Property::Items,
                                  Property::Value, Property::ListIndex}) {
    mirror(id, property);
  }
  --mirroring_;
}

void Win32Window::arrangeStacking() {
  // As on the form: windowed controls above the graphical ones, in creation order (the first
  // on top, which is also the Tab order); among graphical controls the later one is in front,
  // so the logo covers the end of a long manufacturer's name.
  std::vector<ControlId> windowed;
  std::vector<ControlId> drawn;
  for (ControlId id = 0; id < form_.size(); ++id) {
    if (controls_[id] != nullptr && form_[id].parent == ui::kNoControl) {
      (graphical(form_[id].kind) ? drawn : windowed).push_back(id);
    }
  }
  constexpr UINT kOrderOnly = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
  for (const ControlId id : windowed) {
    SetWindowPos(asWindow(controls_[id]), HWND_BOTTOM, 0, 0, 0, 0, kOrderOnly);
  }
  for (auto it = drawn.rbegin(); it != drawn.rend(); ++it) {
    SetWindowPos(asWindow(controls_[*it]), HWND_BOTTOM, 0, 0, 0, 0, kOrderOnly);
  }
}

void Win32Window::addTooltip(ControlId id) {
  const Control& c = form_[id];
  if (c.tooltip.empty() || controls_[id] == nullptr) {
    return;
  }
  std::wstring text = widen(c.tooltip);
  TTTOOLINFOW tool{};
  // The size that every version of the common controls accepts, manifest or not.
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = asWindow(window_);
  tool.uId = reinterpret_cast<UINT_PTR>(controls_[id]);
  tool.lpszText = text.data();  // copied by the tooltip control
  SendMessageW(asWindow(tooltips_), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void Win32Window::windowShown() {
  if (options_.headless || window_ == nullptr) {
    return;
  }
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  RECT frame;
  GetWindowRect(asWindow(window_), &frame);
  const int x = work.left + ((work.right - work.left) - (frame.right - frame.left)) / 2;
  const int y = work.top + ((work.bottom - work.top) - (frame.bottom - frame.top)) / 2;
  SetWindowPos(asWindow(window_), nullptr, std::max<int>(work.left, x), std::max<int>(work.top, y),
               0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(asWindow(window_), SW_SHOW);
  UpdateWindow(asWindow(window_));
  SetForegroundWindow(asWindow(window_));
}

void Win32Window::controlChanged(ControlId id, Property property) {
  mirror(id, property);
}

void Win32Window::mirror(ControlId id, Property property) {
  if (window_ == nullptr) {
    return;
  }
  // Mirroring is never input: the notifications it raises do not reach the model.
  ++mirroring_;
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
      if (controls_[id] != nullptr) {
        InvalidateRect(asWindow(controls_[id]), nullptr, TRUE);
      }
      redrawMember(id);
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
      if (controls_[id] != nullptr) {
        SetWindowPos(asWindow(controls_[id]), HWND_TOP, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      }
      redrawMember(id);
      break;
    case Property::Focus:
      applyFocus(id);
      break;
  }
  --mirroring_;
}

void Win32Window::redrawMember(ControlId id) {
  if (drawnByParent(id)) {
    InvalidateRect(asWindow(controls_.at(form_[id].parent)), nullptr, FALSE);
  }
}

void Win32Window::applyEnabled(ControlId id) {
  if (form_[id].kind == ControlKind::Timer) {
    applyTimer(id);
  } else if (controls_[id] != nullptr) {
    EnableWindow(asWindow(controls_[id]), form_[id].enabled ? TRUE : FALSE);
  }
  redrawMember(id);
}

void Win32Window::applyVisible(ControlId id) {
  if (controls_[id] != nullptr) {
    ShowWindow(asWindow(controls_[id]), form_[id].visible ? SW_SHOWNA : SW_HIDE);
  }
  redrawMember(id);
}

void Win32Window::applyText(ControlId id) {
  const Control& c = form_[id];
  const HWND child = asWindow(controls_[id]);
  switch (c.kind) {
    case ControlKind::Label:
    case ControlKind::CheckBox:
    case ControlKind::Button:
      if (child != nullptr) {
        SetWindowTextW(child, widen(c.text).c_str());
      }
      break;
    case ControlKind::TextBox: {
      std::wstring shown(static_cast<std::size_t>(GetWindowTextLengthW(child)) + 1, L'\0');
      shown.resize(static_cast<std::size_t>(
          GetWindowTextW(child, shown.data(), static_cast<int>(shown.size()))));
      const std::wstring text = widen(c.text);
      if (shown != text) {
        // While the user types, the caret stays where the typing left it.
        DWORD caret = static_cast<DWORD>(c.selStart);
        if (typingInto_ == id) {
          SendMessageW(child, EM_GETSEL, reinterpret_cast<WPARAM>(&caret), 0);
        }
        SetWindowTextW(child, text.c_str());
        const auto at = std::min<std::size_t>(caret, text.size());
        SendMessageW(child, EM_SETSEL, at, static_cast<LPARAM>(at));
      }
      break;
    }
    default:
      // A list's text follows its selection; the other kinds show no text.
      break;
  }
  redrawMember(id);
}

void Win32Window::applyValue(ControlId id) {
  const Control& c = form_[id];
  if (c.kind != ControlKind::CheckBox) {
    return;
  }
  const WPARAM state = c.value == 1   ? BST_CHECKED
                       : c.value == 2 ? BST_INDETERMINATE
                                      : BST_UNCHECKED;
  SendMessageW(asWindow(controls_[id]), BM_SETCHECK, state, 0);
}

void Win32Window::applyItems(ControlId id) {
  const Control& c = form_[id];
  if (c.kind != ControlKind::ComboBox) {
    return;
  }
  const HWND combo = asWindow(controls_[id]);
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  for (const std::string& item : c.items) {
    const std::wstring text = widen(item);
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  applyListIndex(id);
}

void Win32Window::applyListIndex(ControlId id) {
  if (form_[id].kind == ControlKind::ComboBox) {
    // -1 clears the box; CB_SETCURSEL never notifies, so the model hears nothing of it.
    SendMessageW(asWindow(controls_[id]), CB_SETCURSEL, static_cast<WPARAM>(form_[id].listIndex),
                 0);
  }
}

void Win32Window::applyBorder(ControlId id) {
  const Control& c = form_[id];
  const HWND child = asWindow(controls_[id]);
  if (c.kind == ControlKind::Label && child != nullptr) {
    LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
    style = c.border == ui::BorderStyle::FixedSingle ? (style | WS_BORDER) : (style & ~WS_BORDER);
    SetWindowLongPtrW(child, GWL_STYLE, style);
    SetWindowPos(child, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(child, nullptr, TRUE);
  } else if (child != nullptr) {
    InvalidateRect(child, nullptr, FALSE);
  }
  redrawMember(id);
}

void Win32Window::applyGeometry(ControlId id) {
  const Control& c = form_[id];
  const HWND child = asWindow(controls_[id]);
  if (child == nullptr) {
    redrawMember(id);
    return;
  }
  const PixelRect r = pixelRect(c.left, c.top, c.width, c.height, dpi_);
  int height = r.height;
  if (c.kind == ControlKind::ComboBox) {
    // The closed box takes the height laid out; the window's height is that of the dropped list.
    SendMessageW(child, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1),
                 std::max(1, r.height - kComboFrame));
    height = r.height * (1 + kComboListRows);
  }
  MoveWindow(child, r.x, r.y, r.width, height, TRUE);
}

void Win32Window::applyCaret(ControlId id) {
  // While the user types, the edit's own caret is the truth.
  if (form_[id].kind == ControlKind::TextBox && typingInto_ != id) {
    const auto at = static_cast<WPARAM>(form_[id].selStart);
    SendMessageW(asWindow(controls_[id]), EM_SETSEL, at, static_cast<LPARAM>(at));
  }
}

void Win32Window::applyTimer(ControlId id) {
  const Control& c = form_[id];
  if (c.kind != ControlKind::Timer) {
    return;
  }
  const UINT_PTR timer = kFirstTimerId + id;
  if (c.enabled && c.interval > 0) {
    // Setting a running timer again starts its interval afresh, as a changed Interval does.
    SetTimer(asWindow(window_), timer, static_cast<UINT>(c.interval), nullptr);
    timersRunning_[id] = true;
  } else if (timersRunning_[id]) {
    KillTimer(asWindow(window_), timer);
    timersRunning_[id] = false;
  }
}

void Win32Window::applyFocus(ControlId id) {
  if (controls_[id] != nullptr) {
    // Kept as well: a window that is not active yet, or not shown yet, takes the focus only
    // when it is activated.
    focused_ = controls_[id];
    SetFocus(asWindow(controls_[id]));
  }
}

void Win32Window::onCommand(ControlId id, unsigned notification) {
  if (mirroring_ > 0 || id >= form_.size()) {
    return;
  }
  switch (form_[id].kind) {
    case ControlKind::CheckBox:
      if (notification == BN_CLICKED) {
        // The model decides the value and says so, refused or not, whenever it has taken the
        // click (at once, or from the controller's thread).
        input_.userClick(id);
      }
      break;
    case ControlKind::Button:
      if (notification == BN_CLICKED) {
        input_.userClick(id);
      }
      break;
    case ControlKind::Label:
      // A double click is two clicks, as the label's Click event counts them.
      if (notification == STN_CLICKED || notification == STN_DBLCLK) {
        input_.userClick(id);
      }
      break;
    case ControlKind::ComboBox:
      if (notification == CBN_SELCHANGE) {
        const auto index =
            static_cast<int>(SendMessageW(asWindow(controls_[id]), CB_GETCURSEL, 0, 0));
        input_.userChoose(id, index);
      }
      break;
    case ControlKind::TextBox:
      if (notification == EN_CHANGE) {
        onTyped(id);
      }
      break;
    default:
      break;
  }
}

void Win32Window::onTyped(ControlId id) {
  const HWND edit = asWindow(controls_[id]);
  std::wstring typed(static_cast<std::size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
  typed.resize(
      static_cast<std::size_t>(GetWindowTextW(edit, typed.data(), static_cast<int>(typed.size()))));
  typingInto_ = id;
  input_.userType(id, narrow(typed));
  typingInto_ = ui::kNoControl;
}

void Win32Window::onClose() {
  if (!unloaded_) {
    unloaded_ = true;
    if (hooks_.unload) {
      hooks_.unload();
    }
  }
  DestroyWindow(asWindow(window_));
}

void Win32Window::requestDelivery(void* window) {
  PostMessageW(asWindow(window), kDeliver, 0, 0);
}

Picture Win32Window::capture() const {
  return window_ == nullptr ? Picture{} : printClientArea(window_);
}

// --- window procedures ---

LRESULT CALLBACK WindowProcedures::mainWindow(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
  if (message == WM_NCCREATE) {
    adopt(window, lParam);
  }
  Win32Window* self = owner(window);
  if (self == nullptr) {
    return DefWindowProcW(window, message, wParam, lParam);
  }
  switch (message) {
    case WM_COMMAND:
      if (lParam != 0) {
        self->onCommand(idOf(reinterpret_cast<HWND>(lParam)), HIWORD(wParam));
        return 0;
      }
      break;
    case kEnterPressed:
      if (self->mirroring_ == 0) {
        self->input_.userKey(static_cast<ControlId>(wParam), kEnterKey);
      }
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
      return colours(*self, reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam));
    case WM_TIMER: {
      const auto id = static_cast<ControlId>(wParam - kFirstTimerId);
      if (id < self->form_.size() && self->form_[id].kind == ControlKind::Timer &&
          self->hooks_.tick) {
        self->hooks_.tick();
      }
      return 0;
    }
    case WM_ACTIVATE:
      // A plain window does not keep its focused control across activations as a dialog does.
      if (LOWORD(wParam) == WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (focus != nullptr && IsChild(window, focus)) {
          self->focused_ = focus;
        }
      } else if (self->focused_ != nullptr && IsWindow(asWindow(self->focused_))) {
        SetFocus(asWindow(self->focused_));
        return 0;
      }
      break;
    case kDeliver:
      if (self->hooks_.deliver) {
        self->hooks_.deliver();
      }
      return 0;
    case WM_CLOSE:
      self->onClose();
      return 0;
    case WM_NCDESTROY: {
      self->window_ = nullptr;
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      const auto closed = self->hooks_.closed;
      if (closed) {
        closed();
      }
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT WindowProcedures::colours(Win32Window& self, HWND child, HDC dc) {
  const ControlId id = self.idOfChild(child);
  if (id == ui::kNoControl) {
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
  }
  const Control& c = self.form_[id];
  switch (c.kind) {
    case ControlKind::Label:
      SetTextColor(dc, colourRef(c.foreColor));
      if (c.backOpaque) {
        SetBkColor(dc, colourRef(c.backColor));
        return reinterpret_cast<LRESULT>(self.brushFor(c.backColor));
      }
      SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case ControlKind::TextBox:
      // A disabled box asks for the static colours; it keeps its back colour and greys its text.
      SetTextColor(dc, c.enabled ? colourRef(c.foreColor) : GetSysColor(COLOR_GRAYTEXT));
      SetBkColor(dc, colourRef(c.backColor));
      return reinterpret_cast<LRESULT>(self.brushFor(c.backColor));
    default:
      SetTextColor(dc, colourRef(c.foreColor));
      SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
  }
}

LRESULT CALLBACK WindowProcedures::edit(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto own = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_GETDLGCODE: {
      // Enter belongs to the box, not to dialog navigation, which would take it for OK.
      const auto* pending = reinterpret_cast<const MSG*>(lParam);
      if (pending != nullptr && pending->wParam == VK_RETURN &&
          (pending->message == WM_KEYDOWN || pending->message == WM_CHAR)) {
        return DLGC_WANTALLKEYS | CallWindowProcW(own, window, message, wParam, lParam);
      }
      break;
    }
    case WM_CHAR:
      if (wParam == VK_RETURN) {
        // Told rather than typed: a single-line edit would only beep at it.
        SendMessageW(GetParent(window), kEnterPressed, static_cast<WPARAM>(idOf(window)), 0);
        return 0;
      }
      break;
    default:
      break;
  }
  return CallWindowProcW(own, window, message, wParam, lParam);
}

LRESULT CALLBACK WindowProcedures::drawing(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  if (message == WM_NCCREATE) {
    adopt(window, lParam);
  }
  Win32Window* self = owner(window);
  if (self == nullptr) {
    return DefWindowProcW(window, message, wParam, lParam);
  }
  const ControlId id = idOf(window);
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // the paint covers everything
    case WM_PAINT: {
      PAINTSTRUCT ps;
      const HDC dc = BeginPaint(window, &ps);
      RECT client;
      GetClientRect(window, &client);
      // Drawn off screen and copied in one go, so the bars do not flicker ten times a second.
      const HDC memory = CreateCompatibleDC(dc);
      const HBITMAP bitmap =
          CreateCompatibleBitmap(dc, std::max(1L, client.right), std::max(1L, client.bottom));
      const HGDIOBJ previous = SelectObject(memory, bitmap);
      paint(*self, id, memory, client);
      BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
      SelectObject(memory, previous);
      DeleteObject(bitmap);
      DeleteDC(memory);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_PRINTCLIENT: {
      RECT client;
      GetClientRect(window, &client);
      paint(*self, id, reinterpret_cast<HDC>(wParam), client);
      return 0;
    }
    case WM_LBUTTONDOWN:
      SetCapture(window);
      return 0;
    case WM_LBUTTONUP:
      // A click is a press and a release on the control, as the Click event is.
      if (GetCapture() == window) {
        ReleaseCapture();
        const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        RECT client;
        GetClientRect(window, &client);
        if (PtInRect(&client, at)) {
          click(*self, id, at);
        }
      }
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void WindowProcedures::click(Win32Window& self, ControlId id, POINT at) {
  // Inside a picture box, the label in front under the pointer takes the click; shapes and
  // lines let it through to the box.
  const ui::Form& form = self.form_;
  const int inset = form[id].border == ui::BorderStyle::FixedSingle ? 1 : 0;
  ControlId target = id;
  int front = -1;
  for (ControlId member = 0; member < form.size(); ++member) {
    const Control& c = form[member];
    if (c.parent != id || c.kind != ControlKind::Label || !c.visible || c.stackOrder < front) {
      continue;
    }
    const PixelRect r = pixelRect(c.left, c.top, c.width, c.height, self.dpi_);
    const RECT box{r.x + inset, r.y + inset, r.x + inset + r.width, r.y + inset + r.height};
    if (PtInRect(&box, at)) {
      target = member;
      front = c.stackOrder;
    }
  }
  self.input_.userClick(target);
}

void WindowProcedures::paint(Win32Window& self, ControlId id, HDC dc, const RECT& client) {
  const Control& c = self.form_[id];
  switch (c.kind) {
    case ControlKind::Image:
      FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
      drawLogo(dc, client.right, client.bottom);
      break;
    case ControlKind::PictureBox:
      paintPictureBox(self, id, dc, client);
      break;
    default:
      // A shape or line of the window itself: drawn as if it were a member at the origin.
      FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
      paintMember(self, c, dc, POINT{-self.pixels(c.left), -self.pixels(c.top)});
      break;
  }
}

void WindowProcedures::paintPictureBox(Win32Window& self, ControlId id, HDC dc,
                                       const RECT& client) {
  const ui::Form& form = self.form_;
  const Control& box = form[id];
  FillRect(dc, &client, static_cast<HBRUSH>(self.brushFor(box.backColor)));
  int inset = 0;
  if (box.border == ui::BorderStyle::FixedSingle) {
    // The frame's line is drawn in the foreground colour; it does not grey when disabled.
    FrameRect(dc, &client, static_cast<HBRUSH>(self.brushFor(box.foreColor)));
    inset = 1;
  }
  // Members are clipped by the border and drawn back to front: in stacking order, and in
  // creation order among equals.
  std::vector<ControlId> members;
  for (ControlId member = 0; member < form.size(); ++member) {
    if (form[member].parent == id && form[member].visible) {
      members.push_back(member);
    }
  }
  std::stable_sort(members.begin(), members.end(), [&form](ControlId a, ControlId b) {
    return form[a].stackOrder < form[b].stackOrder;
  });
  const int saved = SaveDC(dc);
  IntersectClipRect(dc, inset, inset, client.right - inset, client.bottom - inset);
  for (const ControlId member : members) {
    paintMember(self, form[member], dc, POINT{inset, inset});
  }
  RestoreDC(dc, saved);
}

void WindowProcedures::paintMember(Win32Window& self, const Control& c, HDC dc, POINT origin) {
  const PixelRect r = pixelRect(c.left, c.top, c.width, c.height, self.dpi_);
  const RECT box{origin.x + r.x, origin.y + r.y, origin.x + r.x + r.width,
                 origin.y + r.y + r.height};
  switch (c.kind) {
    case ControlKind::Shape:
      // A filled rectangle with a one-pixel border; a zero height shows nothing.
      if (r.width > 0 && r.height > 0) {
        FillRect(dc, &box, static_cast<HBRUSH>(self.brushFor(c.backColor)));
        FrameRect(dc, &box, static_cast<HBRUSH>(self.brushFor(c.borderColor)));
      }
      break;
    case ControlKind::Line: {
      // The ends are (left, top) and (left + width, top + height), both drawn.
      const int x1 = origin.x + self.pixels(c.left);
      const int y1 = origin.y + self.pixels(c.top);
      const int x2 = origin.x + self.pixels(c.left + c.width);
      const int y2 = origin.y + self.pixels(c.top + c.height);
      const HPEN pen = CreatePen(PS_SOLID, 1, colourRef(c.borderColor));
      const HGDIOBJ previous = SelectObject(dc, pen);
      MoveToEx(dc, x1, y1, nullptr);
      LineTo(dc, x2, y2);
      SetPixelV(dc, x2, y2, colourRef(c.borderColor));
      SelectObject(dc, previous);
      DeleteObject(pen);
      break;
    }
    case ControlKind::Label: {
      if (c.backOpaque) {
        FillRect(dc, &box, static_cast<HBRUSH>(self.brushFor(c.backColor)));
      }
      const HGDIOBJ previous = SelectObject(dc, static_cast<HFONT>(self.fontFor(c.font)));
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, c.enabled ? colourRef(c.foreColor) : GetSysColor(COLOR_GRAYTEXT));
      std::wstring text = widen(c.text);
      RECT textBox = box;
      DrawTextW(dc, text.data(), static_cast<int>(text.size()), &textBox,
                DT_LEFT | DT_TOP | DT_NOPREFIX | DT_WORDBREAK);
      SelectObject(dc, previous);
      if (c.border == ui::BorderStyle::FixedSingle) {
        FrameRect(dc, &box, static_cast<HBRUSH>(self.brushFor(ui::kBlack)));
      }
      break;
    }
    default:
      break;
  }
}

}  // namespace qvr::platform::win32
