#include "programs/qt-window/qt_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <map>
#include <memory>

#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_system.h"
#include "ui/controller_thread.h"
#include "ui/controls.h"

namespace qvr::platform::qt {
namespace {

namespace ctl = ui::ctl;
using ui::ControlId;

QString nativeText(QWidget* widget) {
  if (auto* label = qobject_cast<QLabel*>(widget)) {
    return label->text();
  }
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    return button->text();
  }
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    return edit->text();
  }
  if (auto* combo = qobject_cast<QComboBox*>(widget)) {
    return combo->currentText();
  }
  return {};
}

QColor pixelAt(QWidget& window, QWidget* widget, QPoint local) {
  return window.grab().toImage().pixelColor(widget->mapTo(&window, local));
}

class QtWindowTest : public ::testing::Test {
 protected:
  QtWindowTest() { window.show(); }

  template <class T>
  T* native(ControlId id) {
    auto* widget = qobject_cast<T*>(window.widget(id));
    EXPECT_NE(widget, nullptr) << form.nameOf(id);
    return widget;
  }
  void countRuns(ControlId id) {
    form.setHandler(id, [this, id] { ++runs[id]; });
  }

  ui::Form form{ui::controlTable()};
  int ticks = 0;
  int unloads = 0;
  std::map<ControlId, int> runs;
  QtWindow window{form, form,
                  QtWindow::Hooks{.tick = [this] { ++ticks; }, .unload = [this] { ++unloads; }}};
};

// --- model to widget ---

TEST_F(QtWindowTest, ShowsTheModelsTextsOnEveryKindOfControl) {
  const std::pair<ControlId, std::string> cases[] = {
      {ctl::Label5, "Device name"},
      {ctl::PPS, "1PPS out"},
      {ctl::FindFreq, "Apply"},
      {ctl::Out1Freq, "10000000"},
      // Texts are single bytes; the upper half is Latin-1, as the device strings are.
      {ctl::lblManuf, " M\xFCller \xB5Time"},
  };
  for (const auto& [id, text] : cases) {
    form.setText(id, text);
    EXPECT_EQ(nativeText(window.widget(id)), QString::fromLatin1(text.c_str())) << text;
  }
}

TEST_F(QtWindowTest, FollowsEnabledAndVisibleOnEveryKindOfControl) {
  for (const ControlId id : std::initializer_list<ControlId>{
           ctl::Label5, ctl::Image1, ctl::PPS, ctl::SerNo, ctl::Out1Freq, ctl::FindFreq,
           ctl::PicSat, ctl::Sat_average, ctl::Sat(3), ctl::CNoLbl(1), ctl::CNoLine(2)}) {
    SCOPED_TRACE(form.nameOf(id));
    QWidget* widget = window.widget(id);
    form.setEnabled(id, false);
    EXPECT_FALSE(widget->isEnabled());
    form.setEnabled(id, true);
    EXPECT_TRUE(widget->isEnabled());
    form.setVisible(id, false);
    EXPECT_FALSE(widget->isVisible());
    form.setVisible(id, true);
    EXPECT_TRUE(widget->isVisible());
  }
}

TEST_F(QtWindowTest, CheckBoxShowsTheValueAndTheHandlerRunsOnlyFromTheModel) {
  countRuns(ctl::PPS);
  auto* box = native<QCheckBox>(ctl::PPS);
  form.setValue(ctl::PPS, 1);
  EXPECT_TRUE(box->isChecked());
  form.setValue(ctl::PPS, 0);
  EXPECT_FALSE(box->isChecked());
  // Once per change from the model; never again from the native box's own signals.
  EXPECT_EQ(runs[ctl::PPS], 2);
}

TEST_F(QtWindowTest, ListShowsItemsAndSelection) {
  countRuns(ctl::dynmodel);
  auto* combo = native<QComboBox>(ctl::dynmodel);
  for (const char* item : {"Stationary", "Portable", "Airborne"}) {
    form.addItem(ctl::dynmodel, item);
  }
  EXPECT_EQ(combo->count(), 3);
  EXPECT_EQ(combo->currentIndex(), -1);
  form.setListIndex(ctl::dynmodel, 2);
  EXPECT_EQ(combo->currentIndex(), 2);
  EXPECT_EQ(combo->currentText(), QStringLiteral("Airborne"));
  form.setListIndex(ctl::dynmodel, -1);
  EXPECT_EQ(combo->currentIndex(), -1);
  form.setListIndex(ctl::dynmodel, 0);
  form.clearItems(ctl::dynmodel);
  EXPECT_EQ(combo->count(), 0);
  EXPECT_EQ(runs[ctl::dynmodel], 3);
}

TEST_F(QtWindowTest, PlacesControlsInPixelsAndGraphMembersInsideTheBorder) {
  EXPECT_EQ(window.size(), QSize(500, 600));
  EXPECT_EQ(window.windowTitle(), QStringLiteral("QVR-7130 GPSDO Locked Clock Source"));

  form.setLeft(ctl::Sat(0), 330);
  form.setTop(ctl::Sat(0), 250);
  form.setWidth(ctl::Sat(0), 150);
  form.setHeight(ctl::Sat(0), 1250);
  form.setLeft(ctl::CNoLine(0), 336);
  form.setTop(ctl::CNoLine(0), 900);
  form.setWidth(ctl::CNoLine(0), 5580 - 336);

  const std::pair<ControlId, QRect> cases[] = {
      {ctl::lblProduct, {121, 14, 243, 22}},  // 1815, 210, 3645, 330 twips
      {ctl::Image1, {322, 40, 162, 50}},
      {ctl::Out1Freq, {60, 208, 153, 32}},  // right edge 3200 twips rounds to 213
      {ctl::PicSat, {13, 385, 372, 100}},
      {ctl::Sat(0), {22, 17, 10, 83}},  // bottom edge 1500 twips: on the box's bottom
      {ctl::CNoLine(0), {22, 60, 351, 1}},
  };
  for (const auto& [id, rect] : cases) {
    EXPECT_EQ(window.widget(id)->geometry(), rect) << form.nameOf(id);
  }
  // Graph members count from inside the one-pixel border.
  EXPECT_EQ(window.widget(ctl::Sat(0))->mapTo(&window, QPoint(0, 0)),
            QPoint(13 + 1 + 22, 385 + 1 + 17));
}

TEST_F(QtWindowTest, PaintsTheModelsColours) {
  auto* status = native<QLabel>(ctl::Status);
  EXPECT_TRUE(status->autoFillBackground());
  EXPECT_EQ(status->palette().color(QPalette::Window), QColor(255, 128, 128));
  form.setBackColor(ctl::Status, ui::kWhite, false);
  EXPECT_FALSE(status->autoFillBackground());

  form.setBackColor(ctl::Out1Freq, ui::kRed);
  EXPECT_EQ(native<QLineEdit>(ctl::Out1Freq)->palette().color(QPalette::Base), QColor(255, 0, 0));

  // A bar of height 0 shows the box's white; with a height it shows its fill.
  QWidget* bar = window.widget(ctl::Sat(5));
  form.setLeft(ctl::Sat(5), 1155);
  form.setTop(ctl::Sat(5), 600);
  form.setWidth(ctl::Sat(5), 150);
  EXPECT_EQ(pixelAt(window, window.widget(ctl::PicSat), QPoint(1155 / 15 + 5, 600 / 15 + 5)),
            QColor(Qt::white));
  form.setHeight(ctl::Sat(5), 600);
  EXPECT_EQ(pixelAt(window, bar, QPoint(5, 20)), QColor(64, 64, 64));

  form.setLeft(ctl::Sat_average, 15);
  form.setTop(ctl::Sat_average, 600);
  form.setHeight(ctl::Sat_average, 600);
  form.setBackColor(ctl::Sat_average, {71, 255, 0});
  form.setBorderColor(ctl::Sat_average, {0, 0, 255});
  QWidget* average = window.widget(ctl::Sat_average);
  EXPECT_EQ(pixelAt(window, average, QPoint(7, 20)), QColor(71, 255, 0));
  EXPECT_EQ(pixelAt(window, average, QPoint(0, 20)), QColor(0, 0, 255));

  form.setTop(ctl::CNoLine(1), 450);
  form.setWidth(ctl::CNoLine(1), 3000);
  form.setBorderColor(ctl::CNoLine(1), {0, 128, 0});
  EXPECT_EQ(pixelAt(window, window.widget(ctl::CNoLine(1)), QPoint(100, 0)), QColor(0, 128, 0));
}

TEST_F(QtWindowTest, ControlBroughtToFrontCoversItsSiblings) {
  // lblSerialNumber and SerNo overlap; SerNo comes later in the table and starts in front.
  const QPoint overlap(126, 75);
  QWidget* label = window.widget(ctl::lblSerialNumber);
  QWidget* combo = window.widget(ctl::SerNo);
  auto frontAt = [&] {
    QWidget* hit = window.childAt(overlap);
    return combo == hit || combo->isAncestorOf(hit) ? combo : hit;
  };
  EXPECT_EQ(frontAt(), combo);
  form.bringToFront(ctl::lblSerialNumber);
  EXPECT_EQ(frontAt(), label);
  form.bringToFront(ctl::SerNo);
  EXPECT_EQ(frontAt(), combo);
}

TEST_F(QtWindowTest, TimerFollowsIntervalAndEnabledAndTicks) {
  QTimer* timer = window.timer(ctl::Timer);
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(timer->interval(), 100);
  EXPECT_FALSE(timer->isActive());
  form.setInterval(ctl::Timer, 5);
  form.setEnabled(ctl::Timer, true);
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(timer->interval(), 5);
  EXPECT_TRUE(QTest::qWaitFor([this] { return ticks >= 2; }, 2000));
  form.setEnabled(ctl::Timer, false);
  EXPECT_FALSE(timer->isActive());
}

TEST_F(QtWindowTest, FocusAndCaretFollowTheModel) {
  auto* edit = native<QLineEdit>(ctl::Out1Freq);
  form.setText(ctl::Out1Freq, "123456");
  form.setSelStart(ctl::Out1Freq, 2);
  EXPECT_EQ(edit->cursorPosition(), 2);
  form.setFocus(ctl::Out1Freq);
  EXPECT_EQ(window.focusWidget(), edit);
}

TEST_F(QtWindowTest, CaptionsFitTheirControls) {
  EXPECT_EQ(QFontInfo(window.widget(ctl::Label5)->font()).family(), "Liberation Sans");
  EXPECT_EQ(QFontInfo(window.widget(ctl::CNoLbl(0))->font()).family(), "Liberation Sans");

  // The longest texts the window shows while running, besides the captions of the table.
  const std::pair<ControlId, std::string> runtime[] = {
      {ctl::lblProduct, " QVR-7130 GPSDO Locked Clock Source"},
      {ctl::lblManuf, " QVR Instruments"},
      {ctl::lblVersion, " 1.08"},
      {ctl::lblSerialNumber, " QVR000001"},
      {ctl::UTC, " 2025.12.28 23:59:59"},
      {ctl::GPSposition, " -33.868820, -151.209290, 12345"},
      {ctl::Status, " GPS antenna shorted"},
      {ctl::Out1Freq, "1600000000.999"},
      {ctl::CNoLbl(4), "50"},
  };
  for (const auto& [id, text] : runtime) {
    form.setText(id, text);
  }

  for (ControlId id = 0; id < form.size(); ++id) {
    QWidget* widget = window.widget(id);
    const QString text = nativeText(widget);
    if (widget == nullptr || text.isEmpty()) {
      continue;
    }
    SCOPED_TRACE(form.nameOf(id) + ": " + text.toStdString());
    const QFontMetrics metrics(widget->font());
    if (auto* box = qobject_cast<QCheckBox*>(widget)) {
      EXPECT_LE(box->sizeHint().width(), box->width());
    } else if (qobject_cast<QPushButton*>(widget) != nullptr) {
      const int margin = widget->style()->pixelMetric(QStyle::PM_ButtonMargin);
      EXPECT_LE(metrics.horizontalAdvance(text) + 2 * margin, widget->width());
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      EXPECT_LE(metrics.horizontalAdvance(text) + 8, edit->width());
      EXPECT_LE(metrics.height() + 4, edit->height());
    } else {
      EXPECT_LE(metrics.horizontalAdvance(text), widget->contentsRect().width());
      EXPECT_LE(metrics.height(), widget->contentsRect().height());
    }
  }
}

// --- widget to model ---

TEST_F(QtWindowTest, CheckBoxClickRunsTheHandlerOnceAndShowsWhatTheModelKept) {
  struct Case {
    const char* name;
    bool handlerUnticks;  // the handler refuses the tick, as the satellite-system rules may
    bool hidden;          // the model ignores input to a hidden control
    bool checkedAfter;
    int runsAfter;
  };
  const Case cases[] = {
      {"plain click", false, false, true, 1},
      {"handler unticks", true, false, false, 2},
      {"hidden box", false, true, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    runs.clear();
    form.setHandler(ctl::PPS, {});
    form.setValue(ctl::PPS, 0);
    form.setVisible(ctl::PPS, !c.hidden);
    form.setHandler(ctl::PPS, [this, &c] {
      ++runs[ctl::PPS];
      if (c.handlerUnticks && form[ctl::PPS].value == 1) {
        form.setValue(ctl::PPS, 0);
      }
    });
    auto* box = native<QCheckBox>(ctl::PPS);
    if (c.hidden) {
      box->click();  // what a keyboard or accessibility activation does
    } else {
      QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    }
    EXPECT_EQ(box->isChecked(), c.checkedAfter);
    EXPECT_EQ(form[ctl::PPS].value, c.checkedAfter ? 1 : 0);
    EXPECT_EQ(runs[ctl::PPS], c.runsAfter);
  }
}

TEST_F(QtWindowTest, ClicksOnButtonsLabelsImageAndGraphReachTheModel) {
  for (const ControlId id : std::initializer_list<ControlId>{ctl::FindFreq, ctl::Label13, ctl::UTC,
                                                             ctl::Image1, ctl::PicSat}) {
    countRuns(id);
    QWidget* widget = window.widget(id);
    QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(widget->width() / 2, 3));
    EXPECT_EQ(runs[id], 1) << form.nameOf(id);
  }
}

TEST_F(QtWindowTest, ClickOnDisabledControlDoesNothing) {
  for (const ControlId id :
       std::initializer_list<ControlId>{ctl::PPS, ctl::FindFreq, ctl::Label13, ctl::Image1}) {
    countRuns(id);
    form.setEnabled(id, false);
    QWidget* widget = window.widget(id);
    QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(6, widget->height() / 2));
    EXPECT_EQ(runs[id], 0) << form.nameOf(id);
  }
  EXPECT_EQ(form[ctl::PPS].value, 0);
  EXPECT_FALSE(native<QCheckBox>(ctl::PPS)->isChecked());
}

TEST_F(QtWindowTest, ChoosingFromTheListForwardsTheIndex) {
  for (const char* item : {"Stationary", "Portable", "Airborne"}) {
    form.addItem(ctl::dynmodel, item);
  }
  form.setListIndex(ctl::dynmodel, 0);
  countRuns(ctl::dynmodel);
  auto* combo = native<QComboBox>(ctl::dynmodel);
  combo->setFocus();
  QTest::keyClick(combo, Qt::Key_Down);
  EXPECT_EQ(form[ctl::dynmodel].listIndex, 1);
  EXPECT_EQ(form[ctl::dynmodel].text, "Portable");
  EXPECT_EQ(runs[ctl::dynmodel], 1);
}

TEST_F(QtWindowTest, TypingForwardsTheTextWithoutMovingTheCursor) {
  form.setText(ctl::Out1Freq, "1000");
  auto* edit = native<QLineEdit>(ctl::Out1Freq);
  edit->setFocus();
  QTest::keyClick(edit, Qt::Key_Home);
  QTest::keyClick(edit, Qt::Key_Right);
  QTest::keyClicks(edit, "25");
  EXPECT_EQ(form[ctl::Out1Freq].text, "125000");
  EXPECT_EQ(edit->text(), QStringLiteral("125000"));
  EXPECT_EQ(edit->cursorPosition(), 3);
}

TEST_F(QtWindowTest, EnterInTextBoxSendsKeyThirteenAndNothingElseIsSent) {
  std::vector<int> keys;
  form.setKeyHandler(ctl::Out1Freq, [&keys](int& key) { keys.push_back(key); });
  auto* edit = native<QLineEdit>(ctl::Out1Freq);
  edit->setFocus();
  QTest::keyClicks(edit, "7");
  QTest::keyClick(edit, Qt::Key_Return);
  QTest::keyClick(edit, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(keys, (std::vector<int>{13, 13}));
}

TEST_F(QtWindowTest, ClosingTheWindowUnloadsOnce) {
  window.close();
  window.close();
  EXPECT_EQ(unloads, 1);
}

// --- the whole window ---

TEST(QtWindowOnSimulatedDevice, ComesUpFullSizeAndMirrorsTheControllersThread) {
  sim::SimHid hid;
  sim::DeviceProfile device;
  device.serial = u"QVR000001";
  hid.attach(device);
  sim::SimSystem system;
  QObject deliveries;
  std::unique_ptr<ui::ControllerThread> controller;
  controller = std::make_unique<ui::ControllerThread>(hid, system, [&] {
    QMetaObject::invokeMethod(
        &deliveries, [&] { controller->deliver(); }, Qt::QueuedConnection);
  });
  int unloads = 0;
  QtWindow window(controller->form(), *controller,
                  QtWindow::Hooks{.tick = [] {},
                                  .unload =
                                      [&] {
                                        ++unloads;
                                        controller->unload();
                                      }});
  controller->load();
  controller->drain();

  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.size(), QSize(500, 600));
  EXPECT_TRUE(window.timer(ctl::Timer)->isActive());

  auto expectMirrored = [&] {
    const ui::Form& form = controller->form();
    for (ControlId id = 0; id < form.size(); ++id) {
      const ui::Control& c = form[id];
      QWidget* widget = window.widget(id);
      if (widget == nullptr) {
        continue;
      }
      SCOPED_TRACE(form.nameOf(id));
      EXPECT_EQ(widget->isEnabledTo(widget->parentWidget()), c.enabled);
      EXPECT_EQ(widget->isHidden(), !c.visible);
      if (c.kind == ui::ControlKind::ComboBox) {
        auto* combo = qobject_cast<QComboBox*>(widget);
        EXPECT_EQ(combo->count(), static_cast<int>(c.items.size()));
        EXPECT_EQ(combo->currentIndex(), c.listIndex);
      } else if (c.kind == ui::ControlKind::CheckBox) {
        EXPECT_EQ(qobject_cast<QCheckBox*>(widget)->isChecked(), c.value == 1);
      }
      if (c.kind != ui::ControlKind::Image && c.kind != ui::ControlKind::PictureBox &&
          c.kind != ui::ControlKind::Shape && c.kind != ui::ControlKind::Line) {
        EXPECT_EQ(nativeText(widget).toStdString(), c.text);
      }
    }
  };
  expectMirrored();
  // Clicked on the window's thread, sent from the controller's: the box shows the device's state.
  ASSERT_TRUE(controller->form()[ctl::PPS].enabled);
  const int pps = controller->form()[ctl::PPS].value;
  QWidget* box = window.widget(ctl::PPS);
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
  for (int i = 0; i < 20; ++i) {
    controller->tick();
    controller->drain();
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(controller->form()[ctl::PPS].value, 1 - pps);
  expectMirrored();

  window.close();
  controller->drain();
  EXPECT_EQ(unloads, 1);
  EXPECT_FALSE(window.timer(ctl::Timer)->isActive());
}

}  // namespace
}  // namespace qvr::platform::qt
