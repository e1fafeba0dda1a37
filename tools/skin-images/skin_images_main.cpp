// skin-images OUTDIR
// Draws the playback program's skin into OUTDIR/images/ (large screens) and
// OUTDIR/images/small/ (screens up to 720 pixels high): every button picture
// the skin loads, the main dialog's background, the busy indicator and the
// two programs' window icons.
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>

#include "tools/common/skin_names.h"
#include "tools/skin-images/canvas.h"
#include "tools/skin-images/image_files.h"
#include "tools/skin-images/pictograms.h"

namespace {

bool WriteClass(const std::filesystem::path& out, bool small) {
    for (const skin::SkinButton& button : skin::SkinButtons()) {
        const int width = small ? button.small_width : button.large_width;
        const int height = small ? button.small_height : button.large_height;
        for (size_t look = 0; look < button.looks.size(); ++look) {
            skinart::Canvas canvas(width, height, skinart::kPanel);
            if (!skinart::DrawButton(button.name, button.looks[look], canvas)) {
                std::fprintf(stderr, "skin-images: no picture for %s\n", button.FileName(look).c_str());
                return false;
            }
            const std::filesystem::path path = out / (small ? skin::kSmallFolder : skin::kLargeFolder) / button.FileName(look);
            if (!skinart::WriteBmp24(path.string(), canvas)) {
                std::fprintf(stderr, "skin-images: cannot write %s\n", path.c_str());
                return false;
            }
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: skin-images OUTDIR\n");
        return 2;
    }
    const std::filesystem::path out = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(out / skin::kSmallFolder, ec);
    if (ec) {
        std::fprintf(stderr, "skin-images: cannot create %s: %s\n", (out / skin::kSmallFolder).c_str(),
                     ec.message().c_str());
        return 1;
    }
    if (!WriteClass(out, false) || !WriteClass(out, true)) return 1;
    for (const skin::DialogPicture& picture : skin::DialogPictures()) {
        skinart::Canvas canvas(picture.width, picture.height, skinart::kDialogFace);
        const std::filesystem::path path = out / picture.path;
        if (!skinart::DrawButton(picture.button, picture.look, canvas) || !skinart::WriteBmp24(path.string(), canvas)) {
            std::fprintf(stderr, "skin-images: cannot draw %s\n", path.c_str());
            return 1;
        }
    }

    const std::filesystem::path background = out / skin::kBackgroundFile;
    if (!skinart::WriteBmp24(background.string(),
                             skinart::DrawBackground(skin::kBackgroundWidth, skin::kBackgroundHeight))) {
        std::fprintf(stderr, "skin-images: cannot write %s\n", background.c_str());
        return 1;
    }
    for (const auto& [program, file] : {std::pair{"playback", skin::kPlaybackIconFile},
                                        std::pair{"checker", skin::kCheckerIconFile}}) {
        const std::filesystem::path icon = out / file;
        if (!skinart::WriteBmp24(icon.string(), skinart::DrawProgramIcon(program, skin::kIconSize))) {
            std::fprintf(stderr, "skin-images: cannot write %s\n", icon.c_str());
            return 1;
        }
    }
    const std::filesystem::path indicator = out / skin::kIndicatorFile;
    if (!skinart::WriteAnimatedGif(indicator.string(),
                                   skinart::DrawIndicator(skin::kIndicatorSize, skin::kIndicatorFrames), 5)) {
        std::fprintf(stderr, "skin-images: cannot write %s\n", indicator.c_str());
        return 1;
    }
    return 0;
}
