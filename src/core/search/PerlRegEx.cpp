#include "core/search/PerlRegEx.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace sonabox {

namespace {
// Room for the whole match and 99 groups.
constexpr uint32_t kOutputPairs = 100;

uint32_t CompileFlags(unsigned options) {
  uint32_t flags = 0;
  if (options & TPerlRegEx::preCaseLess) flags |= PCRE2_CASELESS;
  if (options & TPerlRegEx::preMultiLine) flags |= PCRE2_MULTILINE;
  if (options & TPerlRegEx::preSingleLine) flags |= PCRE2_DOTALL;
  if (options & TPerlRegEx::preExtended) flags |= PCRE2_EXTENDED;
  if (options & TPerlRegEx::preAnchored) flags |= PCRE2_ANCHORED;
  if (options & TPerlRegEx::preDollarEndOnly) flags |= PCRE2_DOLLAR_ENDONLY;
  if (options & TPerlRegEx::preUnGreedy) flags |= PCRE2_UNGREEDY;
  return flags;
}
} // namespace

TPerlRegEx::TPerlRegEx()
    : tables_(pcre2_maketables(nullptr)),
      matchData_(pcre2_match_data_create(kOutputPairs, nullptr)) {}

TPerlRegEx::~TPerlRegEx() {
  pcre2_code_free(code_);
  pcre2_match_data_free(matchData_);
  pcre2_maketables_free(nullptr, tables_);
}

void TPerlRegEx::SetRegEx(std::string_view pattern) {
  if (pattern == regEx_) return;
  regEx_ = pattern;
  pcre2_code_free(code_);
  code_ = nullptr;
}

void TPerlRegEx::SetOptions(unsigned options) {
  if (options == options_) return;
  options_ = options;
  pcre2_code_free(code_);
  code_ = nullptr;
}

void TPerlRegEx::SetSubject(std::string_view subject) {
  subject_ = subject;
  groupCount_ = -1;
  matchEnd_ = 0;
}

void TPerlRegEx::Compile() {
  if (regEx_.empty())
    throw ERegExError("TPerlRegEx.Compile() - Please specify a regular expression in RegEx first");
  pcre2_compile_context *context = pcre2_compile_context_create(nullptr);
  pcre2_set_character_tables(context, tables_);
  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(regEx_.data()), regEx_.size(),
                        CompileFlags(options_), &errorCode, &errorOffset, context);
  pcre2_compile_context_free(context);
  if (!code_) {
    PCRE2_UCHAR message[256];
    pcre2_get_error_message(errorCode, message, sizeof message);
    throw ERegExError("TPerlRegEx.Compile() - Error in regex at offset " +
                      std::to_string(errorOffset) + ": " + reinterpret_cast<const char *>(message));
  }
}

bool TPerlRegEx::Search(std::size_t from) {
  if (!code_) Compile();
  groupCount_ = -1;
  if (subject_.empty() || from > subject_.size()) return false;
  const int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(subject_.data()), subject_.size(),
                             from, PCRE2_NOTEMPTY, matchData_, nullptr);
  if (rc < 1) return false;
  groupCount_ = rc - 1;
  const PCRE2_SIZE *ovector = pcre2_get_ovector_pointer(matchData_);
  matchEnd_ = ovector[1] > ovector[0] ? ovector[1] : ovector[1] + 1;
  return true;
}

bool TPerlRegEx::Match() { return Search(0); }

bool TPerlRegEx::MatchAgain() { return Search(matchEnd_); }

std::string TPerlRegEx::Group(int index) const {
  if (index < 0 || index > groupCount_) return {};
  const PCRE2_SIZE *ovector = pcre2_get_ovector_pointer(matchData_);
  const PCRE2_SIZE begin = ovector[2 * index], end = ovector[2 * index + 1];
  if (begin == PCRE2_UNSET || end < begin) return {};
  return subject_.substr(begin, end - begin);
}

std::string RegExFirstMatch(std::string_view pattern, std::string_view subject, int group) {
  TPerlRegEx regex;
  regex.SetRegEx(pattern);
  regex.SetOptions(TPerlRegEx::preCaseLess | TPerlRegEx::preSingleLine);
  regex.SetSubject(subject);
  return regex.Match() ? regex.Group(group) : std::string();
}

void RegExAllMatches(std::string_view pattern, std::string_view subject, int group,
                     std::vector<std::string> &list) {
  TPerlRegEx regex;
  regex.SetRegEx(pattern);
  regex.SetOptions(TPerlRegEx::preCaseLess | TPerlRegEx::preSingleLine);
  regex.SetSubject(subject);
  for (bool found = regex.Match(); found; found = regex.MatchAgain())
    list.push_back(regex.Group(group));
}

} // namespace sonabox
