#include "media/ui/my_viewer.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QWheelEvent>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>

#include "checker/watermark_checks.h"
#include "mainwindow/storage_location.h"
#include "media/osd_style_record.h"
#include "media/ui/gdi_paint.h"
#include "tests/media/ui/viewer_test_support.h"
#include "tests/support/program_folder_copy.h"
#include "tests/support/temp_folder.h"

namespace {

using viewer_test::Pixel;
using viewer_test::SolidPicture;

constexpr QRgb kBlack = 0x000000;
constexpr QRgb kYellow = 0xFFFF00;

QRgb Rgb(const QColor& c) { return c.rgb() & 0xFFFFFF; }

class MyViewerTest : public ::testing::Test {
protected:
    void SetUp() override { viewer.resize(160, 120); }

    void Feed(int width, int height, uint32_t rgb) {
        viewer.SetFrameSize(width, height);
        const auto picture = SolidPicture(width, height, rgb);
        ASSERT_EQ(viewer.ShowFrame(static_cast<int>(picture.size()), picture.data()), 1);
    }
    QImage Shot() { return viewer.grab().toImage(); }
    void HideText() { viewer.SetOsdSwitches(0, 1, 1, 1, 1); }

    // Rows (of the whole width) that hold a pixel of the colour.
    static std::vector<int> RowsWith(const QImage& image, QRgb colour) {
        std::vector<int> rows;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (Pixel(image, x, y) == colour) {
                    rows.push_back(y);
                    break;
                }
        return rows;
    }

    viewer_test::UiRecorder recorder;
    CMyViewer viewer;
};

TEST_F(MyViewerTest, WithoutVideoOnlyBlackInsideTheEtchedBorder) {
    viewer.SetCameraName("Gate");
    viewer.SetOsdDateTime(2024, 3, 5, 13, 4, 9);
    const QImage shot = Shot();
    ASSERT_EQ(shot.size(), QSize(160, 120));
    EXPECT_EQ(Pixel(shot, 0, 0), Rgb(kEdgeShadowColour));
    EXPECT_EQ(Pixel(shot, 159, 119), Rgb(kEdgeShadowColour));
    EXPECT_EQ(Pixel(shot, 1, 60), Rgb(kEdgeFaceColour));
    for (int y = 2; y < 118; ++y)
        for (int x = 2; x < 158; ++x) ASSERT_EQ(Pixel(shot, x, y), kBlack) << x << "," << y;
}

TEST_F(MyViewerTest, PictureFillsTheDestinationTopRowFirst) {
    viewer.SetFrameSize(64, 48);
    std::vector<uint8_t> picture = SolidPicture(64, 48, 0x0000FF);
    const auto green = SolidPicture(64, 24, 0x00FF00);
    std::copy(green.begin(), green.end(), picture.begin() + 64 * 24 * 3);  // bottom half
    ASSERT_EQ(viewer.ShowFrame(static_cast<int>(picture.size()), picture.data()), 1);
    HideText();
    const QImage shot = Shot();
    EXPECT_EQ(Pixel(shot, 80, 20), 0x0000FFu);
    EXPECT_EQ(Pixel(shot, 4, 4), 0x0000FFu);
    EXPECT_EQ(Pixel(shot, 80, 100), 0x00FF00u);
    EXPECT_EQ(Pixel(shot, 155, 115), 0x00FF00u);
}

TEST_F(MyViewerTest, KeepAspectLetterboxes) {
    viewer.resize(200, 100);
    Feed(64, 48, 0xFF0000);
    HideText();
    viewer.SetKeepAspect(true);
    // Height 99 from y 1; width trunc(100 x 4/3) = 133 from x (200 - 133) / 2.
    const QImage shot = Shot();
    EXPECT_EQ(Pixel(shot, 20, 50), kBlack);
    EXPECT_EQ(Pixel(shot, 36, 50), 0xFF0000u);
    EXPECT_EQ(Pixel(shot, 100, 50), 0xFF0000u);
    EXPECT_EQ(Pixel(shot, 164, 50), 0xFF0000u);
    EXPECT_EQ(Pixel(shot, 180, 50), kBlack);
}

TEST_F(MyViewerTest, SelectionIsATwoPixelYellowFrame) {
    viewer.SetSelected(true);
    const QImage shot = Shot();
    for (auto [x, y] : {std::pair{0, 60}, {1, 60}, {158, 60}, {159, 60}, {80, 0}, {80, 1}, {80, 118}, {80, 119},
                        {0, 0}, {159, 119}})
        EXPECT_EQ(Pixel(shot, x, y), kYellow) << x << "," << y;
    EXPECT_EQ(Pixel(shot, 2, 60), kBlack);
    EXPECT_EQ(Pixel(shot, 80, 2), kBlack);
    EXPECT_EQ(Pixel(shot, 157, 60), kBlack);
}

TEST_F(MyViewerTest, OnScreenTextRowsFollowTheSwitches) {
    viewer.resize(400, 200);
    viewer.SetLayout(2);  // cell height trunc(20 x 1.4) = 28
    Feed(64, 48, 0x000000);
    viewer.SetOsdFont("Arial Bold", 20, 400, 0x0000FF00);  // COLORREF green
    viewer.SetOsdDateTime(2024, 3, 5, 13, 4, 9);
    viewer.SetCameraName("Gate");

    std::vector<int> rows = RowsWith(Shot(), 0x00FF00);
    ASSERT_FALSE(rows.empty());
    EXPECT_LT(rows.front(), 28);
    EXPECT_GE(rows.back(), 28);  // two lines
    EXPECT_LT(rows.back(), 84);

    viewer.SetOsdSwitches(1, 1, 1, 0, 0);  // no first line: date and time move up
    rows = RowsWith(Shot(), 0x00FF00);
    ASSERT_FALSE(rows.empty());
    EXPECT_LT(rows.back(), 28);

    viewer.SetOsdSwitches(0, 1, 1, 1, 1);
    EXPECT_TRUE(RowsWith(Shot(), 0x00FF00).empty());
}

// The text is laid out once and kept: it must still be what the paint engine
// draws for the lines as they are now, after every change of time and font.
TEST_F(MyViewerTest, OnScreenTextMatchesThePaintEnginesBoxesAfterEveryChange) {
    viewer.resize(400, 200);
    viewer.SetLayout(2);  // cell height trunc(height x 1.4)
    Feed(64, 48, 0x000000);
    viewer.SetCameraName("Gate");
    struct Case {
        int second;
        int font_height;
        int cell;
        const char* first;
        const char* second_line;
    };
    const Case cases[] = {
        {9, 20, 28, "CH-1 Gate", "2024/03/05 01:04:09 pm"},
        {10, 20, 28, "CH-1 Gate", "2024/03/05 01:04:10 pm"},
        {10, 30, 42, "CH-1 Gate", "2024/03/05 01:04:10 pm"},
        {10, 20, 28, "CH-1 Gate", "2024/03/05 01:04:10 pm"},
        {11, 20, 28, "CH-1 Yard", "2024/03/05 01:04:11 pm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.second_line + std::string(" at ") + std::to_string(c.font_height));
        viewer.SetOsdFont("Arial Bold", c.font_height, 400, 0x0000FF00);  // COLORREF green
        viewer.SetOsdDateTime(2024, 3, 5, 13, 4, c.second);
        if (c.second == 11) viewer.SetCameraName("Yard");
        viewer.SetOsdSwitches(1, 1, 1, 1, 1);
        const QImage shot = Shot();
        HideText();
        QImage reference = Shot().convertToFormat(shot.format());
        {
            QPainter painter(&reference);
            painter.setFont(GdiFont("Arial Bold", c.cell, 400));
            painter.setPen(QColor(0, 255, 0));
            const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip;
            painter.drawText(QRect(2, 0, 363, c.cell), flags, QString::fromUtf8(c.first));
            painter.drawText(QRect(2, c.cell, 363, 84 - c.cell), flags, QString::fromUtf8(c.second_line));
        }
        // The etched edge covers the two outer rows and columns after the text.
        const QRect inside(2, 2, 396, 196);
        EXPECT_EQ(shot.copy(inside), reference.copy(inside));
        EXPECT_FALSE(RowsWith(shot, 0x00FF00).empty());
    }
}

TEST_F(MyViewerTest, StyleRecordSwitchesArriveInTheViewersOrder) {
    OsdStyleRecord style;
    style.show_time = 0;
    style.show_camera_number = 0;
    viewer.ApplyOsdStyle(style);
    const OsdState osd = viewer.CurrentOsd();
    EXPECT_EQ(osd.show_text, 1);
    EXPECT_EQ(osd.show_date, 1);
    EXPECT_EQ(osd.show_time, 0);
    EXPECT_EQ(osd.show_channel, 0);
    EXPECT_EQ(osd.show_camera_name, 1);
}

TEST_F(MyViewerTest, ZeroDateIsIgnored) {
    viewer.SetOsdDateTime(2024, 3, 5, 10, 11, 12);
    viewer.SetOsdDateTime(0, 4, 6, 1, 2, 3);
    viewer.SetOsdDateTime(2025, 0, 6, 1, 2, 3);
    viewer.SetOsdDateTime(2025, 4, 0, 1, 2, 3);
    const OsdState osd = viewer.CurrentOsd();
    EXPECT_EQ((std::vector<int>{osd.year, osd.month, osd.day, osd.hour, osd.minute, osd.second}),
              (std::vector<int>{2024, 3, 5, 10, 11, 12}));
}

TEST_F(MyViewerTest, ConnectingShowsTheNoticeInsteadOfThePicture) {
    Feed(64, 48, 0x0000FF);
    viewer.SetConnecting(true);
    const QImage shot = Shot();
    EXPECT_FALSE(RowsWith(shot, 0xFF0000).empty());
    EXPECT_TRUE(RowsWith(shot, 0x0000FF).empty());
    viewer.SetFrameSize(64, 48);  // the next picture ends it
    EXPECT_FALSE(viewer.connecting());
}

TEST_F(MyViewerTest, ZoomFromWheelAndCommandsWithOverview) {
    viewer.resize(352, 288);
    Feed(704, 576, 0x000000);
    HideText();
    viewer.Zoom(4);
    EXPECT_EQ(viewer.CurrentZoom(), (ZoomWindow{4, 28, 24, 648, 528}));

    auto wheel = [&](int delta) {
        QWheelEvent event(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(&viewer, &event);
    };
    wheel(120);
    EXPECT_EQ(viewer.CurrentZoom().level, 5);
    wheel(-120);
    wheel(0);
    EXPECT_EQ(viewer.CurrentZoom().level, 3);

    // Overview at level 3: outer (298, 242) 44 x 36, etched.
    const QImage shot = Shot();
    EXPECT_EQ(Pixel(shot, 298, 260), Rgb(kEdgeShadowColour));
    EXPECT_EQ(Pixel(shot, 341, 260), Rgb(kEdgeShadowColour));
    EXPECT_EQ(Pixel(shot, 290, 260), kBlack);

    viewer.SetFrameSize(704, 576);
    EXPECT_EQ(viewer.CurrentZoom(), WholePicture(704, 576));
}

TEST_F(MyViewerTest, FramesAreFilteredAndBadOnesRefused) {
    viewer.SetFrameSize(8, 4);
    viewer.SetEnhancement({1, 0, 0, 300, 0});
    const auto picture = SolidPicture(8, 4, 0x102030);
    EXPECT_EQ(viewer.ShowFrame(static_cast<int>(picture.size()), picture.data()), 1);
    HideText();
    EXPECT_EQ(Pixel(Shot(), 80, 60), 0xFFFFFFu);

    EXPECT_EQ(viewer.ShowFrame(static_cast<int>(picture.size()) - 1, picture.data()), 0);
    EXPECT_EQ(viewer.ShowFrame(-1, picture.data()), 0);
    EXPECT_EQ(viewer.ShowFrame(static_cast<int>(picture.size()), nullptr), 0);

    viewer.SetFrameSize(8, 4);  // a new size drops the enhancement
    EXPECT_EQ(viewer.GetEnhancement(), ViewerEnhancement{});
}

TEST_F(MyViewerTest, PicturesConvertedStraightInAreFilteredAndShownTopRowFirst) {
    HideText();
    // Top half red, bottom half blue, as the decoder writes it through the stride.
    const int w = 8, h = 4;
    auto convert = [&](uint8_t* top_row, ptrdiff_t stride) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t* p = top_row + y * stride + x * 3;
                p[0] = y < h / 2 ? 0x00 : 0xC0;
                p[1] = 0x00;
                p[2] = y < h / 2 ? 0xC0 : 0x00;
            }
        return true;
    };
    EXPECT_EQ(viewer.ShowConverted(w, h, convert), -1);  // no picture of that size yet
    viewer.SetFrameSize(w, h);
    EXPECT_EQ(viewer.ShowConverted(w, h + 1, convert), -1);
    ASSERT_EQ(viewer.ShowConverted(w, h, convert), 1);
    QImage shot = Shot();
    EXPECT_EQ(Pixel(shot, 80, 20), 0xC00000u);
    EXPECT_EQ(Pixel(shot, 80, 100), 0x0000C0u);

    viewer.SetEnhancement({1, 0, 0, 0x30, 0});
    ASSERT_EQ(viewer.ShowConverted(w, h, convert), 1);
    shot = Shot();
    EXPECT_EQ(Pixel(shot, 80, 20), 0xF03030u);
    EXPECT_EQ(Pixel(shot, 80, 100), 0x3030F0u);

    EXPECT_EQ(viewer.ShowConverted(w, h, [](uint8_t*, ptrdiff_t) { return false; }), 0);
    EXPECT_EQ(Pixel(Shot(), 80, 20), 0xF03030u);
}

TEST_F(MyViewerTest, ClearVideoLeavesBlack) {
    Feed(64, 48, 0x0000FF);
    EXPECT_TRUE(viewer.HasVideo());
    viewer.ClearVideo();
    EXPECT_FALSE(viewer.HasVideo());
    EXPECT_TRUE(RowsWith(Shot(), 0x0000FF).empty());
    Feed(64, 48, 0x0000FF);
    EXPECT_FALSE(RowsWith(Shot(), 0x0000FF).empty());
}

TEST_F(MyViewerTest, WorkerFeedsWhileTheWindowPaints) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        const auto small = SolidPicture(32, 16, 0x00FF00);
        const auto large = SolidPicture(64, 48, 0x0000FF);
        for (int i = 0; i < 300; ++i) {
            const auto& picture = i % 2 ? large : small;
            if (i % 10 == 0) viewer.SetFrameSize(i % 20 ? 64 : 32, i % 20 ? 48 : 16);
            viewer.ShowFrame(static_cast<int>(picture.size()), picture.data());
            viewer.SetOsdDateTime(2024, 1, 1, i % 24, i % 60, i % 60);
            viewer.SetCameraName("cam " + std::to_string(i));
            viewer.RequestRepaint();
            if (i % 50 == 0) viewer.ClearVideo();
        }
        done = true;
    });
    while (!done) {
        viewer.grab();
        viewer.Zoom(1);
        QCoreApplication::processEvents();
    }
    worker.join();
    QCoreApplication::processEvents();
}

class SnapshotTest : public MyViewerTest {
protected:
    void SetUp() override {
        MyViewerTest::SetUp();
        ui::SetFolderChooser([this](QWidget*, const std::string& title) {
            titles.push_back(title);
            return choice;
        });
    }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    // Its setting file starts with no storage folder, as shipped.
    ProgramFolderCopy program;
    TempFolder folder;
    std::optional<std::string> choice;
    std::vector<std::string> titles;
};

TEST_F(SnapshotTest, WritesAWatermarkedJpegNamedByChannelAndTime) {
    viewer.SetViewIndex(2);
    Feed(64, 48, 0x336699);
    choice = folder.path();
    EXPECT_EQ(viewer.Snapshot(), CMyViewer::SnapshotResult::kSaved);
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_EQ(titles, std::vector<std::string>{"Please select a folder."});

    const auto names = Files();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(std::regex_match(names[0], std::regex(R"(CH03_\d{8}-\d{5,6}\.jpg)"))) << names[0];
    const std::string path = folder.Sub(names[0]);
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
    ASSERT_GT(bytes.size(), 10u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xD8);
    EXPECT_EQ(bytes[2], 0xFF);
    EXPECT_EQ(bytes[3], 0xE1);
    EXPECT_EQ(bytes[bytes.size() - 2], 0xFF);
    EXPECT_EQ(bytes[bytes.size() - 1], 0xD9);
    EXPECT_TRUE(CheckJpegWatermark(path));
}

TEST_F(SnapshotTest, RefusalsAndTheirMessages) {
    struct Case {
        const char* what;
        bool video;
        std::optional<std::string> choice;
        CMyViewer::SnapshotResult result;
        const char* text;  // null: no message
        const char* caption;
    };
    const std::string missing = folder.Sub("not-there");
    const Case cases[] = {
        {"no video", false, folder.path(), CMyViewer::SnapshotResult::kNoImage, "No image data", "Message"},
        {"cancelled", true, std::nullopt, CMyViewer::SnapshotResult::kCancelled, nullptr, nullptr},
        {"no path", true, std::string(), CMyViewer::SnapshotResult::kBadChoice, "It's not a data folder.", "Error"},
        {"missing", true, missing, CMyViewer::SnapshotResult::kNotAPath, "Not a Path!", "Message"},
    };
    for (const Case& c : cases) {
        recorder.messages.clear();
        if (c.video) {
            Feed(16, 16, 0x808080);
        } else {
            viewer.ClearVideo();
        }
        choice = c.choice;
        EXPECT_EQ(viewer.Snapshot(), c.result) << c.what;
        if (c.text) {
            ASSERT_EQ(recorder.messages.size(), 1u) << c.what;
            EXPECT_EQ(recorder.messages[0].text, c.text);
            EXPECT_EQ(recorder.messages[0].caption, c.caption);
        } else {
            EXPECT_TRUE(recorder.messages.empty()) << c.what;
        }
    }
    EXPECT_TRUE(Files().empty());
}

TEST_F(SnapshotTest, CommandTwelveTakesOne) {
    Feed(16, 16, 0x808080);
    choice = folder.path();
    EXPECT_TRUE(viewer.OnCommand(CMyViewer::kCommandSnapshot));
    EXPECT_EQ(Files().size(), 1u);
    EXPECT_FALSE(viewer.OnCommand(11));
}

}  // namespace
