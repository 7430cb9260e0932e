#include "core/common/TextHelpers.h"

#include <QCryptographicHash>

#include <array>
#include <cctype>
#include <charconv>

namespace sonabox {

namespace {
constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of a base64 character; characters outside the alphabet (and "=") read
// as 0, which only matters for input that no caller produces.
unsigned Base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return 0;
}
} // namespace

std::string Sha1Hex(std::string_view text) {
  const QByteArray digest = QCryptographicHash::hash(
      QByteArrayView(text.data(), static_cast<qsizetype>(text.size())), QCryptographicHash::Sha1);
  return digest.toHex().toUpper().toStdString();
}

std::string Base64Encode(std::string_view text) {
  std::string out;
  out.reserve(4 * ((text.size() + 2) / 3));
  std::size_t i = 0;
  for (; i + 3 <= text.size(); i += 3) {
    const unsigned n = (static_cast<unsigned char>(text[i]) << 16) |
                       (static_cast<unsigned char>(text[i + 1]) << 8) |
                       static_cast<unsigned char>(text[i + 2]);
    out += kBase64Alphabet[(n >> 18) & 63];
    out += kBase64Alphabet[(n >> 12) & 63];
    out += kBase64Alphabet[(n >> 6) & 63];
    out += kBase64Alphabet[n & 63];
  }
  const std::size_t rest = text.size() - i;
  if (rest == 1) {
    const unsigned n = static_cast<unsigned char>(text[i]) << 16;
    out += kBase64Alphabet[(n >> 18) & 63];
    out += kBase64Alphabet[(n >> 12) & 63];
    out += "==";
  } else if (rest == 2) {
    const unsigned n = (static_cast<unsigned char>(text[i]) << 16) |
                       (static_cast<unsigned char>(text[i + 1]) << 8);
    out += kBase64Alphabet[(n >> 18) & 63];
    out += kBase64Alphabet[(n >> 12) & 63];
    out += kBase64Alphabet[(n >> 6) & 63];
    out += '=';
  }
  return out;
}

std::string Base64Decode(std::string_view text) {
  std::string out;
  const std::size_t groups = text.size() / 4;
  out.reserve(groups * 3);
  for (std::size_t g = 0; g < groups; ++g) {
    const auto *c = reinterpret_cast<const unsigned char *>(text.data() + 4 * g);
    const unsigned v0 = Base64Value(c[0]), v1 = Base64Value(c[1]);
    out += static_cast<char>((v0 << 2) | (v1 >> 4));
    if (c[2] == '=') continue;
    const unsigned v2 = Base64Value(c[2]);
    out += static_cast<char>(((v1 & 15) << 4) | (v2 >> 2));
    if (c[3] == '=') continue;
    const unsigned v3 = Base64Value(c[3]);
    out += static_cast<char>(((v2 & 3) << 6) | v3);
  }
  return out;
}

bool TryParseInt32(std::string_view text, int &value) {
  if (text.empty()) return false;
  std::size_t start = 0;
  if (text[0] == '+') start = 1; // from_chars accepts "-" but not "+"
  if (start == text.size() || (start == 1 && text[start] == '-')) return false;
  int parsed = 0;
  const char *first = text.data() + start, *last = text.data() + text.size();
  const auto [end, ec] = std::from_chars(first, last, parsed);
  if (ec != std::errc() || end != last) return false;
  value = parsed;
  return true;
}

std::string SecondsToText(std::string_view seconds) {
  int total = 0;
  if (!TryParseInt32(seconds, total) || total > kLongestDuration) total = 0;
  const long long value = total < 0 ? 0 : total; // no caller passes a negative number
  const long long minutes = value / 60, rest = value % 60;
  return std::to_string(minutes) + (rest < 10 ? ":0" : ":") + std::to_string(rest);
}

std::string TrimControl(std::string_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
  return std::string(text.substr(begin, end - begin));
}

bool IsEmailAddress(std::string_view text) {
  const std::size_t at = text.find('@');
  if (at == std::string_view::npos || text.size() > 254) return false;
  const std::string_view local = text.substr(0, at), domain = text.substr(at + 1);
  if (local.empty() || local.size() > 64) return false;
  for (const char c : local)
    if (static_cast<unsigned char>(c) <= 32 || c == 127 ||
        std::string_view("<>()[]\\,;:\"@").find(c) != std::string_view::npos)
      return false;
  std::size_t labels = 0;
  for (std::size_t start = 0; start <= domain.size(); ++labels) {
    std::size_t end = domain.find('.', start);
    if (end == std::string_view::npos) end = domain.size();
    const std::string_view label = domain.substr(start, end - start);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
      return false;
    for (const char c : label)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' &&
          static_cast<unsigned char>(c) < 128)
        return false;
    start = end + 1;
  }
  return labels >= 2;
}

std::string Utf8Cut(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF)
      length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
      length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
      length = 4;
    // A sequence with missing continuation bytes counts byte by byte.
    for (std::size_t k = 1; k < length; ++k) {
      if (pos + k >= text.size() || (static_cast<unsigned char>(text[pos + k]) & 0xC0) != 0x80) {
        length = 1;
        break;
      }
    }
    if (pos + length > maxBytes) break;
    pos += length;
  }
  return std::string(text.substr(0, pos));
}

std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead < 0x80) {
      length = 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    }
    bool whole = length > 0 && pos + length <= text.size();
    for (std::size_t k = 1; whole && k < length; ++k) {
      const auto byte = static_cast<unsigned char>(text[pos + k]);
      whole = k == 1 ? byte >= low && byte <= high : (byte & 0xC0) == 0x80;
    }
    if (whole) {
      out += text.substr(pos, length);
      pos += length;
    } else {
      out += "\xEF\xBF\xBD";
      ++pos;
    }
  }
  return out;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0, i = 0;
  while (i < text.size()) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

std::size_t EncodeUtf8(std::uint32_t code, char *out) {
  if (code < 0x80) {
    out[0] = static_cast<char>(code);
    return 1;
  }
  if (code < 0x800) {
    out[0] = static_cast<char>(0xC0 | (code >> 6));
    out[1] = static_cast<char>(0x80 | (code & 0x3F));
    return 2;
  }
  if (code >= 0xD800 && code <= 0xDFFF) return 0;
  if (code < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (code >> 12));
    out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (code & 0x3F));
    return 3;
  }
  if (code > 0x10FFFF) return 0;
  out[0] = static_cast<char>(0xF0 | (code >> 18));
  out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (code & 0x3F));
  return 4;
}

} // namespace sonabox
