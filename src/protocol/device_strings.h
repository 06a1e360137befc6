#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qvr::protocol {

// Device strings arrive as UTF-16; the text keeps the low byte of each code unit as one ANSI
// character and ends at the first code unit whose low byte is zero (or at the buffer's end).
[[nodiscard]] std::string deviceStringText(std::span<const std::uint8_t> buffer);

// Such a text as UTF-8, for what must be UTF-8 (Prometheus labels, web pages): each byte becomes
// the character of the same number, so no byte the device sent is lost or misread.
[[nodiscard]] std::string deviceTextAsUtf8(const std::string& text);

// UTF-8 as the kernel keeps device strings and as a command line is typed. Nothing is refused:
// every maximal ill-formed subsequence (a stray continuation byte, an overlong form, a
// surrogate, a value past U+10FFFF, a sequence cut short) becomes one U+FFFD, so the characters
// around it survive and a string from a device that sends garbage still has a length.
[[nodiscard]] std::u32string decodeUtf8(std::string_view bytes);
// The character of well-formed UTF-8 that starts at `i`, with `i` moved past it; nothing, with
// `i` moved past one byte, where none starts: a stray continuation byte, a sequence cut short, an
// overlong form, a surrogate or a value beyond U+10FFFF.
[[nodiscard]] std::optional<char32_t> nextUtf8(std::string_view text, std::size_t& i);
// A value that is no Unicode scalar value (a surrogate, past U+10FFFF) is written as U+FFFD.
[[nodiscard]] std::string encodeUtf8(std::u32string_view text);

// Text as a device string buffer holds it: UTF-16 little-endian, zero-filled, as many code units
// as fit, zero-terminated only when there is room. A character that needs a surrogate pair and
// finds room for one unit only is left out rather than cut in half; a value that is no Unicode
// scalar value becomes U+FFFD.
void encodeDeviceString(std::u32string_view text, std::span<std::uint8_t> buffer);

}  // namespace qvr::protocol
