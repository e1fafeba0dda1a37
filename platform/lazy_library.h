#pragma once
// A shared library opened on its first call instead of at program start. The
// share, HTTP and ASF libraries each bring scores of others with them, and
// linking them up front cost every start of every program tens of
// milliseconds, while most runs never touch a share, a recorder or ASF.
//
// Calls keep the library's own declarations (from its header) and go through
//   PLATFORM_LAZY(library, function)(arguments...)
// where library is a LazyLibrary with static storage. A library or symbol
// that cannot be found ends the program with a message naming it, as a
// missing library at start-up would have.
#include <mutex>
#include <string>

namespace platform {

class LazyLibrary {
public:
    explicit LazyLibrary(std::string soname) : soname_(std::move(soname)) {}
    LazyLibrary(const LazyLibrary&) = delete;
    LazyLibrary& operator=(const LazyLibrary&) = delete;

    // Opens the library on the first call (thread-safe); never null.
    void* Symbol(const char* name);
    const std::string& soname() const { return soname_; }

private:
    std::string soname_;
    std::once_flag opened_;
    void* handle_ = nullptr;
};

}  // namespace platform

// decltype only names the function, so nothing refers to the symbol at link
// time; the address is looked up once per call site.
#define PLATFORM_LAZY(library, function)                                                              \
    ([]() -> decltype(&function) {                                                                    \
        static const auto resolved = reinterpret_cast<decltype(&function)>((library).Symbol(#function)); \
        return resolved;                                                                              \
    }())
