#include "platform/lazy_library.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace platform {

void* LazyLibrary::Symbol(const char* name) {
    std::call_once(opened_, [this] {
        // Local: the library's symbols reach only the calls made through here.
        handle_ = dlopen(soname_.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_) {
            std::fprintf(stderr, "cannot load %s: %s\n", soname_.c_str(), dlerror());
            std::abort();
        }
    });
    void* symbol = dlsym(handle_, name);
    if (!symbol) {
        std::fprintf(stderr, "%s has no %s\n", soname_.c_str(), name);
        std::abort();
    }
    return symbol;
}

}  // namespace platform
