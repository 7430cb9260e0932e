#pragma once
// The categories a search can be narrowed to. The video service announces the
// categories of its library at "http://DATAHOST/feeds/api/categories":
//   <categories><category term='Music' count='12'/>...</categories>
// When it does not answer, the program offers a fixed list.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonabox {

// The choice that narrows nothing; always offered first.
inline constexpr char kAnyCategory[] = "Any";

// The category offered when none has been chosen yet.
inline constexpr char kDefaultCategory[] = "Music";

// The categories offered when the service announces none ("Any" not included).
const std::vector<std::string> &FixedCategories();

// The terms of an announcement, in its order: trimmed, control characters
// removed, at most 100 bytes each (whole UTF-8 characters), empty terms,
// "Any" and repeats (letter case aside) left out, at most 500 of them.
// Nothing when the text is not an announcement (not well-formed, another
// root element).
std::optional<std::vector<std::string>> ParseCategories(std::string_view text);

// Asks the configured data host for its categories; blocks for at most
// `deadline`. Nothing when it does not answer in time, refuses, or answers
// something else; an announcement of no categories is an empty list.
std::optional<std::vector<std::string>> FetchCategories(std::chrono::milliseconds deadline);

// The category as the feed address carries it: every byte other than an
// ASCII letter, digit, "-", ".", "_" or "~" percent-encoded ("Hip Hop" is
// "Hip%20Hop").
std::string CategoryForAddress(std::string_view category);

} // namespace sonabox
