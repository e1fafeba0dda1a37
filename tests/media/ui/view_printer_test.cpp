#include "media/ui/view_printer.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "media/ui/my_viewer.h"
#include "tests/media/ui/viewer_test_support.h"
#include "tests/support/temp_folder.h"

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

size_t Count(const std::string& text, const std::string& pattern) {
    const std::regex re(pattern);
    return static_cast<size_t>(std::distance(std::sregex_iterator(text.begin(), text.end(), re), {}));
}

class ViewPrinterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::SetPrinterChooser([this](QWidget*) {
            ui::PrinterChoice choice;
            choice.accepted = accept;
            if (give_printer) {
                choice.printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
                choice.printer->setOutputFormat(QPrinter::PdfFormat);
                choice.printer->setOutputFileName(QString::fromStdString(pdf));
                if (resolution) choice.printer->setResolution(resolution);
            }
            ++asked;
            return choice;
        });
    }
    QImage Capture(int width, int height) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(QColor(30, 120, 200));
        return image;
    }

    viewer_test::UiRecorder recorder;
    TempFolder folder;
    std::string pdf = folder.Sub("print.pdf");
    bool accept = true;
    bool give_printer = true;
    int resolution = 0;
    int asked = 0;
    ViewPrinter printer;
};

TEST_F(ViewPrinterTest, OnePageWithThePicture) {
    EXPECT_EQ(printer.Print(Capture(352, 288), nullptr), ViewPrinter::Result::kPrinted);
    const std::string text = ReadText(pdf);
    ASSERT_GE(text.size(), 5u);
    EXPECT_EQ(text.substr(0, 5), "%PDF-");
    EXPECT_EQ(Count(text, R"(/Type\s*/Page(?!s))"), 1u);
    EXPECT_GE(Count(text, R"(/Subtype\s*/Image)"), 1u);
    EXPECT_TRUE(recorder.messages.empty());
}

TEST_F(ViewPrinterTest, CaptureWiderThanThePagePrintsAnEmptyPage) {
    resolution = 72;  // an A4 page is then about 600 pixels wide
    EXPECT_EQ(printer.Print(Capture(1000, 10), nullptr), ViewPrinter::Result::kPrinted);
    const std::string text = ReadText(pdf);
    EXPECT_EQ(Count(text, R"(/Type\s*/Page(?!s))"), 1u);
    EXPECT_EQ(Count(text, R"(/Subtype\s*/Image)"), 0u);
}

TEST_F(ViewPrinterTest, CancelledOrNoPrinter) {
    accept = false;
    EXPECT_EQ(printer.Print(Capture(10, 10), nullptr), ViewPrinter::Result::kCancelled);
    EXPECT_TRUE(recorder.messages.empty());

    accept = true;
    give_printer = false;
    EXPECT_EQ(printer.Print(Capture(10, 10), nullptr), ViewPrinter::Result::kNoPrinter);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "No printer found!");
    EXPECT_FALSE(std::filesystem::exists(pdf));
}

TEST_F(ViewPrinterTest, ViewerPrintsWhatItShows) {
    CMyViewer viewer;
    viewer.resize(176, 144);
    viewer.SetFrameSize(16, 16);
    const auto picture = viewer_test::SolidPicture(16, 16, 0xFF0000);
    viewer.ShowFrame(static_cast<int>(picture.size()), picture.data());
    EXPECT_EQ(viewer.Print(), ViewPrinter::Result::kPrinted);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(Count(ReadText(pdf), R"(/Type\s*/Page(?!s))"), 1u);
}

TEST(ViewPrinterNoPrinter, TheRealChooserSaysNoPrinterFound) {
    viewer_test::UiRecorder recorder;
    if (!QPrinterInfo::availablePrinterNames().isEmpty()) GTEST_SKIP() << "a printer is installed here";
    CMyViewer viewer;
    viewer.resize(64, 48);
    // A print dialog that opens anyway must fail the test, not hang it.
    QTimer::singleShot(3000, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    EXPECT_EQ(viewer.Print(), ViewPrinter::Result::kNoPrinter);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "No printer found!");
}

}  // namespace
