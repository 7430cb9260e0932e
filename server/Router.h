#pragma once
// Requests to handlers, one table per port. A route names the methods it
// answers, a pattern that the whole percent-decoded path must match (PCRE2,
// anchored at both ends) and its handler, which gets the pattern's groups. The
// first route that takes a request answers it; a request that none takes is
// answered 404.
#include "HttpEngine.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sonabox::server {

enum TMethod : unsigned { kGet = 1u << 0, kHead = 1u << 1, kPost = 1u << 2 };
inline constexpr unsigned kRead = kGet | kHead;

// The groups of a matched path: [0] the whole path, [1] the first group, and
// so on; a group that took no part is empty.
using TPathGroups = std::vector<std::string>;
using TRouteHandler =
    std::function<void(const THttpRequest &, THttpResponse &, const TPathGroups &)>;

struct TRoute {
  unsigned Methods;
  std::string Pattern;
  TRouteHandler Handler;
};

class TRouteTable {
public:
  // Compiles every pattern; throws std::invalid_argument for one that PCRE2
  // rejects.
  explicit TRouteTable(std::vector<TRoute> routes);
  ~TRouteTable();
  TRouteTable(TRouteTable &&) noexcept;
  TRouteTable &operator=(TRouteTable &&) noexcept;

  // Safe to call from several threads at once.
  void Answer(const THttpRequest &request, THttpResponse &response) const;

private:
  struct TCompiled;
  std::vector<TCompiled> routes_;
};

} // namespace sonabox::server
