#pragma once
// Skin pictures are named relative to the program ("images/play-D.bmp"); a
// file that is missing or unreadable gives a null image, never an error.
#include <QImage>

#include <string>

// Absolute paths as they are; relative ones from the current folder first,
// then beside the program.
QImage LoadSkinImage(const std::string& path);
