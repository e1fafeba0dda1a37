#include <QApplication>

#include <cstdlib>

#include "mainwindow/ui/playback_app.h"
#include "media/ui/ui_services.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ui::InstallQtMessageBoxHandler();
    CKestrelPlaybackApp app;
    if (const char* folder = std::getenv("LARKSPUR_DATA_FOLDER")) app.initial_data_folder = folder;
    app.InitInstance();
    return app.ExitInstance();
}
