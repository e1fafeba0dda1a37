#include "media/translate_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class TranslateTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("translate_test_" + std::to_string(::getpid()));
        fs::create_directories(folder_);
        std::ofstream(folder_ / "de-DE.txt", std::ios::binary)
            << "[language]\nBTN_OK=Gut\nTWICE={0} und {0}, {1}\nLONG=" << std::string(250, 'x')
            << "\nTXT_EVENT_RECORD=Ereignis\n";
    }
    void TearDown() override { fs::remove_all(folder_); }
    std::string T(int index, const std::string& key, const std::string& p0 = "", const std::string& p1 = "") {
        return TranslateTextIn(folder_.string(), index, key, "default {0}", p0, p1);
    }
    fs::path folder_;
};

TEST_F(TranslateTextTest, LookupAndDefaults) {
    EXPECT_EQ(T(5, "BTN_OK"), "Gut");
    EXPECT_EQ(T(5, "MISSING"), "default {0}");
    EXPECT_EQ(T(0, "BTN_OK"), "default {0}");  // no en-US file in this folder
    EXPECT_EQ(T(7, "BTN_OK"), "default {0}");
    EXPECT_EQ(T(-1, "BTN_OK"), "default {0}");
    EXPECT_EQ(T(5, "TXT_EVENT_RECORD "), "Ereignis");
    EXPECT_EQ(T(5, "LONG"), std::string(199, 'x'));
}

TEST_F(TranslateTextTest, PlaceholdersReplacedOnlyByNonEmptyParameters) {
    EXPECT_EQ(T(5, "TWICE", "a", "b"), "a und a, b");
    EXPECT_EQ(T(5, "TWICE", "", "b"), "{0} und {0}, b");
    EXPECT_EQ(T(5, "TWICE", "{0}{0}"), "{0}{0} und {0}{0}, {1}");
}

TEST(TranslateTextShipped, EnglishFileBesideTheProgram) {
    LanguageIndex = 0;
    EXPECT_EQ(TranslateText("TXT_OPEN_ERROR", "x"), "It's not a data folder.");
    EXPECT_EQ(TranslateText("TXT_AM", "x"), " am");
    EXPECT_EQ(TranslateText("NO_SUCH_KEY", "fallback"), "fallback");
}

}  // namespace
