#include "Router.h"

#include "FileServing.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <stdexcept>

namespace sonabox::server {

namespace {

unsigned MethodBit(const std::string &method) {
  if (method == "GET") return kGet;
  if (method == "HEAD") return kHead;
  if (method == "POST") return kPost;
  return 0;
}

struct TCodeFree {
  void operator()(pcre2_code *code) const { pcre2_code_free(code); }
};
struct TMatchFree {
  void operator()(pcre2_match_data *data) const { pcre2_match_data_free(data); }
};

} // namespace

struct TRouteTable::TCompiled {
  unsigned Methods;
  // A compiled pattern is read-only while matching, so threads share it.
  std::unique_ptr<pcre2_code, TCodeFree> Code;
  TRouteHandler Handler;
};

TRouteTable::TRouteTable(std::vector<TRoute> routes) {
  for (TRoute &route : routes) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code *code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(route.Pattern.data()), route.Pattern.size(),
                      PCRE2_ANCHORED | PCRE2_ENDANCHORED, &error, &offset, nullptr);
    if (!code) throw std::invalid_argument("the route pattern " + route.Pattern + " is not valid");
    routes_.push_back(
        {route.Methods, std::unique_ptr<pcre2_code, TCodeFree>(code), std::move(route.Handler)});
  }
}

TRouteTable::~TRouteTable() = default;
TRouteTable::TRouteTable(TRouteTable &&) noexcept = default;
TRouteTable &TRouteTable::operator=(TRouteTable &&) noexcept = default;

void TRouteTable::Answer(const THttpRequest &request, THttpResponse &response) const {
  const unsigned method = MethodBit(request.Method);
  for (const TCompiled &route : routes_) {
    if (!(route.Methods & method)) continue;
    std::unique_ptr<pcre2_match_data, TMatchFree> match(
        pcre2_match_data_create_from_pattern(route.Code.get(), nullptr));
    if (!match) throw std::bad_alloc();
    const int found =
        pcre2_match(route.Code.get(), reinterpret_cast<PCRE2_SPTR>(request.Path.data()),
                    request.Path.size(), 0, 0, match.get(), nullptr);
    if (found < 0) continue;
    const PCRE2_SIZE *ovector = pcre2_get_ovector_pointer(match.get());
    TPathGroups groups(pcre2_get_ovector_count(match.get()));
    for (std::size_t i = 0; i < groups.size(); ++i)
      if (ovector[2 * i] != PCRE2_UNSET)
        groups[i] = request.Path.substr(ovector[2 * i], ovector[2 * i + 1] - ovector[2 * i]);
    return route.Handler(request, response, groups);
  }
  Refuse(response, 404);
}

} // namespace sonabox::server
