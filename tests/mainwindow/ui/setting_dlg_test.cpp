#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "mainwindow/storage_location.h"
#include "mainwindow/ui/setting_dlg.h"
#include "media/osd_style_record.h"
#include "media/translate_text.h"
#include "media/ui/ui_services.h"
#include "platform/message_box.h"
#include "tests/mainwindow/ui/control_test_support.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

template <typename T>
T* Control(QWidget* parent, int id) {
    for (T* child : parent->findChildren<T*>())
        if (child->property("controlId").toInt() == id) return child;
    return nullptr;
}


// The main dialog's records at start.
OsdStyleRecord StartRecord() {
    OsdStyleRecord r;
    r.SetFontName("Arial Bold");
    r.font_height = 20;
    return r;
}

struct Box {
    std::string text;
    std::string caption;
    int flags;
};

class SettingDlgTest : public ::testing::Test {
protected:
    control_test::ApplicationGuard application;
    TempFolder program;
    std::array<OsdStyleRecord, 4> records{StartRecord(), StartRecord(), StartRecord(), StartRecord()};
    CSettingDlg dialog;
    std::vector<Box> boxes;
    std::vector<std::string> chooser_titles;
    std::optional<std::string> chooser_answer;
    int saved_language = 0;
    platform::MessageBoxHandler saved_boxes;
    ui::FolderChooser saved_chooser;

    void SetUp() override {
        saved_language = LanguageIndex.load();
        LanguageIndex = 0;
        saved_boxes = platform::SetMessageBoxHandler([this](const std::string& text, const std::string& caption, int flags) {
            boxes.push_back({text, caption, flags});
            return platform::kIdOk;
        });
        saved_chooser = ui::SetFolderChooser([this](QWidget*, const std::string& title) {
            chooser_titles.push_back(title);
            return chooser_answer;
        });
        fs::create_directories(program.Sub("lang"));
        for (size_t i = 0; i < 4; ++i) dialog.osd_styles[i] = &records[i];
        dialog.program_folder = program.path();
    }

    void TearDown() override {
        LanguageIndex = saved_language;
        platform::SetMessageBoxHandler(saved_boxes);
        ui::SetFolderChooser(saved_chooser);
    }

    std::string SettingFile() const { return StorageSettingPath(program.path()); }
    void WriteSettingFile(const std::string& content) const { std::ofstream(SettingFile()) << content; }
    std::string ReadSettingFile() const {
        std::ifstream in(SettingFile());
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }

    // Runs the dialog; act runs inside its loop and ends it.
    int Run(std::function<void()> act) {
        QTimer::singleShot(0, &dialog, std::move(act));
        return dialog.DoModal();
    }
    void ClickOk() { Control<QPushButton>(&dialog, CSettingDlg::kOkId)->click(); }
    void ClickCancel() { Control<QPushButton>(&dialog, CSettingDlg::kCancelId)->click(); }
};

TEST_F(SettingDlgTest, OpensOnTheOsdPageShowingTheFirstRecord) {
    WriteSettingFile("[setting]\nlocation=/srv/clips\n");
    LanguageIndex = 2;  // Traditional Chinese: the texts below are its file's
    records[1].colour = 0x0000FF;  // only the first record is shown
    records[1].show_date = 0;
    dialog.OnInitDialog();

    EXPECT_EQ(dialog.windowTitle(), "設定");
    EXPECT_EQ(Control<QPushButton>(&dialog, CSettingDlg::kOkId)->text(), "確定");
    EXPECT_EQ(Control<QPushButton>(&dialog, CSettingDlg::kCancelId)->text(), "取消");
    QTabBar* tabs = Control<QTabBar>(&dialog, CSettingDlg::kTabId);
    ASSERT_NE(tabs, nullptr);
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0), "OSD");
    EXPECT_EQ(tabs->tabText(1), "語言");
    EXPECT_EQ(tabs->tabText(2), "儲存裝置");
    EXPECT_EQ(dialog.CurrentPage(), 0);
    EXPECT_FALSE(dialog.Page(0)->isHidden());
    EXPECT_TRUE(dialog.Page(1)->isHidden());
    EXPECT_TRUE(dialog.Page(2)->isHidden());
    // All pages share one rectangle inside the tab control, below its strip.
    const QRect client = Control<QFrame>(&dialog, CSettingDlg::kTabId)->rect();
    const QRect expected(client.left() + 2, client.top() + 23, client.width() - 6, client.height() - 25);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(dialog.Page(i)->geometry(), expected) << i;

    QWidget* osd = dialog.Page(0);
    EXPECT_EQ(Control<QComboBox>(osd, COsdPage::kFontListId)->currentText(), "Arial Bold");
    EXPECT_EQ(Control<QComboBox>(osd, COsdPage::kSizeListId)->currentText(), "20");
    EXPECT_EQ(Control<QComboBox>(osd, COsdPage::kColourListId)->currentText(), "黃色");
    EXPECT_EQ(Control<QComboBox>(osd, COsdPage::kSizeListId)->count(), 9);
    for (int id : {COsdPage::kTextOnId, COsdPage::kCameraNameId, COsdPage::kCameraNumberId, COsdPage::kDateId,
                   COsdPage::kTimeId}) {
        ASSERT_NE(Control<QCheckBox>(osd, id), nullptr) << id;
        EXPECT_TRUE(Control<QCheckBox>(osd, id)->isChecked()) << id;
    }
    // In its place, as wide and as tall as its text needs at least.
    const QRect text_on = Control<QCheckBox>(osd, COsdPage::kTextOnId)->geometry();
    EXPECT_EQ(text_on.left(), 20);
    EXPECT_GE(text_on.width(), 160);
    // Grown about its middle (25); an odd growth puts the extra pixel below.
    EXPECT_NEAR(text_on.top() + text_on.height() / 2.0, 25.0, 1.0);
    EXPECT_EQ(Control<QLabel>(osd, COsdPage::kFontLabelId)->text(), "字型:");
    EXPECT_EQ(Control<QGroupBox>(osd, COsdPage::kInformationGroupId)->title(), "資訊");

    QComboBox* languages = Control<QComboBox>(dialog.Page(1), CLanguagePage::kLanguageListId);
    ASSERT_EQ(languages->count(), 3);
    EXPECT_EQ(languages->itemText(0), "English");
    EXPECT_EQ(languages->currentIndex(), 2);
    EXPECT_EQ(Control<QLabel>(dialog.Page(1), CLanguagePage::kLabelId)->text(), "語言:");

    EXPECT_EQ(Control<QLineEdit>(dialog.Page(2), CStoragePage::kLocationId)->text(), "/srv/clips");
    EXPECT_EQ(Control<QLabel>(dialog.Page(2), CStoragePage::kLabelId)->text(), "位置:");
}

TEST_F(SettingDlgTest, ChangingTabsShowsOnlyThatPage) {
    dialog.OnInitDialog();
    QTabBar* tabs = dialog.Tabs();
    for (int page : {2, 1, 0}) {
        tabs->setCurrentIndex(page);
        EXPECT_EQ(dialog.CurrentPage(), page);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(dialog.Page(i)->isHidden(), i != page) << page << " " << i;
    }
}

TEST_F(SettingDlgTest, RecordValuesChooseTheListItems) {
    struct Case {
        std::string face;
        int height;
        int32_t colour;
        int face_index, size_index, colour_index;
    };
    const std::vector<Case> cases = {
        {"Arial", 8, 0xC0C0C0, 0, 0, 0},
        {"arial bold", 24, 0x00FF00, 1, 8, 1},
        {"Times", 21, 0x0000FF, 3, 6, 2},  // a prefix is enough; odd heights round down
        {"COURIER NEW", 7, 0xFFFFFF, 2, 0, 3},
        {"Courier New Bold", 26, 0x00FFFF, -1, -1, 4},
        {"Verdana", 6, 0x123456, -1, -1, 0},  // an unlisted colour shows as grey
    };
    for (const Case& c : cases) {
        records[0].SetFontName(c.face);
        records[0].font_height = c.height;
        records[0].colour = c.colour;
        CSettingDlg fresh;
        fresh.osd_styles[0] = &records[0];
        fresh.program_folder = program.path();
        fresh.OnInitDialog();
        EXPECT_EQ(fresh.osd_page().FontList()->currentIndex(), c.face_index) << c.face;
        EXPECT_EQ(fresh.osd_page().SizeList()->currentIndex(), c.size_index) << c.height;
        EXPECT_EQ(fresh.osd_page().ColourList()->currentIndex(), c.colour_index) << std::hex << c.colour;
    }
}

TEST_F(SettingDlgTest, OkWritesThePageIntoAllFourRecordsAndSetsLanguageAndFolder) {
    WriteSettingFile("; kept\n[setting]\nlocation=/old\n");
    records[1].SetFontName("Courier New");
    records[2].font_weight = 700;
    records[3].reserved_texts[4] = "untouched";
    records[3].colour = 0x00FF00;
    const int result = Run([this] {
        COsdPage& page = dialog.osd_page();
        page.TextOnBox()->click();
        page.FontList()->setCurrentIndex(3);
        page.SizeList()->setCurrentIndex(2);
        page.ColourList()->setCurrentIndex(2);
        page.DateBox()->click();
        page.CameraNumberBox()->click();
        dialog.language_page().LanguageList()->setCurrentIndex(1);
        // Picking a language changes nothing before OK.
        EXPECT_EQ(LanguageIndex.load(), 0);
        dialog.storage_page().LocationEdit()->setText("/media/exports");
        ClickOk();
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(LanguageIndex.load(), 1);
    for (size_t i = 0; i < 4; ++i) {
        const OsdStyleRecord& r = records[i];
        EXPECT_EQ(r.show_text, 0) << i;
        EXPECT_EQ(r.GetFontName(), "Times New Roman") << i;
        EXPECT_EQ(r.font_height, 12) << i;
        EXPECT_EQ(r.colour, 0x0000FF) << i;
        EXPECT_EQ(r.show_date, 0) << i;
        EXPECT_EQ(r.show_camera_number, 0) << i;
        EXPECT_EQ(r.show_time, 1) << i;
        EXPECT_EQ(r.show_camera_name, 1) << i;
    }
    EXPECT_EQ(records[0].font_weight, 400);
    EXPECT_EQ(records[2].font_weight, 700);
    EXPECT_EQ(records[3].reserved_texts[4], "untouched");
    EXPECT_EQ(ReadStorageLocationIn(program.path()), "/media/exports");
    EXPECT_NE(ReadSettingFile().find("; kept"), std::string::npos);
}

TEST_F(SettingDlgTest, OkWithAnUnlistedColourSetsGreyAndAnUnmatchedFaceKeepsEachFace) {
    records[0].colour = 0x123456;
    records[0].SetFontName("Verdana");
    records[1].SetFontName("Courier New");
    records[0].font_height = 40;
    records[2].font_height = 18;
    EXPECT_EQ(Run([this] { ClickOk(); }), 1);
    EXPECT_EQ(records[0].GetFontName(), "Verdana");
    EXPECT_EQ(records[1].GetFontName(), "Courier New");
    EXPECT_EQ(records[2].GetFontName(), "Arial Bold");
    for (const OsdStyleRecord& r : records) EXPECT_EQ(r.colour, 0xC0C0C0);
    // No size shown for 40: every height stays as it was rather than becoming 6.
    EXPECT_EQ(records[0].font_height, 40);
    EXPECT_EQ(records[2].font_height, 18);
}

TEST_F(SettingDlgTest, CancelAfterChangingEverythingLeavesAllAsItWas) {
    const std::string file = "[setting]\nlocation=/old\n";
    WriteSettingFile(file);
    LanguageIndex = 2;
    const int result = Run([this] {
        COsdPage& page = dialog.osd_page();
        for (QCheckBox* box : {page.TextOnBox(), page.CameraNameBox(), page.CameraNumberBox(), page.DateBox(),
                               page.TimeBox()})
            box->click();
        page.FontList()->setCurrentIndex(0);
        page.SizeList()->setCurrentIndex(0);
        page.ColourList()->setCurrentIndex(0);
        dialog.language_page().LanguageList()->setCurrentIndex(0);
        dialog.storage_page().LocationEdit()->setText("/elsewhere");
        ClickCancel();
    });
    EXPECT_EQ(result, 2);
    EXPECT_EQ(LanguageIndex.load(), 2);
    const OsdStyleRecord start = StartRecord();
    for (const OsdStyleRecord& r : records) {
        EXPECT_EQ(r.GetFontName(), start.GetFontName());
        EXPECT_EQ(r.font_height, start.font_height);
        EXPECT_EQ(r.colour, start.colour);
        EXPECT_EQ(r.show_text + r.show_time + r.show_date + r.show_camera_name + r.show_camera_number, 5);
    }
    EXPECT_EQ(ReadSettingFile(), file);

    // Escape ends it the same way.
    EXPECT_EQ(Run([this] { dialog.reject(); }), 2);
}

TEST_F(SettingDlgTest, TheFolderIsStoredOnlyWhenTheSettingFileExists) {
    // Without the file: an empty page, and OK creates nothing.
    EXPECT_EQ(Run([this] {
                  EXPECT_EQ(dialog.storage_page().LocationEdit()->text(), "");
                  dialog.storage_page().LocationEdit()->setText("/media/exports");
                  ClickOk();
              }),
              1);
    EXPECT_FALSE(fs::exists(SettingFile()));

    // With it: a cleared edit stores an empty value.
    WriteSettingFile("[setting]\nlocation=/old\n");
    CSettingDlg again;
    again.program_folder = program.path();
    QTimer::singleShot(0, &again, [&again] {
        EXPECT_EQ(again.storage_page().LocationEdit()->text(), "/old");
        again.storage_page().LocationEdit()->clear();
        again.OnOK();
    });
    EXPECT_EQ(again.DoModal(), 1);
    EXPECT_TRUE(fs::exists(SettingFile()));
    EXPECT_EQ(ReadStorageLocationIn(program.path()), "");
}

TEST_F(SettingDlgTest, TheStoragePageReadsAtMost255Characters) {
    const std::string long_folder = "/" + std::string(300, 'f');
    WriteSettingFile("[setting]\nlocation=" + long_folder + "\n");
    dialog.OnInitDialog();
    EXPECT_EQ(dialog.storage_page().LocationEdit()->text().toStdString(), long_folder.substr(0, 255));
}

TEST_F(SettingDlgTest, BrowseFillsTheEditOrSaysTheChoiceIsNoFolder) {
    WriteSettingFile("[setting]\nlocation=/old\n");
    dialog.OnInitDialog();
    CStoragePage& page = dialog.storage_page();
    QPushButton* browse = Control<QPushButton>(&page, CStoragePage::kBrowseId);
    ASSERT_NE(browse, nullptr);
    EXPECT_EQ(browse->text(), "...");

    chooser_answer = std::nullopt;  // cancelled
    browse->click();
    EXPECT_EQ(page.LocationEdit()->text(), "/old");
    EXPECT_TRUE(boxes.empty());

    chooser_answer = std::string();  // a choice without a path
    browse->click();
    EXPECT_EQ(page.LocationEdit()->text(), "/old");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "It's not a data folder.");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].flags, platform::kMbOk);

    chooser_answer = std::string("/media/new");
    browse->click();
    EXPECT_EQ(page.LocationEdit()->text(), "/media/new");
    ASSERT_EQ(chooser_titles.size(), 3u);
    EXPECT_EQ(chooser_titles[0], "Please select a folder.");
    // Browsing alone stores nothing.
    EXPECT_EQ(ReadStorageLocationIn(program.path()), "/old");
}

}  // namespace
