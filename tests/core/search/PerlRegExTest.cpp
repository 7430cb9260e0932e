#include "core/search/PerlRegEx.h"

#include <gtest/gtest.h>

using namespace sonabox;

TEST(RegExFirstMatch, GroupOfFirstMatchOrEmpty) {
  EXPECT_EQ(RegExFirstMatch("totalResults>([0-9]{1,})<", "<x:totalResults>26</x>", 1), "26");
  EXPECT_EQ(RegExFirstMatch("totalResults>([0-9]{1,})<", "ERROR", 1), "");
  EXPECT_EQ(RegExFirstMatch("(a)", "", 1), "");      // an empty subject never matches
  EXPECT_EQ(RegExFirstMatch("(a)", "xa", 0), "a");   // group 0 is the whole match
  EXPECT_EQ(RegExFirstMatch("(a)", "xa", 5), "");    // beyond the groups
  EXPECT_EQ(RegExFirstMatch("(a)|(b)", "b", 1), ""); // a group that took no part
}

TEST(RegExFirstMatch, CaselessAndDotAll) {
  EXPECT_EQ(RegExFirstMatch("<entry>(.*?)</entry>", "<ENTRY>one\r\ntwo</Entry>", 1), "one\r\ntwo");
}

TEST(RegExFirstMatch, NeverAcceptsAnEmptyMatch) {
  // "x*" would match the empty string at offset 0; not-empty pushes it on to "xx".
  EXPECT_EQ(RegExFirstMatch("(x*)", "abxx", 1), "xx");
  EXPECT_EQ(RegExFirstMatch("(x*)", "abc", 1), "");
}

TEST(RegExAllMatches, AppendsInDocumentOrder) {
  std::vector<std::string> list{"kept"};
  RegExAllMatches("<entry>(.*?)</entry>", "<entry>a</entry> <ENTRY>b\nc</ENTRY><entry></entry>", 1,
                  list);
  EXPECT_EQ(list, (std::vector<std::string>{"kept", "a", "b\nc", ""}));

  std::vector<std::string> untouched{"x"};
  RegExAllMatches("<entry>(.*?)</entry>", "nothing here", 1, untouched);
  EXPECT_EQ(untouched, std::vector<std::string>{"x"});

  std::vector<std::string> beyond;
  RegExAllMatches("<e>(.)</e>", "<e>1</e><e>2</e>", 3, beyond);
  EXPECT_EQ(beyond, (std::vector<std::string>{"", ""}));
}

TEST(RegExErrors, Messages) {
  try {
    RegExFirstMatch("", "subject", 1);
    FAIL();
  } catch (const ERegExError &e) {
    EXPECT_STREQ(e.what(),
                 "TPerlRegEx.Compile() - Please specify a regular expression in RegEx first");
  }
  try {
    RegExFirstMatch("ab(c", "subject", 1);
    FAIL();
  } catch (const ERegExError &e) {
    EXPECT_EQ(std::string(e.what()),
              "TPerlRegEx.Compile() - Error in regex at offset 4: missing closing parenthesis");
  }
}

TEST(TPerlRegEx, HighBytesAreSingleCharacters) {
  // No UTF mode: each byte is one character, so "." takes one byte of a sequence.
  EXPECT_EQ(RegExFirstMatch("a(.)", "a\xc3\xa9", 1), "\xc3");
}
