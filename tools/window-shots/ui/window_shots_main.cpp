// window-shots FOLDER [LANGUAGE]: draws every window and page of both
// programs, as a user first sees them, into FOLDER/<window>.png. LANGUAGE is
// the language index (0 English, the default, to 6). Run it offscreen:
// QT_QPA_PLATFORM=offscreen build/bin/window-shots shots
#include <QApplication>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "media/translate_text.h"
#include "tools/common/ui/window_catalogue.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s FOLDER [LANGUAGE 0-6]\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    const std::string out = argv[1];
    LanguageIndex = argc == 3 ? std::atoi(argv[2]) : 0;
    std::filesystem::create_directories(out);
    // The windows' files live in a scratch folder that goes when the shots are taken.
    const std::string scratch = out + "/.window-shots-files";
    int failures = 0;
    {
        const catalogue::WindowFixture fixture(scratch);
        if (!fixture.ok) {
            std::fprintf(stderr, "%s\n", fixture.error.c_str());
            failures = 1;
        }
        for (const catalogue::WindowEntry& entry : failures ? std::vector<catalogue::WindowEntry>() : catalogue::Windows()) {
            std::unique_ptr<catalogue::OpenWindow> open = entry.open(fixture);
            const std::string file = out + "/" + entry.name + ".png";
            if (!open || !open->window()->grab().save(QString::fromStdString(file))) {
                std::fprintf(stderr, "cannot draw %s\n", file.c_str());
                ++failures;
            } else {
                std::printf("%s\n", file.c_str());
            }
        }
    }
    std::filesystem::remove_all(scratch);
    return failures ? 1 : 0;
}
