#include "platform/qt/qt_system.h"

#include <sys/utsname.h>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QLocale>
#include <QMessageBox>
#include <QThread>
#include <QUrl>

#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>

#include "diagnostics/os_version.h"
#include "platform/qt/text.h"

namespace qvr::platform::qt {

void QtSystem::sleep(std::chrono::milliseconds duration) {
  if (duration.count() > 0) {
    QThread::msleep(static_cast<unsigned long>(duration.count()));
  }
}

bool QtSystem::setSystemTime(const UtcTime& time) {
  // timegm would quietly carry a 13th month into the next year: refuse what is not a time.
  const bool valid = time.year >= 1970 && time.month >= 1 && time.month <= 12 && time.day >= 1 &&
                     time.day <= 31 && time.hour >= 0 && time.hour < 24 && time.minute >= 0 &&
                     time.minute < 60 && time.second >= 0 && time.second <= 60 &&
                     time.milliseconds >= 0 && time.milliseconds < 1000;
  if (!valid) {
    return false;
  }
  std::tm fields{};
  fields.tm_year = time.year - 1900;
  fields.tm_mon = time.month - 1;
  fields.tm_mday = time.day;
  fields.tm_hour = time.hour;
  fields.tm_min = time.minute;
  fields.tm_sec = time.second;
  const std::time_t seconds = timegm(&fields);
  if (seconds == static_cast<std::time_t>(-1)) {
    return false;
  }
  const timespec now{seconds, static_cast<long>(time.milliseconds) * 1'000'000L};
  return clock_settime(CLOCK_REALTIME, &now) == 0;
}

void QtSystem::openAddress(const std::string& address) {
  // The desktop's URL handler is started directly with the address as its one argument; no
  // shell ever sees it. Addresses come already percent-encoded, so they are taken strictly
  // rather than patched up: a %23 in a value stays %23 and never turns into a fragment.
  QDesktopServices::openUrl(
      QUrl::fromEncoded(QByteArray::fromStdString(address), QUrl::StrictMode));
}

std::string QtSystem::operatingSystemVersion() {
  utsname names{};
  const std::string kernel = uname(&names) == 0 ? names.release : "";
  std::string osRelease;
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    std::ifstream file(path);
    if (file) {
      osRelease.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
      break;
    }
  }
  return diagnostics::linuxVersionText(diagnostics::osReleasePrettyName(osRelease), kernel);
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
