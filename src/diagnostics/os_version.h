#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qvr::diagnostics {

// The fields of the operating system's extended version record that name a Windows version.
struct WindowsVersionRecord {
  std::uint32_t majorVersion = 0;
  std::uint32_t minorVersion = 0;
  std::uint32_t buildNumber = 0;
  std::int16_t servicePackMajor = 0;
  std::int16_t servicePackMinor = 0;
  std::uint16_t suiteMask = 0;
  std::uint8_t productType = 0;  // 1 workstation; anything else counts as a server
};

// One line such as "Windows 10 (v10.0.19045)" or "Windows XP Professional SP3 (v5.1.2600)";
// without a record (the version query failed), "Failed to retrieve Windows version".
[[nodiscard]] std::string windowsVersionText(const std::optional<WindowsVersionRecord>& record);

// The same one-line form for Linux, which has no such record: the distribution's name as
// os-release gives it, then the kernel release, "Debian GNU/Linux 12 (bookworm) (v6.1.0-18-amd64)".
[[nodiscard]] std::string linuxVersionText(std::string_view prettyName,
                                           std::string_view kernelRelease);

// PRETTY_NAME from the text of an os-release file, unquoted; empty when it has none.
[[nodiscard]] std::string osReleasePrettyName(std::string_view osRelease);

}  // namespace qvr::diagnostics
