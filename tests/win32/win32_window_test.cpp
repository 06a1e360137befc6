// The Win32 window against the real controls: the model's state shows on them, and input sent
// to them the way the system sends it reaches the model, and only that.

#include "programs/win32-window/win32_window.h"

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it builds on.
#include <commctrl.h>

#include <map>
#include <string>

#include "platform/win32/text.h"
#include "platform/win32/win32_system.h"
#include "ui/controls.h"

namespace qvr::platform::win32 {
namespace {

namespace ctl = ui::ctl;
using ui::ControlId;

std::wstring windowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

RECT placeIn(HWND child, HWND parent) {
  RECT box;
  GetWindowRect(child, &box);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&box), 2);
  return box;
}

void pump(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  do {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Sleep(1);
  } while (GetTickCount() - start < milliseconds);
}

class Win32WindowTest : public ::testing::Test {
 protected:
  HWND native(ControlId id) {
    const auto window = static_cast<HWND>(window_.control(id));
    EXPECT_NE(window, nullptr) << form.nameOf(id);
    return window;
  }
  HWND main() { return static_cast<HWND>(window_.handle()); }
  void countRuns(ControlId id) {
    form.setHandler(id, [this, id] { ++runs[id]; });
  }
  void clickWithMouse(HWND target, int x, int y) {
    SendMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageW(target, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
  }
  std::uint32_t pixel(const Picture& picture, int x, int y) {
    return picture.pixels.at(static_cast<std::size_t>(y * picture.width + x));
  }

  ui::Form form{ui::controlTable()};
  int ticks = 0;
  int unloads = 0;
  int closes = 0;
  std::map<ControlId, int> runs;
  Win32Window window_{form,
                      form,
                      {.tick = [this] { ++ticks; },
                       .unload = [this] { ++unloads; },
                       .closed = [this] { ++closes; }},
                      {.dpi = 96, .headless = true}};
};

// --- model to controls ---

TEST_F(Win32WindowTest, ClientAreaAndControlsArePlacedFromTwipsAtTheScreensDpi) {
  RECT client;
  GetClientRect(main(), &client);
  EXPECT_EQ(client.right, 500);
  EXPECT_EQ(client.bottom, 600);
  EXPECT_EQ(windowText(main()), L"QVR-7130 GPSDO Locked Clock Source");

  struct Case {
    ControlId id;
    RECT expected;
  };
  const Case cases[] = {
      {ctl::Label5, {13, 13, 106, 31}},      {ctl::Out1Freq, {60, 208, 213, 240}},
      {ctl::FindFreq, {243, 208, 310, 240}}, {ctl::PicSat, {13, 385, 385, 485}},
      {ctl::Image1, {322, 40, 484, 90}},     {ctl::Factory, {167, 541, 300, 569}},
  };
  for (const Case& c : cases) {
    const RECT box = placeIn(native(c.id), main());
    EXPECT_EQ(box.left, c.expected.left) << form.nameOf(c.id);
    EXPECT_EQ(box.top, c.expected.top) << form.nameOf(c.id);
    EXPECT_EQ(box.right, c.expected.right) << form.nameOf(c.id);
    EXPECT_EQ(box.bottom, c.expected.bottom) << form.nameOf(c.id);
  }

  // Moved by the model, in twips.
  form.setLeft(ctl::FindFreq, 3000);
  form.setWidth(ctl::FindFreq, 1500);
  const RECT moved = placeIn(native(ctl::FindFreq), main());
  EXPECT_EQ(moved.left, 200);
  EXPECT_EQ(moved.right, 300);
}

TEST_F(Win32WindowTest, TheWholeWindowGrowsWithTheDpi) {
  // The system keeps a window within the screen: this one needs 750 pixels and a caption.
  if (GetSystemMetrics(SM_CYMAXTRACK) < 800) {
    GTEST_SKIP() << "the screen is too small for the window at 120 dpi";
  }
  ui::Form large{ui::controlTable()};
  Win32Window at120(large, large, {}, {.dpi = 120, .headless = true});
  RECT client;
  GetClientRect(static_cast<HWND>(at120.handle()), &client);
  EXPECT_EQ(client.right, 625);
  EXPECT_EQ(client.bottom, 750);
  const RECT box =
      placeIn(static_cast<HWND>(at120.control(ctl::Out1Freq)), static_cast<HWND>(at120.handle()));
  EXPECT_EQ(box.left, 75);
  EXPECT_EQ(box.bottom, 300);
}

TEST_F(Win32WindowTest, ShowsTheModelsTextsOnEveryKindOfControl) {
  const std::pair<ControlId, std::string> cases[] = {
      {ctl::Label5, "Device name"},
      {ctl::PPS, "1PPS out"},
      {ctl::FindFreq, "Apply"},
      {ctl::Out1Freq, "10000000"},
      // Texts are single bytes; the upper half is Latin-1, as the device strings are.
      {ctl::lblManuf, " M\xFCller \xB5Time"},
      // An '&' in a device string is a character, not a mnemonic.
      {ctl::lblProduct, " Clocks & Co"},
  };
  for (const auto& [id, text] : cases) {
    form.setText(id, text);
    EXPECT_EQ(windowText(native(id)), widen(text)) << form.nameOf(id);
  }
}

TEST_F(Win32WindowTest, FollowsEnabledVisibleAndBorder) {
  for (const ControlId id : {ctl::Label5, ctl::PPS, ctl::Out1Freq, ctl::FindFreq, ctl::dynmodel,
                             ctl::PicSat, ctl::Image1}) {
    form.setEnabled(id, false);
    EXPECT_FALSE(IsWindowEnabled(native(id))) << form.nameOf(id);
    form.setEnabled(id, true);
    EXPECT_TRUE(IsWindowEnabled(native(id))) << form.nameOf(id);
    form.setVisible(id, false);
    EXPECT_EQ(GetWindowLongPtrW(native(id), GWL_STYLE) & WS_VISIBLE, 0) << form.nameOf(id);
    form.setVisible(id, true);
    EXPECT_NE(GetWindowLongPtrW(native(id), GWL_STYLE) & WS_VISIBLE, 0) << form.nameOf(id);
  }
  // NMEA starts disabled, as laid out.
  EXPECT_FALSE(IsWindowEnabled(native(ctl::NMEA)));

  form.setBorder(ctl::Label13, ui::BorderStyle::FixedSingle);
  EXPECT_NE(GetWindowLongPtrW(native(ctl::Label13), GWL_STYLE) & WS_BORDER, 0);
  form.setBorder(ctl::Label13, ui::BorderStyle::None);
  EXPECT_EQ(GetWindowLongPtrW(native(ctl::Label13), GWL_STYLE) & WS_BORDER, 0);
}

TEST_F(Win32WindowTest, CheckBoxShowsTheValueAndTheHandlerRunsOnlyFromTheModel) {
  countRuns(ctl::PPS);
  const std::pair<int, LRESULT> cases[] = {
      {1, BST_CHECKED}, {0, BST_UNCHECKED}, {2, BST_INDETERMINATE}, {1, BST_CHECKED}};
  for (const auto& [value, state] : cases) {
    form.setValue(ctl::PPS, value);
    EXPECT_EQ(SendMessageW(native(ctl::PPS), BM_GETCHECK, 0, 0), state) << value;
  }
  EXPECT_EQ(runs[ctl::PPS], 4);  // once per change, none from the control itself
}

TEST_F(Win32WindowTest, ListShowsItemsAndSelectionWithoutRaisingAnything) {
  countRuns(ctl::dynmodel);
  const HWND combo = native(ctl::dynmodel);
  for (const char* item : {"Stationary", "Portable", "Airborne"}) {
    form.addItem(ctl::dynmodel, item);
  }
  form.setListIndex(ctl::dynmodel, 1);
  EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 3);
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 1);
  wchar_t text[32] = {};
  SendMessageW(combo, CB_GETLBTEXT, 2, reinterpret_cast<LPARAM>(text));
  EXPECT_EQ(std::wstring(text), L"Airborne");
  EXPECT_EQ(windowText(combo), L"Portable");

  form.clearItems(ctl::dynmodel);
  EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 0);
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(runs[ctl::dynmodel], 1);
}

TEST_F(Win32WindowTest, TooltipsCarryTheTablesTexts) {
  const HWND tips = static_cast<HWND>(window_.tooltips());
  int withTip = 0;
  for (ControlId id = 0; id < form.size(); ++id) {
    if (!form[id].tooltip.empty()) {
      ++withTip;
      wchar_t text[128] = {};
      TTTOOLINFOW tool{};
      tool.cbSize = TTTOOLINFOW_V2_SIZE;
      tool.hwnd = main();
      tool.uId = reinterpret_cast<UINT_PTR>(native(id));
      tool.lpszText = text;
      SendMessageW(tips, TTM_GETTEXTW, std::size(text), reinterpret_cast<LPARAM>(&tool));
      EXPECT_EQ(std::wstring(text), widen(form[id].tooltip)) << form.nameOf(id);
    }
  }
  EXPECT_EQ(withTip, 16);
  EXPECT_EQ(SendMessageW(tips, TTM_GETTOOLCOUNT, 0, 0), withTip);
}

TEST_F(Win32WindowTest, TimerFollowsIntervalAndEnabledAndTicks) {
  pump(60);
  EXPECT_EQ(ticks, 0);  // disabled as laid out
  form.setInterval(ctl::Timer, 10);
  form.setEnabled(ctl::Timer, true);
  pump(150);
  EXPECT_GT(ticks, 2);
  form.setEnabled(ctl::Timer, false);
  pump(20);
  const int stopped = ticks;
  pump(100);
  EXPECT_EQ(ticks, stopped);
}

TEST_F(Win32WindowTest, PictureBoxDrawsItsMembersInStackingOrderInsideTheBorder) {
  // Bar 0 at 30 to 45 px across, 20 px high on the bottom edge, inside a 1 px border.
  form.setLeft(ctl::Sat(0), 450);
  form.setWidth(ctl::Sat(0), 225);
  form.setTop(ctl::Sat(0), 1200);
  form.setHeight(ctl::Sat(0), 300);
  // A scale label over it, at first behind it, then brought in front.
  form.setText(ctl::CNoLbl(0), "");
  form.setBackColor(ctl::CNoLbl(0), ui::kLightRed, true);
  form.setLeft(ctl::CNoLbl(0), 450);
  form.setTop(ctl::CNoLbl(0), 1350);
  form.bringToFront(ctl::Sat(0));

  const RECT box = placeIn(native(ctl::PicSat), main());
  Picture picture = window_.capture();
  ASSERT_EQ(picture.width, 500);
  const auto at = [&](int x, int y) { return pixel(picture, box.left + 1 + x, box.top + 1 + y); };
  EXPECT_EQ(pixel(picture, box.left, box.top + 50), 0x000000u);  // the border
  EXPECT_EQ(at(35, 85), 0x404040u);                              // the bar, in front
  EXPECT_EQ(at(35, 75), 0xFFFFFFu);                              // above it
  EXPECT_EQ(at(35, 95), 0x404040u);

  form.bringToFront(ctl::CNoLbl(0));
  picture = window_.capture();
  EXPECT_EQ(at(35, 95), 0xFF8080u);  // the label now covers the bar's foot
  form.setVisible(ctl::Sat(0), false);
  form.setVisible(ctl::CNoLbl(0), false);
  picture = window_.capture();
  EXPECT_EQ(at(35, 85), 0xFFFFFFu);
}

TEST_F(Win32WindowTest, PaintsStatusColourAndTheLogo) {
  form.setText(ctl::Status, "");
  Picture picture = window_.capture();
  const RECT status = placeIn(native(ctl::Status), main());
  EXPECT_EQ(pixel(picture, status.left + 100, status.top + 5), 0xFF8080u);
  form.setBackColor(ctl::Status, ui::kWhite, false);
  picture = window_.capture();
  EXPECT_EQ(pixel(picture, status.left + 100, status.top + 5),
            pixel(picture, status.left - 2, status.top + 5));  // the window's own colour

  const RECT logo = placeIn(native(ctl::Image1), main());
  EXPECT_EQ(pixel(picture, logo.left + 4, logo.bottom - 14), 0x102454u);  // navy plate
}

TEST(Win32WindowOnScreen, ComesUpCentredAndGivesTheModelsFocusBackOnActivation) {
  ui::Form form{ui::controlTable()};
  Win32Window window(form, form, {}, {.dpi = 96});
  const auto main = static_cast<HWND>(window.handle());
  const auto box = static_cast<HWND>(window.control(ctl::Out1Freq));
  const auto button = static_cast<HWND>(window.control(ctl::FindFreq));
  EXPECT_FALSE(IsWindowVisible(main));  // until the window load asks for it
  // The load puts the focus in the frequency box before it shows the window.
  form.setFocus(ctl::Out1Freq);
  window.windowShown();
  pump(50);
  ASSERT_TRUE(IsWindowVisible(main));
  EXPECT_EQ(GetFocus(), box);

  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  RECT frame;
  GetWindowRect(main, &frame);
  EXPECT_NEAR(frame.left + frame.right, work.left + work.right, 1);
  EXPECT_NEAR(frame.top + frame.bottom, work.top + work.bottom, 1);

  // The user moves on to the button, another window is activated, then this one again.
  SetFocus(button);
  SendMessageW(main, WM_ACTIVATE, WA_INACTIVE, 0);
  SetFocus(nullptr);
  SendMessageW(main, WM_ACTIVATE, WA_ACTIVE, 0);
  EXPECT_EQ(GetFocus(), button);
}

// --- controls to model ---

TEST_F(Win32WindowTest, CheckBoxClickRunsTheHandlerOnceAndShowsWhatTheModelKept) {
  countRuns(ctl::OUT1EN);
  SendMessageW(native(ctl::OUT1EN), BM_CLICK, 0, 0);
  EXPECT_EQ(form[ctl::OUT1EN].value, 1);
  EXPECT_EQ(runs[ctl::OUT1EN], 1);
  EXPECT_EQ(SendMessageW(native(ctl::OUT1EN), BM_GETCHECK, 0, 0), BST_CHECKED);

  // A handler that puts the box back: the control shows the model, not the click.
  form.setHandler(ctl::PPS, [this] { form.setValue(ctl::PPS, 0); });
  SendMessageW(native(ctl::PPS), BM_CLICK, 0, 0);
  EXPECT_EQ(form[ctl::PPS].value, 0);
  EXPECT_EQ(SendMessageW(native(ctl::PPS), BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

TEST_F(Win32WindowTest, ClicksOnButtonsLabelsLogoAndGraphReachTheModel) {
  const ControlId clicked[] = {ctl::FindFreq,    ctl::Diagnostics, ctl::Label13, ctl::UTC,
                               ctl::GPSposition, ctl::Image1,      ctl::PicSat,  ctl::CNoLbl(2)};
  for (const ControlId id : clicked) {
    countRuns(id);
  }
  SendMessageW(native(ctl::FindFreq), BM_CLICK, 0, 0);
  SendMessageW(native(ctl::Diagnostics), BM_CLICK, 0, 0);
  clickWithMouse(native(ctl::Label13), 3, 3);
  clickWithMouse(native(ctl::UTC), 3, 3);
  clickWithMouse(native(ctl::GPSposition), 3, 3);
  clickWithMouse(native(ctl::Image1), 80, 25);
  clickWithMouse(native(ctl::PicSat), 200, 50);
  // A scale label inside the graph takes the click on it.
  form.setLeft(ctl::CNoLbl(2), 150);
  form.setTop(ctl::CNoLbl(2), 300);
  clickWithMouse(native(ctl::PicSat), 12, 22);
  for (const ControlId id : clicked) {
    EXPECT_EQ(runs[id], 1) << form.nameOf(id);
  }
}

TEST_F(Win32WindowTest, DisabledControlsTakeNoClick) {
  countRuns(ctl::FindFreq);
  countRuns(ctl::FLL);
  form.setEnabled(ctl::FindFreq, false);
  form.setEnabled(ctl::FLL, false);
  SendMessageW(native(ctl::FindFreq), BM_CLICK, 0, 0);
  SendMessageW(native(ctl::FLL), BM_CLICK, 0, 0);
  EXPECT_EQ(runs[ctl::FindFreq], 0);
  EXPECT_EQ(runs[ctl::FLL], 0);
  EXPECT_EQ(form[ctl::FLL].value, 0);
}

TEST_F(Win32WindowTest, ChoosingFromTheListForwardsTheIndex) {
  countRuns(ctl::SerNo);
  for (const char* serial : {"A1", "B2", "C3"}) {
    form.addItem(ctl::SerNo, serial);
  }
  const HWND combo = native(ctl::SerNo);
  // What the list does when the user picks a row: select it, then tell its window.
  SendMessageW(combo, CB_SETCURSEL, 2, 0);
  SendMessageW(main(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(combo));
  EXPECT_EQ(form[ctl::SerNo].listIndex, 2);
  EXPECT_EQ(form[ctl::SerNo].text, "C3");
  EXPECT_EQ(runs[ctl::SerNo], 1);
}

TEST_F(Win32WindowTest, TypingForwardsTheTextAndEnterSendsKeyThirteen) {
  std::vector<int> keys;
  form.setKeyHandler(ctl::Out1Freq, [&keys](int& key) { keys.push_back(key); });
  const HWND edit = native(ctl::Out1Freq);
  SetWindowTextW(edit, L"12345\u20AC");  // as typed: the edit tells its window of the change
  EXPECT_EQ(form[ctl::Out1Freq].text, "12345?");
  EXPECT_EQ(form[ctl::Out1Freq].selStart, 6);
  SendMessageW(edit, WM_CHAR, VK_RETURN, 1);
  EXPECT_EQ(keys, std::vector<int>{13});

  // Text set by the model is not typing: the caret the model keeps stays where it was.
  form.setText(ctl::Out2Freq, "777");
  EXPECT_EQ(windowText(native(ctl::Out2Freq)), L"777");
  EXPECT_EQ(form[ctl::Out2Freq].selStart, 0);
}

TEST_F(Win32WindowTest, EnterGoesToTheBoxAndNotToDialogNavigation) {
  std::vector<int> keys;
  form.setKeyHandler(ctl::Out1Freq, [&keys](int& key) { keys.push_back(key); });
  Win32System system;
  system.setOwner(window_.handle());
  // A key as the keyboard delivers it, through the message pump that moves Tab between the
  // controls; that pump would take Enter for a press of the OK button.
  PostMessageW(native(ctl::Out1Freq), WM_KEYDOWN, VK_RETURN, 1);
  system.doEvents();
  EXPECT_EQ(keys, std::vector<int>{13});
}

TEST_F(Win32WindowTest, ClosingUnloadsOnceAndDestroysTheWindow) {
  SendMessageW(main(), WM_CLOSE, 0, 0);
  EXPECT_EQ(unloads, 1);
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(window_.handle(), nullptr);
  // The model may go on changing; there is nothing left to show it on.
  form.setText(ctl::Label5, "gone");
}

}  // namespace
}  // namespace qvr::platform::win32
