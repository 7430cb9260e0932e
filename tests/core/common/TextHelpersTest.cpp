#include "core/common/TextHelpers.h"

#include <gtest/gtest.h>

using namespace sonabox;

TEST(Sha1Hex, KnownDigestsInUpperCase) {
  EXPECT_EQ(Sha1Hex(""), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
  EXPECT_EQ(Sha1Hex("abc"), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  // Bytes are hashed as they are, NUL and high bytes included.
  EXPECT_EQ(Sha1Hex(std::string("\0\xff", 2)), Sha1Hex(std::string("\0\xff", 2)));
  EXPECT_NE(Sha1Hex(std::string("\0", 1)), Sha1Hex(""));
}

TEST(Base64, EncodeTable) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"", ""},        {"f", "Zg=="},          {"fo", "Zm8="},
      {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}, {std::string("\0\xff\xfe", 3), "AP/+"},
  };
  for (const auto &c : cases) EXPECT_EQ(Base64Encode(c.in), c.out) << c.in;
  const std::string encoded = Base64Encode(std::string(57, 'x'));
  EXPECT_EQ(encoded.size(), 76u);
  EXPECT_EQ(encoded.find('\n'), std::string::npos);
}

TEST(Base64, DecodeRules) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"Zm9", ""}, // fewer than four characters
      {"Zm9v", "foo"},
      {"Zm9vY", "foo"}, // a stray character after a whole group is ignored
      {"Zg==", "f"},
      {"Zm8=", "fo"},
      {"Zg==Zm9v", "ffoo"}, // a padded group in the middle still counts
      {"AP/+", std::string("\0\xff\xfe", 3)},
  };
  for (const auto &c : cases) EXPECT_EQ(Base64Decode(c.in), c.out) << c.in;
}

TEST(Base64, RoundTripsEveryByte) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  EXPECT_EQ(Base64Decode(Base64Encode(all)), all);
}

TEST(SecondsToText, Table) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"0", "0:00"},
      {"9", "0:09"},
      {"59", "0:59"},
      {"60", "1:00"},
      {"125", "2:05"},
      {"3600", "60:00"},
      {"abc", "0:00"},
      {"", "0:00"},
      {"12x", "0:00"},
      {"99999999999", "0:00"},
      // the longest length whose text fits a playlist row, and one second more
      {"599999999", "9999999:59"},
      {"600000000", "0:00"},
      {"2147483647", "0:00"},
  };
  for (const auto &c : cases) EXPECT_EQ(SecondsToText(c.in), c.out) << c.in;
}

TEST(TrimControl, RemovesBlanksAndControlsAtBothEnds) {
  EXPECT_EQ(TrimControl("  word  \r\n"), "word");
  EXPECT_EQ(TrimControl("\t\x01 a b \x1f"), "a b");
  EXPECT_EQ(TrimControl(" \r\n "), "");
}

TEST(IsEmailAddress, Table) {
  const std::pair<std::string, bool> cases[] = {
      {"bob@example.com", true},
      {"first.last+tag@mail.example.co.uk", true},
      {"jörg@bücher.de", true},
      {"not-an-email", false},
      {"", false},
      {"@example.com", false},
      {"bob@", false},
      {"bob@localhost", false},
      {"bob@@example.com", false},
      {"bob@exa mple.com", false},
      {"bob smith@example.com", false},
      {"bob@example..com", false},
      {"bob@-example.com", false},
      {"bob@example.com.", false},
      {"<bob@example.com>", false},
      {"bob@example.com, eve@example.com", false},
      {"bob@example.com\r\nBcc: eve@example.com", false},
      {std::string(65, 'a') + "@example.com", false},
      {"a@" + std::string(250, 'b') + ".com", false},
  };
  for (const auto &[text, valid] : cases) EXPECT_EQ(IsEmailAddress(text), valid) << text;
}

TEST(Utf8Cut, NeverSplitsACharacter) {
  const std::string text = "ab\xc3\xa9\xe2\x82\xac"; // "abé€": 2 + 2 + 3 bytes
  const struct {
    std::size_t limit;
    std::string out;
  } cases[] = {
      {7, text}, {6, "ab\xc3\xa9"}, {4, "ab\xc3\xa9"}, {3, "ab"}, {2, "ab"}, {0, ""},
  };
  for (const auto &c : cases) EXPECT_EQ(Utf8Cut(text, c.limit), c.out) << c.limit;
  // Bytes that are not UTF-8 count one by one.
  EXPECT_EQ(Utf8Cut("\xff\xfe\xfd", 2), "\xff\xfe");
}

TEST(ValidUtf8, ReplacesEveryByteOutsideAWellFormedSequence) {
  const std::string r = "\xef\xbf\xbd";
  const struct {
    std::string in, out;
  } cases[] = {
      {"Zo\xc3\xab \xe2\x82\xac \xf0\x9f\x8e\xb5", "Zo\xc3\xab \xe2\x82\xac \xf0\x9f\x8e\xb5"},
      {"Zo\xeb", "Zo" + r},                // Latin-1
      {"\xc3", r},                         // cut short
      {"\xc3(", r + "("},                  // a lead byte without its continuation
      {"\xc0\xaf", r + r},                 // overlong "/"
      {"\xe0\x80\xaf", r + r + r},         // overlong, three bytes
      {"\xed\xa0\x80", r + r + r},         // a surrogate
      {"\xf4\x90\x80\x80", r + r + r + r}, // above U+10FFFF
      {"\xbf", r},                         // a lone continuation byte
      {"", ""},
  };
  for (const auto &c : cases) EXPECT_EQ(ValidUtf8(c.in), c.out) << c.in;
}

TEST(SplitLines, EveryLineBreakKind) {
  EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("41\r\n"), (std::vector<std::string>{"41"}));
  EXPECT_EQ(SplitLines("a\n\nb"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_TRUE(SplitLines("").empty());
}

TEST(EncodeUtf8, EachLengthAndTheCodesThatAreNoCharacters) {
  const struct {
    std::uint32_t code;
    std::string bytes;
  } cases[] = {
      {0x41, "A"},
      {0x7F, "\x7F"},
      {0xE9, "\xC3\xA9"},
      {0x20AC, "\xE2\x82\xAC"},
      {0xFFFD, "\xEF\xBF\xBD"},
      {0x1F600, "\xF0\x9F\x98\x80"},
      {0x10FFFF, "\xF4\x8F\xBF\xBF"},
      {0xD800, ""}, // a surrogate
      {0xDFFF, ""},
      {0x110000, ""}, // beyond Unicode
  };
  for (const auto &c : cases) {
    char out[4];
    EXPECT_EQ(std::string(out, sonabox::EncodeUtf8(c.code, out)), c.bytes) << std::hex << c.code;
  }
}
