#include "media/translate_text.h"

#include "platform/program_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <vector>

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

// The English file lists every key; each shipped language must answer all of
// them, keep their placeholders and keep the blanks that glue texts together.
TEST(TranslateTextShipped, EveryLanguageCarriesEveryEnglishKey) {
    const std::string folder = platform::ProgramFolder() + "/lang";
    std::vector<std::string> keys;
    std::ifstream en(folder + "/en-US.txt", std::ios::binary);
    ASSERT_TRUE(en) << folder;
    for (std::string line; std::getline(en, line);) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) keys.push_back(line.substr(0, eq));
    }
    ASSERT_GE(keys.size(), 118u);  // the recorder's texts, plus our own

    const std::string missing = "\x01missing";
    const std::regex placeholder(R"(\{[0-3]\})");
    const struct {
        int index;
        const char* name;
    } languages[] = {{0, "en-US"}, {1, "zh-CN"}, {2, "zh-TW"}, {3, "es-ES"},
                     {4, "it-IT"}, {5, "de-DE"}, {6, "fr-FR"}};
    for (const auto& language : languages) {
        for (const std::string& key : keys) {
            SCOPED_TRACE(std::string(language.name) + " [" + key + "]");
            const std::string english = TranslateTextIn(folder, 0, key, missing);
            const std::string text = TranslateTextIn(folder, language.index, key, missing);
            ASSERT_NE(text, missing);
            ASSERT_FALSE(english.empty());
            ASSERT_FALSE(text.empty());
            for (std::sregex_iterator it(english.begin(), english.end(), placeholder), end; it != end; ++it)
                EXPECT_NE(text.find(it->str()), std::string::npos) << it->str();
            if (english.front() == ' ') {
                EXPECT_EQ(text.front(), ' ') << '"' << text << '"';
            }
            if (english.back() == ' ') {
                EXPECT_EQ(text.back(), ' ') << '"' << text << '"';
            }
        }
    }
}

}  // namespace
