#include "core/common/LazyLibrary.h"

#include <cstdio>
#include <dlfcn.h>

namespace sonabox {

void *OpenLibrary(const char *name) {
  void *handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (!handle) std::fprintf(stderr, "sonabox: cannot load %s: %s\n", name, dlerror());
  return handle;
}

void *LibraryFunction(void *library, const char *name) {
  return library ? dlsym(library, name) : nullptr;
}

} // namespace sonabox
