#pragma once

#include <QString>
#include <string>

namespace qvr::platform::qt {

// The form model's texts are single-byte characters, as the device strings are built from
// one low byte per code unit; Latin-1 maps those bytes one to one and back.
inline QString toQt(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Characters beyond Latin-1 have no single-byte form; they become '?', as a Windows ANSI
// conversion would make them.
inline std::string fromQt(const QString& text) {
  const QByteArray bytes = text.toLatin1();
  return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

}  // namespace qvr::platform::qt
