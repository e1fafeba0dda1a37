#pragma once
// The skin's pictures: flat pictograms on rounded faces, one face style per
// look, a background that matches the buttons' corners, and the busy
// indicator's frames.
#include <string>
#include <vector>

#include "tools/skin-images/canvas.h"
#include "tools/skin-images/image_files.h"

namespace skinart {

// Behind every control; button corners are painted in it so they blend in.
inline constexpr Rgb kPanel = Hex(0x232C38);
// Behind the other windows' skinned buttons: the light face of their dialogs.
inline constexpr Rgb kDialogFace = Hex(0xEFEFEF);

// The picture of skin button `name` in the look with file suffix `look`
// ("-M", "-D", "-N", "-0", or "-on"/"-off" for the mute button).
// False for a name or look it does not know.
bool DrawButton(const std::string& name, const std::string& look, Canvas& canvas);

// The main dialog's background; laid out in fractions of its size, as the controls are.
Canvas DrawBackground(int width, int height);

std::vector<GifFrame> DrawIndicator(int size, int frame_count);

// The window icon of "playback" (a play mark on a screen) or "checker" (a
// tick on a picture); an empty canvas for another name.
Canvas DrawProgramIcon(const std::string& program, int size);

}  // namespace skinart
