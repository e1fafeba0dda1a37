// The checker's main dialog offscreen: listing, verification marks and
// counters, AVI preview and still image, on fixtures written by our writers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "checker/avi_preview.h"
#include "checker/checker_files.h"
#include "checker/ui/checker_viewer.h"
#include "checker/ui/img_box.h"
#include "checker/ui/watermark_dlg.h"
#include "checker/verification.h"
#include "export/avi_recompress_writer.h"
#include "mainwindow/ui/my_button.h"
#include "media/jpeg_snapshot_writer.h"
#include "media/ui/ui_services.h"
#include "media/watermark_writer.h"
#include "platform/message_box.h"
#include "tests/mainwindow/ui/control_test_support.h"
#include "tests/support/held_time.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

// A flat picture of one colour (blue, green, red), top row first.
std::vector<uint8_t> Picture(int w, int h, uint8_t b, uint8_t g, uint8_t r) {
    std::vector<uint8_t> p(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < p.size(); i += 3) {
        p[i] = b;
        p[i + 1] = g;
        p[i + 2] = r;
    }
    return p;
}

void WriteJpeg(const std::string& path, bool watermark) {
    JpegSnapshotWriter writer;
    const std::vector<uint8_t> pic = Picture(64, 48, 0, 0, 255);
    ASSERT_TRUE(writer.Save(path, pic.data(), 64, 48));
    if (watermark) {
        std::vector<uint8_t> copy;
        ASSERT_TRUE(InsertJpegWatermark(copy, path));
    }
}

void WriteAvi(const std::string& path, bool trailer, int frames = 8) {
    AviRecompressWriter writer;
    ASSERT_TRUE(writer.Open(path, 100, 15, 16, 1, 8000, 0, 64, 48));
    const std::vector<uint8_t> pic = Picture(64, 48, 255, 0, 0);
    for (int i = 0; i < frames; ++i) ASSERT_TRUE(writer.WriteVideoFrame(pic.data(), 1, i * 67, 64, 48));
    ASSERT_TRUE(writer.Close());
    if (trailer) {
        ASSERT_TRUE(AppendWatermarkTrailer(path));
    }
}

// Flips a byte in the middle, where the JPEG check covers it.
void Tamper(const std::string& path) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    const auto size = fs::file_size(path);
    f.seekg(static_cast<std::streamoff>(size / 2));
    char c = 0;
    f.read(&c, 1);
    c = static_cast<char>(c ^ 0x5A);
    f.seekp(static_cast<std::streamoff>(size / 2));
    f.write(&c, 1);
}

template <typename Pred>
bool WaitFor(Pred pred, int ms = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) return true;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return pred();
}

int RowOf(QTreeWidget* list, const QString& name) {
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->text(0) == name) return i;
    return -1;
}

class WatermarkDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetMessageBoxHandler([this](const std::string& text, const std::string& caption, int) {
            boxes.push_back(caption + ": " + text);
            return platform::kIdOk;
        });
    }
    void TearDown() override {
        platform::SetMessageBoxHandler(nullptr);
        ui::SetFolderChooser(nullptr);
        SetCheckerFileChooser(nullptr);
        SetCheckerFileVerifier(nullptr);
    }
    void AddFolder(CWatermarkDlg& dlg, const std::string& folder) {
        ui::SetFolderChooser([folder](QWidget*, const std::string&) { return std::optional<std::string>(folder); });
        dlg.OnAddFolder();
    }
    QString Mark(CWatermarkDlg& dlg, const char* name) {
        const int row = RowOf(dlg.list(), name);
        return row < 0 ? QString("missing") : dlg.list()->topLevelItem(row)->text(1);
    }

    control_test::ApplicationGuard app;
    TempFolder temp;
    std::vector<std::string> boxes;
};

TEST_F(WatermarkDlgTest, AddFolderListsJpegAndAviFilesOnceAtTheTop) {
    fs::create_directories(temp.Sub("a/b"));
    WriteJpeg(temp.Sub("one.jpg"), true);
    WriteAvi(temp.Sub("a/two.avi"), true, 2);
    WriteJpeg(temp.Sub("a/b/three.jpg"), false);
    WriteJpeg(temp.Sub("a/b/one.jpg"), true);  // same name in another folder: skipped
    WriteJpeg(temp.Sub("upper.JPG"), true);    // the extension test is case-sensitive
    std::ofstream(temp.Sub("note.txt")) << "x";

    CWatermarkDlg dlg;
    EXPECT_FALSE(dlg.select_all_button()->isEnabled());
    EXPECT_FALSE(dlg.verify_button()->isEnabled());
    AddFolder(dlg, temp.path());
    QTreeWidget* list = dlg.list();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_GE(RowOf(list, "one.jpg"), 0);
    EXPECT_GE(RowOf(list, "two.avi"), 0);
    EXPECT_GE(RowOf(list, "three.jpg"), 0);
    EXPECT_EQ(list->topLevelItem(RowOf(list, "two.avi"))->text(2).toStdString(), temp.Sub("a"));
    EXPECT_TRUE(dlg.select_all_button()->isEnabled());

    // A file added later lands on top.
    WriteJpeg(temp.Sub("late.jpg"), true);
    SetCheckerFileChooser([&](QWidget*) { return std::vector<std::string>{temp.Sub("late.jpg")}; });
    dlg.OnAddFile();
    EXPECT_EQ(list->topLevelItem(0)->text(0), "late.jpg");
    EXPECT_TRUE(dlg.img_box()->HasImage());

    // Removing every row disables Select all and zeroes the counters.
    dlg.OnSelectAll();
    dlg.OnRemove();
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_FALSE(dlg.select_all_button()->isEnabled());
    EXPECT_EQ(dlg.CheckedText(), "0");
    EXPECT_EQ(dlg.PassedText(), "0");
}

TEST_F(WatermarkDlgTest, FifoUnderAPictureNameIsRefusedWithoutWaiting) {
    // Nobody ever opens the FIFO for writing: reading it would wait forever.
    const std::string fifo = temp.Sub("pipe.jpg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    WriteJpeg(temp.Sub("real.jpg"), true);

    CWatermarkDlg dlg;
    AddFolder(dlg, temp.path());
    ASSERT_EQ(dlg.list()->topLevelItemCount(), 1);
    EXPECT_EQ(dlg.list()->topLevelItem(0)->text(0), "real.jpg");

    SetCheckerFileChooser([&](QWidget*) { return std::vector<std::string>{fifo}; });
    dlg.OnAddFile();
    ASSERT_EQ(RowOf(dlg.list(), "pipe.jpg"), 0);
    EXPECT_FALSE(dlg.img_box()->HasImage());
    dlg.OnListClick(RowOf(dlg.list(), "real.jpg"));
    EXPECT_TRUE(dlg.img_box()->HasImage());
    dlg.OnListClick(RowOf(dlg.list(), "pipe.jpg"));
    EXPECT_FALSE(dlg.img_box()->HasImage());
    EXPECT_FALSE(dlg.img_box()->Load(temp.path()));  // a folder is no picture either
}

TEST(CheckerFolderScan, FollowsSubFoldersFifteenLevelsDeep) {
    TempFolder temp;
    std::string dir = temp.path();
    for (int depth = 1; depth <= 16; ++depth) {
        dir += "/d";
        fs::create_directories(dir);
        std::ofstream(dir + "/f" + std::to_string(depth) + ".avi") << "x";
    }
    const std::vector<std::string> found = ScanCheckFolder(temp.path());
    EXPECT_EQ(found.size(), 15u);
    for (const std::string& p : found) EXPECT_EQ(p.find("f16.avi"), std::string::npos);
}

TEST(CheckerFolderScan, SplitFilePathGivesNameAndFolder) {
    struct Case {
        const char* path;
        const char* name;
        const char* folder;
    } cases[] = {
        {"/pics/snap.jpg", "snap.jpg", "/pics"},
        {"/snap.jpg", "snap.jpg", ""},
        {"/pics//snaps.jpg", "snaps.jpg", "/pics"},
        {"/spans/snap.jpg", "snap.jpg", "/spans"},  // folder letters that occur in the name stay
    };
    for (const Case& c : cases) {
        std::string name, folder;
        EXPECT_EQ(SplitFilePath(c.path, &name, &folder), 1);
        EXPECT_EQ(name, c.name) << c.path;
        EXPECT_EQ(folder, c.folder) << c.path;
        EXPECT_EQ(fs::path(JoinFilePath(folder, name)).lexically_normal(), fs::path(c.path).lexically_normal());
    }
}

TEST_F(WatermarkDlgTest, VerifyMarksGoodAndTamperedFilesAndCounts) {
    WriteJpeg(temp.Sub("good.jpg"), true);
    WriteJpeg(temp.Sub("bad.jpg"), true);
    Tamper(temp.Sub("bad.jpg"));
    WriteJpeg(temp.Sub("plain.jpg"), false);
    WriteAvi(temp.Sub("good.avi"), true);
    WriteAvi(temp.Sub("plain.avi"), false);
    CWatermarkDlg dlg;
    AddFolder(dlg, temp.path());
    ASSERT_EQ(dlg.list()->topLevelItemCount(), 5);

    // Nothing chosen since start: no result, but the completion message all the same.
    dlg.OnVerify();
    EXPECT_EQ(dlg.CheckedText(), "0");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Message: The verification process is completed.");

    dlg.OnSelectAll();
    EXPECT_TRUE(dlg.verify_button()->isEnabled());
    dlg.OnVerify();
    EXPECT_EQ(Mark(dlg, "good.jpg"), "V");
    EXPECT_EQ(Mark(dlg, "bad.jpg"), "X");
    EXPECT_EQ(Mark(dlg, "plain.jpg"), "X");
    EXPECT_EQ(Mark(dlg, "good.avi"), "V");
    EXPECT_EQ(Mark(dlg, "plain.avi"), "X");
    EXPECT_EQ(dlg.CheckedText(), "5");
    EXPECT_EQ(dlg.PassedText(), "2");
    EXPECT_TRUE(dlg.list()->selectedItems().isEmpty());
    EXPECT_FALSE(dlg.verify_button()->isEnabled());
    EXPECT_EQ(boxes.size(), 2u);

    // A file gone since it was listed is "X"; earlier results stay counted.
    fs::remove(temp.Sub("good.jpg"));
    const int row = RowOf(dlg.list(), "good.jpg");
    dlg.OnListClick(row);
    dlg.OnVerify();
    EXPECT_EQ(Mark(dlg, "good.jpg"), "X");
    EXPECT_EQ(dlg.CheckedText(), "5");
    EXPECT_EQ(dlg.PassedText(), "1");
}

TEST_F(WatermarkDlgTest, BusyWindowLimitCutsTheFileInProgressAndSaysSo) {
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) WriteJpeg(temp.Sub(name), true);
    CWatermarkDlg dlg;
    AddFolder(dlg, temp.path());
    ASSERT_EQ(dlg.list()->topLevelItemCount(), 3);
    // The second row in list order never finishes by itself: it ends only
    // when the run is cut, as a check over a huge file does.
    const std::string stuck = JoinFilePath(dlg.list()->topLevelItem(1)->text(2).toStdString(),
                                           dlg.list()->topLevelItem(1)->text(0).toStdString());
    std::atomic<int> started_stuck{0};
    SetCheckerFileVerifier([&](const std::string& path, const std::atomic<int>& run) {
        if (path != stuck) return VerifyFile(path, &run);
        started_stuck = 1;
        run.wait(1);
        return std::string();
    });
    dlg.SetVerifyTickLimit(2);
    dlg.OnSelectAll();
    dlg.OnVerify();

    EXPECT_EQ(started_stuck.load(), 1);
    EXPECT_EQ(dlg.list()->topLevelItem(0)->text(1), "V");
    EXPECT_EQ(dlg.list()->topLevelItem(1)->text(1), "");
    EXPECT_EQ(dlg.list()->topLevelItem(2)->text(1), "");
    EXPECT_EQ(dlg.CheckedText(), "1");
    EXPECT_EQ(dlg.PassedText(), "1");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Message: The verification was stopped before every file was checked.");
    EXPECT_FALSE(dlg.verify_button()->isEnabled());

    // With the real checks and time to spare, the same rows complete.
    SetCheckerFileVerifier(nullptr);
    dlg.SetVerifyTickLimit(CWatermarkDlg::kVerifyTickLimit);
    dlg.OnSelectAll();
    dlg.OnVerify();
    EXPECT_EQ(dlg.CheckedText(), "3");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], "Message: The verification process is completed.");
}

TEST_F(WatermarkDlgTest, OnlyAMouseSelectionEnablesVerify) {
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) WriteJpeg(temp.Sub(name), true);
    CWatermarkDlg dlg;
    dlg.show();
    AddFolder(dlg, temp.path());
    QTreeWidget* list = dlg.list();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    list->setFocus();

    // Keys move and extend the selection, but choose nothing to verify.
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Down, Qt::ShiftModifier);
    QCoreApplication::processEvents();
    ASSERT_FALSE(list->selectedItems().isEmpty());
    EXPECT_FALSE(dlg.verify_button()->isEnabled());
    EXPECT_EQ(dlg.current_item(), -1);

    // A drag from the first row to the last selects them all; its release chooses them.
    const QRect first = list->visualItemRect(list->topLevelItem(0));
    const QRect last = list->visualItemRect(list->topLevelItem(2));
    QTest::mousePress(list->viewport(), Qt::LeftButton, Qt::NoModifier, first.center());
    QTest::mouseMove(list->viewport(), last.center());
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, Qt::NoModifier, last.center());
    QCoreApplication::processEvents();
    EXPECT_EQ(list->selectedItems().size(), 3);
    EXPECT_TRUE(dlg.verify_button()->isEnabled());
    EXPECT_EQ(dlg.current_item(), 0);

    // A click below the rows clears the selection and disables Verify again.
    const QPoint empty(first.center().x(), last.bottom() + 3 * last.height());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, empty);
    QCoreApplication::processEvents();
    EXPECT_TRUE(list->selectedItems().isEmpty());
    EXPECT_FALSE(dlg.verify_button()->isEnabled());
}

TEST_F(WatermarkDlgTest, TooltipsComeAfter150MsOnMagentaAndTheListHasGridLines) {
    CWatermarkDlg dlg;
    for (CMyButton* b : dlg.findChildren<CMyButton*>()) {
        EXPECT_EQ(b->style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay, nullptr, b), 150) << b->text().toStdString();
        EXPECT_FALSE(b->toolTip().isEmpty());
    }
    EXPECT_EQ(QToolTip::palette().color(QPalette::ToolTipBase), QColor(255, 0, 255));

    for (const char* name : {"a.jpg", "b.jpg"}) WriteJpeg(temp.Sub(name), true);
    dlg.show();
    AddFolder(dlg, temp.path());
    QTreeWidget* list = dlg.list();
    const QImage shot = list->viewport()->grab().toImage();
    const QRect row = list->visualItemRect(list->topLevelItem(0));
    const QColor base = list->palette().color(QPalette::Base);
    // The row's last line and its first column's right edge are drawn; the row's middle is not.
    const QPoint bottom(row.left() + list->columnWidth(0) / 2, row.bottom());
    const QPoint column_edge(list->columnWidth(0) - 1, row.center().y() - 2);
    const QPoint inside(row.left() + 3, row.top() + 1);
    EXPECT_NE(shot.pixelColor(bottom), base);
    EXPECT_NE(shot.pixelColor(column_edge), base);
    EXPECT_EQ(shot.pixelColor(inside), base);
}

// What the real file dialog showed when it opened, before it was answered.
struct Opened {
    QString folder;
    QStringList filters;
    QString refused;  // a message box the dialog raised instead of closing, or why it was given up
};

// Answers the next real file dialog by choosing `choice` in it (the path of a file, or
// of a folder for the folder browser). The dialog may still be loading its folder when
// first answered and stay open, so the answer is repeated until the dialog is gone; a
// message box it raises is noted and closed, and a dialog that never closes is rejected
// after a minute, so a fault fails the test instead of hanging it.
void AnswerFileDialog(const QString& choice, Opened* opened) {
    struct State {
        bool answered = false;
        QPointer<QFileDialog> dialog;  // the one being answered, once found
        QElapsedTimer since;
    };
    auto* poll = new QTimer;
    auto state = std::make_shared<State>();
    QObject::connect(poll, &QTimer::timeout, [poll, choice, opened, state] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                opened->refused = box->text();
                box->reject();
                return;
            }
        }
        if (state->answered) {
            // Only the dialog answered is answered again; the next one has an answer of its own.
            if (!state->dialog || !state->dialog->isVisible()) {
                poll->deleteLater();
                return;
            }
            if (state->since.elapsed() > 60000) {
                opened->refused = "the dialog did not close when answered";
                state->dialog->reject();
                return;
            }
        } else {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible()) state->dialog = d;
            if (!state->dialog) return;
            state->answered = true;
            state->since.start();
            opened->folder = state->dialog->directory().absolutePath();
            opened->filters = state->dialog->nameFilters();
        }
        QFileDialog* dialog = state->dialog;
        // The dialog takes a chosen file into its name field only while that field has no
        // focus, and it gains the focus some time after it shows.
        if (QWidget* focused = dialog->focusWidget()) focused->clearFocus();
        // A folder browser with nothing selected answers the folder it shows.
        if (dialog->fileMode() == QFileDialog::Directory)
            dialog->setDirectory(choice);
        else
            dialog->selectFile(choice);
        QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
    });
    poll->start(10);
}

TEST_F(WatermarkDlgTest, RealChoosersOpenAtTheFolderChosenLastElseHome) {
    ui::NoteChosenFolder("");
    fs::create_directories(temp.Sub("pictures"));
    WriteJpeg(temp.Sub("pictures/snap.jpg"), true);
    fs::create_directories(temp.Sub("exports"));
    CWatermarkDlg dlg;
    dlg.show();

    // Add File: the home folder first, and the JPEG pattern matches longer extensions too.
    Opened add_file;
    AnswerFileDialog(QString::fromStdString(temp.Sub("pictures/snap.jpg")), &add_file);
    dlg.OnAddFile();
    EXPECT_EQ(add_file.refused, "");
    EXPECT_EQ(add_file.folder, QDir::homePath());
    EXPECT_EQ(add_file.filters, QStringList({"JPEG Files (*.jpg*)", "AVI Files (*.avi)"}));
    EXPECT_EQ(RowOf(dlg.list(), "snap.jpg"), 0);

    // Add Folder: where the file was chosen; then where that folder was chosen.
    Opened first, second;
    AnswerFileDialog(QString::fromStdString(temp.Sub("exports")), &first);
    dlg.OnAddFolder();
    EXPECT_EQ(first.refused, "");
    EXPECT_EQ(first.folder.toStdString(), temp.Sub("pictures"));
    AnswerFileDialog(QString::fromStdString(temp.Sub("exports")), &second);
    dlg.OnAddFolder();
    EXPECT_EQ(second.refused, "");
    EXPECT_EQ(second.folder.toStdString(), temp.Sub("exports"));

    // A folder chosen last that is gone since: home again.
    fs::remove_all(temp.Sub("exports"));
    EXPECT_EQ(ui::ChooserStartFolder(), QDir::homePath().toStdString());
    ui::NoteChosenFolder("");
}

// Mostly the colour (b, g, r) within a tolerance for the 16-bit coding.
bool MostlyColour(const QImage& image, int b, int g, int r) {
    int hits = 0, total = 0;
    for (int y = 2; y < image.height() - 2; y += 4)
        for (int x = 2; x < image.width() - 2; x += 4) {
            const QColor c = image.pixelColor(x, y);
            ++total;
            if (std::abs(c.blue() - b) < 24 && std::abs(c.green() - g) < 24 && std::abs(c.red() - r) < 24) ++hits;
        }
    return total > 0 && hits * 10 >= total * 9;
}

TEST_F(WatermarkDlgTest, ClickOnVideoOneAviPreviewsItsPictures) {
    WriteAvi(temp.Sub("clip.avi"), true, 30);
    CWatermarkDlg dlg;
    dlg.show();
    AddFolder(dlg, temp.path());
    dlg.OnListClick(RowOf(dlg.list(), "clip.avi"));
    EXPECT_TRUE(dlg.viewer_grid()->isVisible());
    EXPECT_FALSE(dlg.img_box()->isVisible());
    EXPECT_EQ(dlg.preview().state(), 1);
    CCheckerViewer* viewer = dlg.viewer_grid()->Viewer(0);
    ASSERT_TRUE(WaitFor([&] { return viewer->frames_shown() > 0; }));
    EXPECT_EQ(dlg.preview().decoder_handle(), AviPreview::kOwnDecoder);
    EXPECT_EQ(dlg.preview().library_calls(), 0);
    EXPECT_TRUE(MostlyColour(viewer->Render(), 255, 0, 0));

    // Stopping leaves the viewer black.
    dlg.StopAviPreview();
    EXPECT_EQ(dlg.preview().state(), 0);
    EXPECT_TRUE(MostlyColour(viewer->Render(), 0, 0, 0));
}

TEST_F(WatermarkDlgTest, StopReturnsQuicklyFromASlowFile) {
    // One picture a second: a stop must not wait out the pacing.
    AviRecompressWriter writer;
    ASSERT_TRUE(writer.Open(temp.Sub("slow.avi"), 100, 1, 16, 1, 8000, 0, 64, 48));
    const std::vector<uint8_t> pic = Picture(64, 48, 0, 255, 0);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(writer.WriteVideoFrame(pic.data(), 1, i * 1000, 64, 48));
    ASSERT_TRUE(writer.Close());
    CCheckerViewer viewer;
    AviPreview preview(&viewer);
    ASSERT_TRUE(preview.StartAviPreview(temp.Sub("slow.avi")));
    ASSERT_TRUE(WaitFor([&] { return preview.pictures_shown() > 0; }));
    // Anything short of the one-second picture period (the slowest the file can ask for) shows
    // the wait was cut short; how short is a figure for the benchmarks. The time the stop held
    // this thread leaves out the time it stood ready while other work held the processors.
    EXPECT_LT(held_time::HeldMs([&] { preview.StopAviPreview(); }), 900);
    EXPECT_FALSE(preview.StartAviPreview(temp.Sub("missing.avi")));
    EXPECT_EQ(preview.state(), 0);
}

TEST_F(WatermarkDlgTest, ClickOnJpegShowsItInTheImageBox) {
    WriteJpeg(temp.Sub("snap.jpg"), true);
    CWatermarkDlg dlg;
    dlg.show();
    AddFolder(dlg, temp.path());
    dlg.OnListClick(RowOf(dlg.list(), "snap.jpg"));
    EXPECT_TRUE(dlg.img_box()->isVisible());
    EXPECT_FALSE(dlg.viewer_grid()->isVisible());
    ASSERT_TRUE(dlg.img_box()->HasImage());
    EXPECT_EQ(dlg.img_box()->image().size(), QSize(64, 48));
    // Squeezed into 226 x 165 whatever the box's size; black after Clear.
    const QImage shown = dlg.img_box()->Render().copy(0, 0, CImgBox::kDrawWidth, CImgBox::kDrawHeight);
    EXPECT_TRUE(MostlyColour(shown, 0, 0, 255));
    dlg.img_box()->Clear();
    EXPECT_TRUE(MostlyColour(dlg.img_box()->Render().copy(0, 0, 226, 165), 0, 0, 0));
}

TEST(AviPreviewPacing, WaitsTheFrameTimeLessDecodeAndTwoMilliseconds) {
    struct Case {
        double fps;
        int elapsed;
        int wait;
    } cases[] = {{25.0, 10, 28}, {25.0, 38, 0}, {25.0, 37, 1}, {3.0, 0, 331}, {25.0, 100, 0}, {0.0, 0, 0}};
    for (const Case& c : cases) EXPECT_EQ(PreviewWaitMs(c.fps, c.elapsed), c.wait) << c.fps << " " << c.elapsed;
}

TEST(AviPreviewPacing, Mpeg4ChunksNeedAVopStartNearTheirBeginning) {
    auto chunk = [](size_t size, int at) {
        std::vector<uint8_t> v(size, 0x11);
        if (at >= 0) {
            v[at] = 0;
            v[at + 1] = 0;
            v[at + 2] = 1;
            v[at + 3] = 0xB6;
        }
        return v;
    };
    struct Case {
        size_t size;
        int at;
        bool decode;
    } cases[] = {{99, 0, false}, {100, 0, true}, {103, 99, true}, {104, 100, false}, {200, -1, false}};
    for (const Case& c : cases) {
        const std::vector<uint8_t> v = chunk(c.size, c.at);
        EXPECT_EQ(Mpeg4ChunkHasVop(v.data(), v.size()), c.decode) << c.size << " " << c.at;
    }
    // A code cut by the end of a 100-byte chunk is not read past it.
    std::vector<uint8_t> cut(100, 0x11);
    cut[98] = 0;
    cut[99] = 0;
    EXPECT_FALSE(Mpeg4ChunkHasVop(cut.data(), cut.size()));
}

}  // namespace
