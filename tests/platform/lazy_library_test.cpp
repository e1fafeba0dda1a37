#include "platform/lazy_library.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <string>

namespace {

platform::LazyLibrary g_zlib("libz.so.1");
platform::LazyLibrary g_missing("libnot-installed-anywhere.so.7");

// Called through the library opened on first use, with the header's own
// declaration: the same answers as the function itself.
TEST(LazyLibrary, CallsReachTheLibrary) {
    EXPECT_EQ(std::string(PLATFORM_LAZY(g_zlib, zlibVersion)()), std::string(ZLIB_VERSION));
    const char text[] = "watermark";
    const uLong expected = crc32(0, reinterpret_cast<const Bytef*>(text), sizeof text - 1);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(PLATFORM_LAZY(g_zlib, crc32)(0, reinterpret_cast<const Bytef*>(text), sizeof text - 1), expected);
}

// A missing library or symbol ends the program with its name, as a missing
// library at start-up would, instead of calling through a null pointer.
TEST(LazyLibraryDeathTest, MissingLibraryOrSymbolEndsWithItsName) {
    EXPECT_DEATH(g_missing.Symbol("anything"), "cannot load libnot-installed-anywhere.so.7");
    EXPECT_DEATH(g_zlib.Symbol("no_such_function_here"), "libz.so.1 has no no_such_function_here");
}

}  // namespace
