#include "diagnostics/os_version.h"

namespace qvr::diagnostics {
namespace {

constexpr std::uint16_t kSuitePersonal = 0x200;  // XP Home Edition
constexpr std::uint8_t kWorkstation = 1;
constexpr std::uint32_t kFirstWindows11Build = 22000;
constexpr const char* kUnrecognized = "Unrecognized Version";

std::string nameText(const WindowsVersionRecord& r) {
  const bool server = r.productType != kWorkstation;
  switch (r.majorVersion) {
    case 3:
      return server ? "Windows NT 3.5 Server" : "Windows NT 3.5 Workstation";
    case 4:
      return server ? "Windows NT 4.0 Server" : "Windows NT 4.0 Workstation";
    case 5:
      switch (r.minorVersion) {
        case 0:
          return server ? "Windows 2000 Server" : "Windows 2000 Workstation";
        case 1:
          return (r.suiteMask & kSuitePersonal) != 0 ? "Windows XP Home Edition"
                                                     : "Windows XP Professional";
        case 2:
          return server ? "Windows Server 2003" : "Windows XP 64-bit Edition";
        default:
          return kUnrecognized;
      }
    case 6:
      switch (r.minorVersion) {
        case 0:
          return server ? "Windows Server 2008" : "Windows Vista";
        case 1:
          return server ? "Windows Server 2008 R2" : "Windows 7";
        case 2:
          return server ? "Windows Server 2012" : "Windows 8";
        case 3:
          return server ? "Windows Server 2012 R2" : "Windows 8.1";
        default:
          return kUnrecognized;
      }
    case 10:
      // Every server of this major is named 2016, whatever its build.
      if (server) {
        return "Windows Server 2016";
      }
      return r.buildNumber >= kFirstWindows11Build ? "Windows 11" : "Windows 10";
    case 11:
      return "Windows 11";
    default:
      return kUnrecognized;
  }
}

std::string servicePackText(const WindowsVersionRecord& r) {
  if (r.servicePackMajor <= 0) {
    return {};
  }
  std::string text = " SP" + std::to_string(r.servicePackMajor);
  if (r.servicePackMinor > 0) {
    text += "." + std::to_string(r.servicePackMinor);
  }
  return text;
}

}  // namespace

std::string windowsVersionText(const std::optional<WindowsVersionRecord>& record) {
  if (!record) {
    return "Failed to retrieve Windows version";
  }
  return nameText(*record) + servicePackText(*record) + " (v" +
         std::to_string(record->majorVersion) + "." + std::to_string(record->minorVersion) + "." +
         std::to_string(record->buildNumber) + ")";
}

std::string linuxVersionText(std::string_view prettyName, std::string_view kernelRelease) {
  std::string text = prettyName.empty() ? "Linux" : std::string(prettyName);
  text += " (v";
  text += kernelRelease.empty() ? std::string_view("unknown") : kernelRelease;
  text += ")";
  return text;
}

std::string osReleasePrettyName(std::string_view osRelease) {
  constexpr std::string_view kKey = "PRETTY_NAME=";
  std::size_t lineStart = 0;
  while (lineStart < osRelease.size()) {
    std::size_t lineEnd = osRelease.find('\n', lineStart);
    if (lineEnd == std::string_view::npos) {
      lineEnd = osRelease.size();
    }
    std::string_view line = osRelease.substr(lineStart, lineEnd - lineStart);
    if (line.starts_with(kKey)) {
      std::string_view value = line.substr(kKey.size());
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
          value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
      }
      // Only printable ASCII reaches the address: it is sent without any encoding.
      std::string name;
      for (const char c : value) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
          name.push_back(c);
        }
      }
      return name;
    }
    lineStart = lineEnd + 1;
  }
  return {};
}

}  // namespace qvr::diagnostics
