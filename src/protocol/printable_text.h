#pragma once

#include <string>
#include <string_view>

namespace qvr::protocol {

// How the bytes of a string are to be read. Device strings keep the low byte of each UTF-16 code
// unit, so each of their bytes is one character U+0000 to U+00FF; text of our own and of the
// system (paths, error messages, what hidapi hands over) is UTF-8.
enum class TextBytes { Utf8, Latin1 };

// `text` safe to write to a terminal. A device names itself, and a serial number carrying ESC
// sequences would otherwise retitle or clear the terminal of whoever lists it, so every control
// character (C0, DEL and C1, U+0080 to U+009F) becomes \u and the four hex digits of its code
// point, as JSON writes it: ESC is \u001b, CSI \u009b. In UTF-8 text a byte that starts no
// character becomes \x and its two hex digits, since on a terminal that is not set to UTF-8 a
// lone 0x9b is CSI again. Everything else passes unchanged: printable ASCII, the backslash
// (Windows device paths are full of them; `--json` gives any text exactly), the characters from
// U+00A0 on. A device string comes out in UTF-8 too, each byte the character of the same number,
// as the JSON writes it.
[[nodiscard]] std::string printableText(std::string_view text, TextBytes bytes = TextBytes::Utf8);

}  // namespace qvr::protocol
