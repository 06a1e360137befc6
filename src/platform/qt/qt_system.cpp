#include "platform/qt/qt_system.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QLocale>
#include <QMessageBox>
#include <QThread>
#include <QUrl>

#include <iostream>
#include <thread>
#include <utility>

#include "platform/linux/linux_system.h"
#include "platform/qt/text.h"

namespace qvr::platform::qt {

void QtSystem::sleep(std::chrono::milliseconds duration) {
  if (duration.count() > 0) {
    QThread::msleep(static_cast<unsigned long>(duration.count()));
  }
}

bool QtSystem::setSystemTime(const UtcTime& time) {
  // The window never holds the right itself (see setRealTimeClock), so the time service asks the
  // administrator, who may take a minute to answer: the window must not wait for that. The
  // offset is measured now, when the receiver's time arrived, so the answer may come late.
  const hidraw::ClockAttempt attempt = hidraw::setRealTimeClockDirectly(time);
  const std::lock_guard lock(clock_->mutex);
  if (attempt.done) {
    clock_->refusal = attempt.done->refusal;
    return attempt.done->set;
  }
  if (clock_->waiting) {
    clock_->refusal = "an earlier request is still waiting for the administrator";
    return false;
  }
  clock_->waiting = true;
  clock_->refusal.clear();
  std::thread([request = clock_, offset = attempt.offsetMicroseconds] {
    const hidraw::ClockResult result = hidraw::askTimeServiceToShift({}, offset);
    const std::lock_guard done(request->mutex);
    request->waiting = false;
    request->refusal = result.refusal;
  }).detach();
  return true;
}

std::string QtSystem::clockRefusal() const {
  const std::lock_guard lock(clock_->mutex);
  return clock_->refusal;
}

void QtSystem::openAddress(const std::string& address) {
  // The desktop's URL handler is started directly with the address as its one argument; no
  // shell ever sees it. Addresses come already percent-encoded, so they are taken strictly
  // rather than patched up: a %23 in a value stays %23 and never turns into a fragment.
  QDesktopServices::openUrl(
      QUrl::fromEncoded(QByteArray::fromStdString(address), QUrl::StrictMode));
}

std::string QtSystem::operatingSystemVersion() {
  return hidraw::linuxVersion();
}

void QtSystem::messageBox(const std::string& title, const std::string& text) {
  if (headless_) {
    std::cerr << title << ": " << text << '\n';
    return;
  }
  // The model separates lines the Windows way; a bare "\r" would show as a box glyph.
  QString body = toQt(text);
  body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(QMessageBox::Information, toQt(title), body, QMessageBox::Ok,
                  dialogParent_.data());
  box.exec();
}

void QtSystem::doEvents() {
  QCoreApplication::processEvents();
}

char QtSystem::decimalSeparator() {
  const QString point = QLocale::system().decimalPoint();
  // A separator outside Latin-1 (Arabic, Persian) has no single-byte form; the point is what
  // the number parser then falls back to as well.
  if (point.isEmpty() || point.at(0).unicode() > 0xFF) {
    return '.';
  }
  return point.at(0).toLatin1();
}

}  // namespace qvr::platform::qt
