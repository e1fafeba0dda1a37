#pragma once
// What the viewer, grid, panel and printer tests share: one application
// object, a fixed screen size, no modal box, and a message recorder.
#include <QApplication>
#include <QImage>

#include <string>
#include <vector>

#include "media/ui/ui_services.h"
#include "platform/message_box.h"

namespace viewer_test {

inline void EnsureApplication() {
    static int argc = 1;
    static char name[] = "viewer_test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: widgets of static test fixtures may outlive main.
    if (!QApplication::instance()) new QApplication(argc, argv);
}

struct Message {
    std::string text;
    std::string caption;
};

// Installs itself for its lifetime: records message boxes, fixes the screen size.
class UiRecorder {
public:
    explicit UiRecorder(QSize screen = QSize(800, 600)) {
        EnsureApplication();
        previous_box_ = platform::SetMessageBoxHandler([this](const std::string& text, const std::string& caption, int) {
            messages.push_back({text, caption});
            return platform::kIdOk;
        });
        previous_screen_ = ui::SetScreenSizeSource([screen] { return screen; });
    }
    ~UiRecorder() {
        platform::SetMessageBoxHandler(previous_box_);
        ui::SetScreenSizeSource(previous_screen_);
        ui::SetFolderChooser({});
        ui::SetPrinterChooser({});
    }
    UiRecorder(const UiRecorder&) = delete;
    UiRecorder& operator=(const UiRecorder&) = delete;

    std::vector<Message> messages;

private:
    platform::MessageBoxHandler previous_box_;
    ui::ScreenSizeSource previous_screen_;
};

inline QRgb Pixel(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; }

// Top-down BGR24 picture of one colour, given as 0xRRGGBB.
inline std::vector<uint8_t> SolidPicture(int width, int height, uint32_t rgb) {
    std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < picture.size(); i += 3) {
        picture[i] = static_cast<uint8_t>(rgb);
        picture[i + 1] = static_cast<uint8_t>(rgb >> 8);
        picture[i + 2] = static_cast<uint8_t>(rgb >> 16);
    }
    return picture;
}

}  // namespace viewer_test
