#include "platform/qt/qt_system.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace qvr::platform::qt {
namespace {

struct SeenBox {
  bool seen = false;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString title;
  QString text;
  int buttons = 0;
};

TEST(QtSystem, MessageBoxIsModalWithInformationIconAndOkAndSplitsLines) {
  QtSystem system;
  SeenBox seen;
  // The box blocks until it is answered, so it is read and answered from a timer.
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
      return;
    }
    seen = {true, box->icon(), box->windowTitle(), box->text(),
            static_cast<int>(box->buttons().size())};
    box->button(QMessageBox::Ok)->click();
  });
  answer.start(5);

  system.messageBox("Unsupported Hardware", "Firmware 0.9 is not supported.\r\nPlease update.");

  ASSERT_TRUE(seen.seen);
  EXPECT_EQ(seen.icon, QMessageBox::Information);
  EXPECT_EQ(seen.title, QStringLiteral("Unsupported Hardware"));
  EXPECT_EQ(seen.text, QStringLiteral("Firmware 0.9 is not supported.\nPlease update."));
  EXPECT_EQ(seen.buttons, 1);
}

TEST(QtSystem, HeadlessMessageBoxDoesNotWaitForAnAnswer) {
  QtSystem system;
  system.setHeadless(true);
  testing::internal::CaptureStderr();
  system.messageBox("Unsupported Hardware", "text");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unsupported Hardware: text\n");
}

}  // namespace
}  // namespace qvr::platform::qt
