#pragma once
// Pattern matching on PCRE2 (8-bit, no UTF mode). Every piece of text that the
// program takes out of a web answer is cut out through these functions.
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct pcre2_real_code_8;
struct pcre2_real_match_data_8;

namespace sonabox {

// Raised for an empty pattern or one that the engine rejects.
class ERegExError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A matcher over one subject. Character tables are built from the user's
// locale when the matcher is created; every match runs with the not-empty
// option, so a match of zero length is never accepted.
class TPerlRegEx {
public:
  enum TOption : unsigned {
    preCaseLess = 1u << 0,
    preMultiLine = 1u << 1,
    preSingleLine = 1u << 2,
    preExtended = 1u << 3,
    preAnchored = 1u << 4,
    preDollarEndOnly = 1u << 5,
    preExtra = 1u << 6, // the engine always behaves so; kept for completeness of the set
    preUnGreedy = 1u << 7,
  };

  TPerlRegEx();
  ~TPerlRegEx();
  TPerlRegEx(const TPerlRegEx &) = delete;
  TPerlRegEx &operator=(const TPerlRegEx &) = delete;

  const std::string &RegEx() const { return regEx_; }
  void SetRegEx(std::string_view pattern); // a different pattern discards the compiled form
  unsigned Options() const { return options_; }
  void SetOptions(unsigned options);         // a different set discards the compiled form
  void SetSubject(std::string_view subject); // and starts searching from its beginning

  bool Match();      // first search from the start of the subject
  bool MatchAgain(); // next search from where the last match ended

  int GroupCount() const { return groupCount_; }
  std::string Group(int index) const;

private:
  void Compile();
  bool Search(std::size_t from);

  std::string regEx_;
  unsigned options_ = 0;
  std::string subject_;
  const unsigned char *tables_ = nullptr;
  pcre2_real_code_8 *code_ = nullptr;
  pcre2_real_match_data_8 *matchData_ = nullptr;
  int groupCount_ = -1;
  std::size_t matchEnd_ = 0;
};

// Group `group` of the first match (caseless, the dot matches line breaks), or
// empty text when there is no match.
std::string RegExFirstMatch(std::string_view pattern, std::string_view subject, int group);

// Appends group `group` of every match, left to right and never overlapping, to
// `list`; items already in the list stay in front.
void RegExAllMatches(std::string_view pattern, std::string_view subject, int group,
                     std::vector<std::string> &list);

} // namespace sonabox
