#pragma once
// Stand-ins for the functions of a shared library that the program loads on
// first use rather than at start-up. A loader file defines, for its library,
// a function answering the library's handle (null when it cannot be loaded):
//
//   void *CurlLibrary() {
//     static void *const handle = sonabox::OpenLibrary("libcurl.so.4");
//     return handle;
//   }
//
// and one SONABOX_FORWARD line per function that the program calls. Each
// stand-in looks up its real counterpart once and forwards to it; without the
// library it answers `fallback`.

namespace sonabox {

// Loads the library; null, with a message on standard error, when it cannot.
void *OpenLibrary(const char *name);

// The library's function `name`, or null.
void *LibraryFunction(void *library, const char *name);

} // namespace sonabox

// Forwards a function that answers a value.
#define SONABOX_FORWARD(library, result, name, parameters, arguments, fallback)                    \
  extern "C" result name parameters {                                                              \
    static auto *const real =                                                                      \
        reinterpret_cast<result(*) parameters>(sonabox::LibraryFunction(library(), #name));        \
    return real ? real arguments : fallback;                                                       \
  }

// Forwards a function without a result.
#define SONABOX_FORWARD_VOID(library, name, parameters, arguments)                                 \
  extern "C" void name parameters {                                                                \
    static auto *const real =                                                                      \
        reinterpret_cast<void(*) parameters>(sonabox::LibraryFunction(library(), #name));          \
    if (real) real arguments;                                                                      \
  }
