#pragma once
// The skin's picture files: which the main dialog loads, in which folder and
// at which size. The generator writes exactly these; the program and the tests
// read the same list.
#include <string>
#include <vector>

namespace skin {

// Relative to the program folder. Screens up to 720 pixels high use the small folder.
inline constexpr char kLargeFolder[] = "images/";
inline constexpr char kSmallFolder[] = "images/small/";

// One skinned button: its skin name and the looks it has a picture for, each
// picture named name + suffix + ".bmp" ("play" + "-D" gives "play-D.bmp").
struct SkinButton {
    std::string name;
    std::vector<std::string> looks;
    int small_width, small_height;
    int large_width, large_height;

    std::string FileName(size_t look) const { return name + looks.at(look) + ".bmp"; }
};

// The looks of a four-state button, in the order the skin gives them:
// disabled (or latched), normal face, pressed, pointer over it.
inline constexpr char kLookDisabled[] = "-M";
inline constexpr char kLookNormal[] = "-D";
inline constexpr char kLookPressed[] = "-N";
inline constexpr char kLookHover[] = "-0";

const std::vector<SkinButton>& SkinButtons();

struct SkinFile {
    std::string name;  // as the skin names it, e.g. "play-D.bmp"
    std::string path;  // with its folder, e.g. "images/small/play-D.bmp"
    int width, height;
};

// Every button picture of one size class, sized as the control that shows it.
std::vector<SkinFile> SkinFiles(bool small);

// A skinned button picture of another window, in the large folder only (those
// windows keep their size on every screen), drawn on the light dialog face.
struct DialogPicture {
    std::string button;  // its pictogram
    std::string look;    // as in SkinButton
    std::string path;    // e.g. "images/new-D.bmp"
    int width, height;
};

// The checker's five tool buttons, four looks each, and the zoom buttons of
// View Record Files, one picture each.
const std::vector<DialogPicture>& DialogPictures();

// The main dialog's background, stretched over its 4:3 rectangle in both classes.
inline constexpr char kBackgroundFile[] = "images/background.bmp";
inline constexpr int kBackgroundWidth = 1280;
inline constexpr int kBackgroundHeight = 960;

// The two programs' window icons, square.
inline constexpr char kPlaybackIconFile[] = "images/larkspur-icon.bmp";
inline constexpr char kCheckerIconFile[] = "images/halyard-icon.bmp";
inline constexpr int kIconSize = 48;

// The busy window's animation: an animated GIF of square frames.
inline constexpr char kIndicatorFile[] = "images/Indicator.gif";
inline constexpr int kIndicatorSize = 32;
inline constexpr int kIndicatorFrames = 8;

}  // namespace skin
