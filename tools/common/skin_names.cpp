#include "tools/common/skin_names.h"

namespace skin {

namespace {

// Looks without a hover picture of their own: the hover state reuses the
// normal or pressed face.
const std::vector<std::string> kThreeLooks = {kLookDisabled, kLookNormal, kLookPressed};
const std::vector<std::string> kFourLooks = {kLookDisabled, kLookNormal, kLookPressed, kLookHover};
const std::vector<std::string> kLabelLook = {kLookPressed};

// Sizes are those of the controls that show the pictures, small class then
// large; the 3x3 button is never placed and takes the 2x2 button's size.
std::vector<SkinButton> MakeButtons() {
    return {
        {"minimum", kThreeLooks, 28, 28, 35, 35},
        {"power", kThreeLooks, 54, 54, 67, 67},
        {"div1", kThreeLooks, 41, 41, 51, 51},
        {"div4", kThreeLooks, 41, 41, 51, 51},
        {"div9", kThreeLooks, 41, 41, 51, 51},
        {"origisize", kThreeLooks, 41, 41, 51, 51},
        {"fullscreen", kThreeLooks, 41, 41, 51, 51},
        {"zoomin", kFourLooks, 38, 27, 48, 34},
        {"zoomout", kFourLooks, 38, 27, 48, 34},
        {"cue", kLabelLook, 35, 23, 44, 29},
        {"cuein", kFourLooks, 30, 23, 38, 29},
        {"cueout", kFourLooks, 30, 23, 38, 29},
        {"play", kFourLooks, 25, 27, 33, 34},
        {"stop", kFourLooks, 25, 27, 30, 34},
        {"pause", kFourLooks, 25, 27, 33, 34},
        {"fforward", kFourLooks, 31, 23, 39, 29},
        {"fbackward", kFourLooks, 31, 23, 39, 29},
        {"speedup", kFourLooks, 30, 23, 38, 29},
        {"speeddown", kFourLooks, 30, 23, 38, 29},
        {"speed", kLabelLook, 35, 23, 44, 29},
        {"audio", {"-on", "-off"}, 18, 17, 22, 21},
        {"searchlist", kFourLooks, 81, 24, 101, 30},
        {"saveavi", kFourLooks, 46, 46, 57, 57},
        {"setting", kFourLooks, 46, 46, 57, 57},
        {"snapshot", kFourLooks, 46, 46, 57, 57},
        {"print", kFourLooks, 46, 46, 57, 57},
        {"backup", kFourLooks, 46, 46, 57, 57},
        {"adjustimage", kFourLooks, 46, 46, 57, 57},
    };
}

}  // namespace

const std::vector<SkinButton>& SkinButtons() {
    static const std::vector<SkinButton> buttons = MakeButtons();
    return buttons;
}

const std::vector<DialogPicture>& DialogPictures() {
    static const std::vector<DialogPicture> pictures = [] {
        std::vector<DialogPicture> out;
        const struct {
            const char* name;
            int width, height;
        } checker[] = {{"new", 24, 22}, {"delete", 24, 22}, {"search", 24, 22}, {"selectall", 24, 22},
                       {"verification", 32, 30}};
        for (const auto& b : checker)
            for (const std::string& look : kFourLooks)
                out.push_back({b.name, look, std::string(kLargeFolder) + b.name + look + ".bmp", b.width, b.height});
        out.push_back({"minus", kLookNormal, std::string(kLargeFolder) + "Minus.bmp", 18, 20});
        out.push_back({"plus", kLookNormal, std::string(kLargeFolder) + "Plus.bmp", 18, 20});
        return out;
    }();
    return pictures;
}

std::vector<SkinFile> SkinFiles(bool small) {
    std::vector<SkinFile> files;
    const std::string folder = small ? kSmallFolder : kLargeFolder;
    for (const SkinButton& button : SkinButtons()) {
        for (size_t look = 0; look < button.looks.size(); ++look) {
            const std::string name = button.FileName(look);
            files.push_back({name, folder + name, small ? button.small_width : button.large_width,
                             small ? button.small_height : button.large_height});
        }
    }
    return files;
}

}  // namespace skin
