#pragma once
// Small pure text functions shared across the program. Every text is a byte
// string: the bytes hashed, encoded and stored are exactly those of the string.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sonabox {

// SHA-1 of the bytes, as 40 upper-case hexadecimal digits.
std::string Sha1Hex(std::string_view text);

// Standard base64 (RFC 4648 alphabet, "=" padding), no line breaks.
std::string Base64Encode(std::string_view text);

// Decodes whole groups of four characters; a trailing partial group is ignored,
// and a padded group in the middle still yields its one or two bytes.
std::string Base64Decode(std::string_view text);

// The longest length that a playlist row's ten-character "Duration" text can
// hold whole: "9999999:59", about nineteen years. Anything longer is no real
// length, so it counts as unknown (0) rather than being cut to a wrong text.
inline constexpr int64_t kLongestDuration = 599'999'999;

// "m:ss" for a decimal number of seconds; text that is not an integer, or a
// length over kLongestDuration, counts as 0.
std::string SecondsToText(std::string_view seconds);

// Reads a decimal 32-bit signed integer (optional sign, digits only, no blanks).
// Returns false when the text is not one or does not fit.
bool TryParseInt32(std::string_view text, int &value);

// Removes every leading and trailing byte of code 32 or below.
std::string TrimControl(std::string_view text);

// An e-mail address a mail can go to: one "@" between a local part without
// blanks, controls or any of <>()[]\,;:" and a domain of at least two
// dot-separated labels (letters, digits, "-" and non-ASCII bytes; no "-" at
// either end), 254 bytes at most.
bool IsEmailAddress(std::string_view text);

// The longest prefix of at most maxBytes bytes that does not split a UTF-8
// sequence. Bytes that are not valid UTF-8 count as one character each.
std::string Utf8Cut(std::string_view text, std::size_t maxBytes);

// The text with every byte that is not part of a well-formed UTF-8 sequence
// (overlong forms, surrogates and code points above U+10FFFF included)
// replaced by U+FFFD, so that it can go into XML and HTML as it is.
std::string ValidUtf8(std::string_view text);

// Splits at CR LF, lone CR and lone LF. A final line break ends the last line
// without starting an empty one.
std::vector<std::string> SplitLines(std::string_view text);

// Writes the UTF-8 form of a character code at `out`, which has room for 4
// bytes, and returns the bytes written: 0 for a surrogate or a code above
// U+10FFFF, which are no characters.
std::size_t EncodeUtf8(std::uint32_t code, char *out);

} // namespace sonabox
