#include "tools/common/ui/window_catalogue.h"

#include <sqlite3.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QPixmap>
#include <QListWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "checker/ui/checker_viewer.h"
#include "checker/ui/watermark_dlg.h"
#include "export/avi_writer.h"
#include "export/ui/avi_dialog2.h"
#include "export/ui/avi_dump_dlg.h"
#include "export/ui/avi_dump_dlg2.h"
#include "export/ui/avi_export_dlg.h"
#include "export/ui/backup_dialog.h"
#include "export/ui/data_dump_dlg.h"
#include "mainwindow/storage_location.h"
#include "mainwindow/ui/about_dlg.h"
#include "mainwindow/ui/skin_image.h"
#include "tools/common/skin_names.h"
#include "mainwindow/ui/calendar.h"
#include "mainwindow/ui/image_adjust_dlg.h"
#include "mainwindow/ui/kestrel_playback_dlg.h"
#include "mainwindow/ui/setting_dlg.h"
#include "mainwindow/ui/window_message.h"
#include "media/civil_date.h"
#include "media/disk_format.h"
#include "media/jpeg_snapshot_writer.h"
#include "media/osd_style_record.h"
#include "media/translate_text.h"
#include "media/ui/ui_services.h"
#include "sources/ui/nas_dialog.h"
#include "sources/ui/remote_dlg.h"
#include "sources/ui/select_dlg.h"
#include "sources/ui/server_dlg.h"
#include "tools/common/avdata_writer.h"

namespace catalogue {
namespace {

constexpr int kScreenWidth = 1920;
constexpr int kScreenHeight = 1080;
constexpr int kRecordStart = 9 * 3600 + 30 * 60;  // 09:30:00
constexpr int kRecordSeconds = 20 * 60;

bool Exec(const std::string& file, const std::string& sql, std::string* error) {
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(file.c_str(), &db) == SQLITE_OK &&
              sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok) *error = file + ": " + (db ? sqlite3_errmsg(db) : "cannot open");
    sqlite3_close(db);
    return ok;
}

bool WriteDataFolder(WindowFixture& f) {
    const CivilDate today = TodayLocalDate();
    const CivilDate day = CivilFromDays(DaysFromCivil(today.year, today.month, today.day) - 1);
    f.year = day.year;
    f.month = day.month;
    f.day = day.day;
    f.data_folder = f.folder + "/avdata";
    sample::SampleMinute minute;
    minute.titles = {u"Front Door", u"Car Park", u"Loading Bay", u"Store Room"};
    for (int c = 0; c < 4; ++c) {
        sample::SampleChannelSecond second;
        sample::SampleFrame frame;
        frame.kind = diskformat::kKindVideo;
        frame.codec = diskformat::kCodecMjpeg;
        frame.key = 1;
        frame.width = 352;
        frame.height = 288;
        frame.data = {0xFF, 0xD8, 0xFF, 0xD9};
        second.frames.push_back(frame);
        minute.seconds[0].channels[static_cast<size_t>(c)] = second;
    }
    const int hour = kRecordStart / 3600, first_minute = kRecordStart / 60 % 60;
    if (!sample::WriteMinuteFile(f.data_folder, f.year, f.month, f.day, hour, first_minute, minute, &f.error))
        return false;
    sample::SampleDay index{f.year, f.month, f.day, {{kRecordStart, kRecordStart + kRecordSeconds, 'f', '1'}}, {}, {}};
    return sample::WriteDayIndex(f.data_folder, index, &f.error);
}

bool WriteCheckerFiles(WindowFixture& f) {
    // A snapshot of the recorder's full picture size: the preview box scales it down.
    const int width = 704, height = 576;
    std::vector<uint8_t> bgr(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &bgr[(static_cast<size_t>(y) * width + x) * 3];
            const bool border = x < 8 || y < 8 || x >= width - 8 || y >= height - 8;
            p[0] = border ? 0 : static_cast<uint8_t>(x * 255 / width);
            p[1] = border ? 0 : static_cast<uint8_t>(y * 255 / height);
            p[2] = border ? 255 : 96;
        }
    }
    const std::string jpeg = f.folder + "/snapshots/CH01_20261209-093512.jpg";
    const std::string avi = f.folder + "/exports/CH04_20261209-094005_003.avi";
    std::filesystem::create_directories(f.folder + "/snapshots");
    std::filesystem::create_directories(f.folder + "/exports");
    JpegSnapshotWriter writer;
    if (!writer.Save(jpeg, bgr.data(), width, height)) {
        f.error = "cannot write " + jpeg;
        return false;
    }
    // The export: the snapshot's picture as a few MJPEG frames, as the recorder's exports carry them.
    std::ifstream in(jpeg, std::ios::binary);
    const std::vector<uint8_t> frame((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    AviWriter writer_avi;
    bool written = writer_avi.Open(avi, width, height, 100, 5, 16, 1, 8000, 0, AviWriter::kCodecMjpeg);
    for (int i = 0; written && i < 10; ++i)
        written = writer_avi.WriteVideoFrame(frame.data(), static_cast<int>(frame.size()), i * 200);
    if (!writer_avi.Close() || !written) {
        f.error = "cannot write " + avi;
        return false;
    }
    f.checker_files = {avi, jpeg};
    return true;
}

// Puts back the choosers and screen size a window's opening replaced.
class Restorer {
public:
    ~Restorer() {
        if (folder_) ui::SetFolderChooser(*folder_);
        if (screen_) ui::SetScreenSizeSource(*screen_);
        if (files_) SetCheckerFileChooser(*files_);
    }
    void Folder(const std::string& answer) {
        folder_ = ui::SetFolderChooser([answer](QWidget*, const std::string&) { return std::optional<std::string>(answer); });
    }
    void Screen() {
        screen_ = ui::SetScreenSizeSource([] { return QSize(kScreenWidth, kScreenHeight); });
    }
    void Files(std::vector<std::string> paths) {
        files_ = SetCheckerFileChooser([paths](QWidget*) { return paths; });
    }

private:
    std::optional<ui::FolderChooser> folder_;
    std::optional<ui::ScreenSizeSource> screen_;
    std::optional<CheckerFileChooser> files_;
};

// A window of type W with what it borrows kept beside it.
template <class W>
class Held : public OpenWindow {
public:
    Held() { restore.Screen(); }
    QWidget* window() const override { return widget.get(); }
    Restorer restore;  // outlives the window
    RecordSource record_source;
    std::array<OsdStyleRecord, 4> styles;
    std::unique_ptr<W> widget = std::make_unique<W>();
};

template <class W>
std::unique_ptr<OpenWindow> Shown(std::unique_ptr<Held<W>> held) {
    held->widget->show();
    Settle();
    return held;
}

std::unique_ptr<OpenWindow> MainWindow(const WindowFixture&) {
    auto held = std::make_unique<Held<CKestrelPlaybackDlg>>();
    // The program starts in English; the language chosen later is the caller's.
    const int language = LanguageIndex;
    held->widget->OnInitDialog();
    LanguageIndex = language;
    return Shown(std::move(held));
}

std::unique_ptr<OpenWindow> ViewRecordFiles(const WindowFixture& f) {
    auto held = std::make_unique<Held<CSelectDlg>>();
    CSelectDlg& dlg = *held->widget;
    dlg.history_path = f.folder + "/history.ini";
    dlg.worker.pause_ms = 0;
    dlg.OnInitDialog();
    held->restore.Folder(f.data_folder);
    dlg.OnChooseFolder();
    dlg.calendar()->SelectDay(f.day);
    dlg.OnWndMsg(WM_CALENDAR_NOTIFY, 1, 0);
    return Shown(std::move(held));
}

// The Remote Manager on its recorder page (0) or its share page (1), with the
// first entry of the page's list picked.
std::unique_ptr<OpenWindow> RemoteManager(const WindowFixture& f, int page) {
    auto held = std::make_unique<Held<CRemoteDlg>>();
    CRemoteDlg& dlg = *held->widget;
    dlg.server_page().store_file = f.server_store;
    dlg.nas_page().store_file = f.share_store;
    dlg.OnInitDialog();
    dlg.tab()->setCurrentIndex(page);
    QWidget* shown = page == 0 ? static_cast<QWidget*>(&dlg.server_page()) : &dlg.nas_page();
    if (auto* list = shown->findChild<QListWidget*>()) list->setCurrentRow(0);
    return Shown(std::move(held));
}

std::unique_ptr<OpenWindow> Setting(const WindowFixture& f, int page) {
    auto held = std::make_unique<Held<CSettingDlg>>();
    for (size_t i = 0; i < 4; ++i) held->widget->osd_styles[i] = &held->styles[i];
    held->widget->program_folder = f.folder;
    held->widget->OnInitDialog();
    held->widget->Tabs()->setCurrentIndex(page);
    return Shown(std::move(held));
}

std::unique_ptr<OpenWindow> ImageEnhancement(const WindowFixture&) {
    auto held = std::make_unique<Held<CAdjustImage>>();
    held->widget->OnInitDialog();
    return Shown(std::move(held));
}

std::unique_ptr<OpenWindow> Export(const WindowFixture& f) {
    auto held = std::make_unique<Held<CAviDialog2>>();
    held->record_source.path = f.data_folder;
    held->record_source.year = f.year;
    held->record_source.month = f.month;
    held->record_source.day = f.day;
    held->widget->record_source = &held->record_source;
    held->widget->cue_in_second = kRecordStart + 35;
    held->widget->cue_out_second = kRecordStart + 14 * 60 + 5;
    held->widget->OnInitDialog();
    held->widget->set_output_folder(f.folder);
    return Shown(std::move(held));
}

std::unique_ptr<OpenWindow> ExportProgress(const WindowFixture&) {
    auto held = std::make_unique<Held<CAviDumpDlg2>>();
    held->widget->OnInitDialog();
    held->widget->SetCaption("CH04_20261209-094005_003.avi");
    held->widget->SetProgress(40);
    return Shown(std::move(held));
}

std::unique_ptr<OpenWindow> RecorderExport(const WindowFixture& f) {
    auto held = std::make_unique<Held<CAviExportDlg>>();
    CAviExportDlg& dlg = *held->widget;
    dlg.year = f.year;
    dlg.month = f.month;
    dlg.day = f.day;
    dlg.cue_in_second = kRecordStart + 35;
    dlg.cue_out_second = kRecordStart + 14 * 60 + 5;
    dlg.channel_flags = {1, 1, 0, 1};
    dlg.OnInitDialog();
    dlg.set_output_folder(f.folder);
    return Shown(std::move(held));
}

std::unique_ptr<OpenWindow> RecorderExportProgress(const WindowFixture&) {
    auto held = std::make_unique<Held<CAVIDumpDlg>>();
    held->widget->OnInitDialog();
    held->widget->OnShowFileName("CH04_20261209-94005_3.avi");
    held->widget->show();
    held->widget->OnSetProgress(40, 100);
    Settle();
    return held;
}

// Owned, as in the programs, by a window that carries the program's icon.
class AboutBox : public OpenWindow {
public:
    AboutBox(const char* caption, const char* text, const char* icon_file)
        : owner(WithIcon(icon_file)), box(caption, text, owner.get()) {
        box.show();
        Settle();
    }
    QWidget* window() const override { return const_cast<CAboutDlg*>(&box); }
    static std::unique_ptr<QWidget> WithIcon(const char* icon_file) {
        auto w = std::make_unique<QWidget>();
        w->setWindowIcon(QIcon(QPixmap::fromImage(LoadSkinImage(icon_file))));
        return w;
    }
    std::unique_ptr<QWidget> owner;
    CAboutDlg box;
};

std::unique_ptr<OpenWindow> Backup(const WindowFixture& f) {
    auto held = std::make_unique<Held<CBackupDialog>>();
    held->widget->source_folder = f.data_folder;
    held->widget->OnInitDialog();
    return Shown(std::move(held));
}

std::unique_ptr<OpenWindow> BackupProgress(const WindowFixture&) {
    auto held = std::make_unique<Held<DataDumpDlg>>();
    held->widget->OnInitDialog();
    held->widget->SetBarPosition(40);
    return Shown(std::move(held));
}

// With the files added; preview_avi: the export clicked, its pictures in the viewer grid.
std::unique_ptr<OpenWindow> Halyard(const WindowFixture& f, bool preview_avi) {
    auto held = std::make_unique<Held<CWatermarkDlg>>();
    held->restore.Files(f.checker_files);
    held->widget->OnAddFile();
    if (preview_avi) {
        QTreeWidget* list = held->widget->list();
        for (int row = 0; row < list->topLevelItemCount(); ++row)
            if (list->topLevelItem(row)->text(CWatermarkDlg::kColumnName).endsWith(".avi")) held->widget->OnListClick(row);
    }
    held->widget->show();
    // The preview's first picture arrives from its thread as a repaint.
    QElapsedTimer clock;
    clock.start();
    const CCheckerViewer* viewer = held->widget->viewer_grid()->Viewer(0);
    while (preview_avi && viewer->frames_shown() == 0 && clock.elapsed() < 3000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return Shown(std::move(held));
}

}  // namespace

WindowFixture::WindowFixture(const std::string& folder_in) : folder(folder_in) {
    server_store = folder + "/server.db";
    share_store = folder + "/shared.db";
    std::filesystem::create_directories(folder + "/lang");
    std::ofstream(StorageSettingPath(folder)) << "[setting]\nlocation=/home/operator/Exports\n";
    ok = WriteDataFolder(*this) && WriteCheckerFiles(*this) &&
         Exec(server_store,
              "create table server(saveenable text, server text, ip text, port text, user text, password text);"
              "insert into server values('1', 'Warehouse North', '192.168.100.108', '8080', 'operator', 'secret');",
              &error) &&
         Exec(share_store,
              "create table server(saveenable text, ip text, entry text, user text, password text);"
              "insert into server values('1', '192.168.100.20', 'recordings', 'operator', 'secret');",
              &error);
}

void Settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

const std::vector<WindowEntry>& Windows() {
    static const std::vector<WindowEntry> windows = {
        {"main-window", MainWindow},
        {"view-record-files", ViewRecordFiles},
        {"remote-manager", [](const WindowFixture& f) { return RemoteManager(f, 0); }},
        {"remote-manager-shares", [](const WindowFixture& f) { return RemoteManager(f, 1); }},
        {"setting-osd", [](const WindowFixture& f) { return Setting(f, 0); }},
        {"setting-language", [](const WindowFixture& f) { return Setting(f, 1); }},
        {"setting-storage", [](const WindowFixture& f) { return Setting(f, 2); }},
        {"image-enhancement", ImageEnhancement},
        {"export", Export},
        {"export-progress", ExportProgress},
        {"recorder-export", RecorderExport},
        {"recorder-export-progress", RecorderExportProgress},
        {"backup", Backup},
        {"backup-progress", BackupProgress},
        {"halyard", [](const WindowFixture& f) { return Halyard(f, false); }},
        {"halyard-avi-preview", [](const WindowFixture& f) { return Halyard(f, true); }},
        {"about-larkspur",
         [](const WindowFixture&) { return std::make_unique<AboutBox>("About Larkspur", "Larkspur V1.1.00", skin::kPlaybackIconFile); }},
        {"about-halyard",
         [](const WindowFixture&) { return std::make_unique<AboutBox>("About Halyard", "Halyard V1.0.00", skin::kCheckerIconFile); }},
    };
    return windows;
}

}  // namespace catalogue
