#include "media/translate_text.h"

#include "platform/program_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// The English texts of every key, as the windows quote them. nullptr: the
// windows quote different English wordings, so the English file leaves the key
// out and each window shows its own.
struct EnglishText {
    const char* key;
    const char* text;
};
constexpr EnglishText kEnglish[] = {
    {"BTN_ABORT", "Abort"},
    {"BTN_ADD", "Add"},
    {"BTN_CANCEL", "Cancel"},
    {"BTN_DEFAULT", "Default"},
    {"BTN_DELETE", "Delete"},
    {"BTN_EDIT", "Edit"},
    {"BTN_OK", "OK"},
    {"BTN_TEST_CONNECT", "Test Connection"},
    {"CHECK_SAVE_PWD", "Save Password"},
    {"CHK_BRIGHTNESS", "Brightness"},
    {"CHK_CONTRAST", "Contrast"},
    {"CHK_DATE", "Date"},
    {"CHK_DEVICENAME", "Camera Name"},
    {"CHK_DEVICENUM", "Camera Number"},
    {"CHK_ENABLE_AVIWM", "Enable Watermark"},
    {"CHK_ENABLE_PREVIEW", "Enable Preview"},
    {"CHK_GRAY", "Gray Scale"},
    {"CHK_OSD", "Enable Camera OSD"},
    {"CHK_TIME", "Time"},
    {"CUE_ERROR", "Please use CUE control to set up start/end time and then retry again."},
    {"MSG", "Message"},
    {"MSG_BACKUP", "You need more free space to backup recording."},
    {"MSG_COVER", "There is some other document on this path, cover it?"},
    {"MSG_ERROR", "Error"},
    {"MSG_ERR_CH", "No selected channel."},
    {"MSG_ERR_DESPATH", "Please select a destination path."},
    {"MSG_ERR_NOFOLDER", "It's not a data folder."},
    {"MSG_ERR_SRCPATH", "Please select a source path."},
    {"MSG_FAILED_CONNECT", "Connection failed!"},
    {"MSG_FREE_SPACE", "Free Space"},
    {"MSG_NEED_SPACE", "Required Space"},
    {"MSG_NODATA", "No backup data"},
    {"MSG_NOENOUGHSPACE", "Not Enough Disk Space"},
    {"MSG_NOIMG", "No image data"},
    {"MSG_NO_PRINTER", "No printer found!"},
    {"MSG_SUCCESS_CONNECT", "Connection success!"},
    {"TIMERANGE_ERROR", nullptr},  // "Cuein Time must be early than Cueout Time." / "Please set correct start/end time."
    {"EXPORT", "Export"},
    {"POWER_OFF", "Power Off"},
    {"STATUS_PLAY", "PLAY"},
    {"STATUS_PAUSE", "PAUSE"},
    {"STATUS_STOP", "STOP"},
    {"TIP_ADJUST_IMG", "Image Enhencement"},
    {"TIP_BACKUP", "Backup Data"},
    {"TIP_BACKWARD", "Step Backward"},
    {"TIP_CUEINTIME", "Cue In Time"},
    {"TIP_CUEOUTTIME", "Cue Out Time"},
    {"TIP_FORWARD", "Step Forward"},
    {"TIP_FULL_SCREEN", "Full Screen"},
    {"TIP_MINIMUM", "Minimum"},
    {"TIP_MUTE", "Mute"},
    {"TIP_NINE_VIEW", "View as 3x3"},
    {"TIP_OPENFOLDER", "Please select a folder."},
    {"TIP_PAUSE", "Pause"},
    {"TIP_PLAY", "Play"},
    {"TIP_PRINT", "Print"},
    {"TIP_QUADRIC_VIEW", "View as 2x2"},
    {"TIP_REALSIZE", "Actual Size"},
    {"TIP_SAVE_AVI", "Save AVI"},
    {"TIP_SEARCH_LIST", "Open Record"},
    {"TIP_SETTING", "OSD Setting"},
    {"TIP_SINGLE_VIEW", "View as 1x1"},
    {"TIP_SNAPSHOT", "Save as Image"},
    {"TIP_SPEED_DOWN", "Speed Down"},
    {"TIP_SPEED_UP", "Speed Up"},
    {"TIP_STEPBACKWARD", "Step Backward"},
    {"TIP_STEPFORWARD", "Step Forward"},
    {"TIP_STOP", "Stop"},
    {"TIP_ZOOM_IN", "Zoom In"},
    {"TIP_ZOOM_OUT", "Zoom Out"},
    {"TITLE_ADJUST_TOOL", "Image Enhancement Tool"},
    {"TITLE_BACKUP", "Backup"},
    {"TITLE_BACKUP_SETTING", "Backup Setting"},
    {"TITLE_EXPORT_SETTING", "Export Setting"},
    {"TITLE_SETTING", "Setting"},
    {"FOREGROUND_TXT", "Foreground"},
    {"TXT_AM", " am"},
    {"TXT_BACKUPHDD", "Backup on HardDisk"},
    {"TXT_COLOR", "Color"},
    {"TXT_CONNECTING", "Connecting......"},
    {"TXT_DATETIME_PERIOD", nullptr},  // "Date Time Period" / "Time Period"
    {"TXT_END_TIME", nullptr},         // "End Time" / "End Time " / "End Time: "
    {"TXT_EVENT_RECORD ", "Record on Event"},
    {"TXT_EXCELLENT", "Excellent"},
    {"TXT_EXPORT_CHANNEL", "Export channel: "},
    {"TXT_FONT", "Font"},
    {"TXT_GOOD", "Good"},
    {"TXT_IMAGE", "Image"},
    {"TXT_INFORMATION", "Information"},
    {"TXT_IPADDR", "IP Address"},
    {"TXT_LANGUAGE", "Language"},
    {"TXT_LOCATION", "Location"},
    {"TXT_MOTION_RECORD", "Record on Motion"},
    {"TXT_NORMAL_RECORD2 ", "Record Always"},
    {"TXT_OPEN_ERROR", "It's not a data folder."},
    {"TXT_OPEN_TIPMSG", "Please select a folder"},
    {"TXT_ORI_FORMAT", "Export AVI Format: "},
    {"TXT_PM", " pm"},
    {"TXT_PORT", "Port"},
    {"TXT_PWD", "Password"},
    {"TXT_RECORD_TITLE", "View Record Files"},
    {"TXT_REMOTE_MANAGER", "Remote Manager"},
    {"TXT_SAMBA_ENTRY", "Samba Entry"},
    {"TXT_SAMBA_SERVER", "Samba Server"},
    {"TXT_SATRT_TIME", nullptr},  // "Start Time" / "Start Time " / "Start Time: "
    {"TXT_SEL_CAM", "Select Camera(s)"},
    {"TXT_SERVER", "Server"},
    {"TXT_SERVERNAME", "Server"},
    {"TXT_SIZE", "Size"},
    {"TXT_STANDARD", "Standard"},
    {"TXT_STORAGE", "Storage"},
    {"TXT_USER", "User"},
    {"TXT_VIDEO_PREVIEW", "Video Preview"},
    {"TXT_VIDEO_QUALITY", "Video Quality"},
    {"UNIT_GB", "GB"},
    {"Gray", "Gray"},
    {"Green", "Green"},
    {"Red", "Red"},
    {"White", "White"},
    {"Yellow", "Yellow"},
    // The checker's keys (its own defaults are not English).
    {"TITLE_HALYARD", "Halyard"},
};

std::string LangFolder() { return platform::ProgramFolder() + "/lang"; }

std::vector<std::string> KeysOf(const std::string& file) {
    std::vector<std::string> keys;
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos && line[0] != ';') keys.push_back(line.substr(0, eq));
    }
    return keys;
}

TEST(TranslateTextShipped, EnglishFileGivesTheEnglishTexts) {
    const std::string missing = "\x01missing";
    for (const EnglishText& e : kEnglish) {
        SCOPED_TRACE(std::string("[") + e.key + "]");
        EXPECT_EQ(TranslateTextIn(LangFolder(), 0, e.key, missing), e.text ? e.text : missing);
    }
    // Through the program's own lookup: the file beside it, then the call site's default.
    LanguageIndex = 0;
    EXPECT_EQ(TranslateText("TXT_OPEN_ERROR", "x"), "It's not a data folder.");
    EXPECT_EQ(TranslateText("TXT_END_TIME", "End Time: "), "End Time: ");
    EXPECT_EQ(TranslateText("NO_SUCH_KEY", "fallback"), "fallback");
}

// Every shipped language answers every key, keeps the placeholders and keeps
// the blanks that glue texts together.
TEST(TranslateTextShipped, EveryLanguageCarriesEveryKey) {
    const std::string folder = LangFolder();
    std::vector<std::string> keys = KeysOf(folder + "/en-US.txt");
    ASSERT_FALSE(keys.empty()) << folder;
    for (const EnglishText& e : kEnglish) {
        if (std::find(keys.begin(), keys.end(), e.key) == keys.end()) keys.push_back(e.key);
    }

    const std::string missing = "\x01missing";
    const std::regex placeholder(R"(\{[0-3]\})");
    const struct {
        int index;
        const char* name;
    } languages[] = {{1, "zh-CN"}, {2, "zh-TW"}, {3, "es-ES"}, {4, "it-IT"}, {5, "de-DE"}, {6, "fr-FR"}};
    for (const auto& language : languages) {
        for (const std::string& key : keys) {
            SCOPED_TRACE(std::string(language.name) + " [" + key + "]");
            const std::string english = TranslateTextIn(folder, 0, key, "");
            const std::string text = TranslateTextIn(folder, language.index, key, missing);
            ASSERT_NE(text, missing);
            ASSERT_FALSE(text.empty());
            for (std::sregex_iterator it(english.begin(), english.end(), placeholder), end; it != end; ++it)
                EXPECT_NE(text.find(it->str()), std::string::npos) << it->str();
            if (!english.empty() && english.front() == ' ') {
                EXPECT_EQ(text.front(), ' ') << '"' << text << '"';
            }
            if (!english.empty() && english.back() == ' ') {
                EXPECT_EQ(text.back(), ' ') << '"' << text << '"';
            }
        }
    }
}

}  // namespace
