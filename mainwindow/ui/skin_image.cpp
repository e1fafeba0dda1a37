#include "mainwindow/ui/skin_image.h"

#include <QString>

#include <filesystem>

#include "platform/program_folder.h"

QImage LoadSkinImage(const std::string& path) {
    if (path.empty()) return {};
    QImage image(QString::fromStdString(path));
    if (!image.isNull() || std::filesystem::path(path).is_absolute()) return image;
    return QImage(QString::fromStdString(platform::ProgramFolder() + "/" + path));
}
