#pragma once

#include <string>
#include <string_view>

namespace qvr::platform::win32 {

// The form model's texts are single bytes, built from the low byte of each UTF-16 code unit of
// the device strings; read as Latin-1 they map one to one onto UTF-16. The window uses the
// wide API with this mapping, so a text shows the same whatever the user's ANSI code page is,
// and the same as on the Qt front end.
[[nodiscard]] std::wstring widen(std::string_view text);

// What the user typed, back into single bytes. A character beyond Latin-1 has no such byte and
// becomes '?', as the ANSI conversion of an edit box's text would make it; a surrogate pair is
// one character and so one '?'.
[[nodiscard]] std::string narrow(std::wstring_view text);

}  // namespace qvr::platform::win32
