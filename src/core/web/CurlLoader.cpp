// libcurl is loaded when the program first goes to the network, not when it
// starts: the library brings its TLS, Kerberos, LDAP and SSH libraries with it
// (some twenty), whose loading and set-up would otherwise come before the
// main window could be shown, and would stay in memory in every run.
//
// The functions below stand in for the libcurl functions that the program
// calls. The first call loads the library; each function looks up its real
// counterpart once and forwards to it. Without the library, the functions
// answer as libcurl does when it cannot start (no handle, CURLE_FAILED_INIT).
// A libcurl function newly used by the program needs its line here.
#include "core/common/LazyLibrary.h"

#include <curl/curl.h>

#include <cstdarg>

namespace {
// Loading the library also initialises it, once, before any other call.
void *CurlLibrary() {
  static void *const handle = [] {
    void *library = sonabox::OpenLibrary("libcurl.so.4");
    using TGlobalInit = CURLcode(long);
    if (auto *init =
            reinterpret_cast<TGlobalInit *>(sonabox::LibraryFunction(library, "curl_global_init")))
      init(CURL_GLOBAL_DEFAULT);
    return library;
  }();
  return handle;
}

template <typename Function> Function *Real(const char *name) {
  return reinterpret_cast<Function *>(sonabox::LibraryFunction(CurlLibrary(), name));
}
} // namespace

SONABOX_FORWARD(CurlLibrary, CURL *, curl_easy_init, (void), (), nullptr)
SONABOX_FORWARD_VOID(CurlLibrary, curl_easy_cleanup, (CURL * curl), (curl))
SONABOX_FORWARD_VOID(CurlLibrary, curl_easy_reset, (CURL * curl), (curl))
SONABOX_FORWARD(CurlLibrary, CURLcode, curl_easy_perform, (CURL * curl), (curl), CURLE_FAILED_INIT)
SONABOX_FORWARD(CurlLibrary, curl_slist *, curl_slist_append, (curl_slist * list, const char *text),
                (list, text), nullptr)
SONABOX_FORWARD_VOID(CurlLibrary, curl_slist_free_all, (curl_slist * list), (list))

// The option's value is read the way libcurl reads it: its type follows from
// the option's number range.
extern "C" CURLcode curl_easy_setopt(CURL *curl, CURLoption option, ...) {
  static auto *const real = Real<CURLcode(CURL *, CURLoption, ...)>("curl_easy_setopt");
  if (!real) return CURLE_FAILED_INIT;
  va_list args;
  va_start(args, option);
  CURLcode result;
  if (option < CURLOPTTYPE_OBJECTPOINT)
    result = real(curl, option, va_arg(args, long));
  else if (option < CURLOPTTYPE_OFF_T)
    result = real(curl, option, va_arg(args, void *)); // data and function pointers
  else if (option < CURLOPTTYPE_BLOB)
    result = real(curl, option, va_arg(args, curl_off_t));
  else
    result = real(curl, option, va_arg(args, void *));
  va_end(args);
  return result;
}

// Every piece of information is answered through one pointer.
extern "C" CURLcode curl_easy_getinfo(CURL *curl, CURLINFO info, ...) {
  static auto *const real = Real<CURLcode(CURL *, CURLINFO, ...)>("curl_easy_getinfo");
  if (!real) return CURLE_FAILED_INIT;
  va_list args;
  va_start(args, info);
  void *answer = va_arg(args, void *);
  va_end(args);
  return real(curl, info, answer);
}
