#include "media/ui/ui_services.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QScreen>
#include <QThread>

#include <cstdio>

#include "platform/message_box.h"
#include "media/ui/queued_call.h"

namespace ui {
namespace {

PrinterChooser g_printer_chooser;
FolderChooser g_folder_chooser;
ScreenSizeSource g_screen_size;
std::string g_last_folder;

PrinterChoice RunPrintDialog(QWidget* owner) {
    PrinterChoice choice;
    // Without an installed printer Qt would still offer a dialog and a file printer
    // that prints nowhere; the caller says "No printer found!" instead.
    if (QPrinterInfo::availablePrinterNames().isEmpty()) {
        choice.accepted = true;
        return choice;
    }
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(printer.get(), owner);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    if (dialog.exec() != QDialog::Accepted) return choice;
    choice.accepted = true;
    choice.printer = std::move(printer);
    return choice;
}

std::optional<std::string> RunFolderDialog(QWidget* owner, const std::string& title) {
    // Not the working folder: the program runs in its own folder.
    QFileDialog dialog(owner, QString::fromStdString(title), QString::fromStdString(ChooserStartFolder()));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return std::string();
    NoteChosenFolder(chosen.front().toStdString());
    return chosen.front().toStdString();
}

QSize PrimaryScreenSize() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return QSize(1280, 1024);
    return screen->geometry().size();
}

QMessageBox::Icon IconOf(int flags) {
    switch (flags & 0xF0) {
        case platform::kMbIconError: return QMessageBox::Critical;
        case platform::kMbIconWarning: return QMessageBox::Warning;
        case platform::kMbIconInformation: return QMessageBox::Information;
        default: return QMessageBox::NoIcon;
    }
}

}  // namespace

PrinterChooser SetPrinterChooser(PrinterChooser chooser) {
    std::swap(g_printer_chooser, chooser);
    return chooser;
}

FolderChooser SetFolderChooser(FolderChooser chooser) {
    std::swap(g_folder_chooser, chooser);
    return chooser;
}

ScreenSizeSource SetScreenSizeSource(ScreenSizeSource source) {
    std::swap(g_screen_size, source);
    return source;
}

PrinterChoice ChoosePrinter(QWidget* owner) {
    return g_printer_chooser ? g_printer_chooser(owner) : RunPrintDialog(owner);
}

std::optional<std::string> ChooseFolder(QWidget* owner, const std::string& title) {
    return g_folder_chooser ? g_folder_chooser(owner, title) : RunFolderDialog(owner, title);
}

std::string ChooserStartFolder() {
    if (!g_last_folder.empty() && QDir(QString::fromStdString(g_last_folder)).exists()) return g_last_folder;
    return QDir::homePath().toStdString();
}

void NoteChosenFolder(const std::string& folder) { g_last_folder = folder; }

QSize ScreenSize() { return g_screen_size ? g_screen_size() : PrimaryScreenSize(); }

void InstallQtMessageBoxHandler() {
    platform::SetMessageBoxHandler([](const std::string& text, const std::string& caption, int flags) {
        const bool yes_no = (flags & 0x0F) == platform::kMbYesNo;
        auto show = [text, caption, flags, yes_no] {
            QMessageBox box(IconOf(flags), QString::fromStdString(caption), QString::fromStdString(text),
                            yes_no ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
            return box.exec() == QMessageBox::Yes ? platform::kIdYes : yes_no ? platform::kIdNo : platform::kIdOk;
        };
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) {
            std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
            if (yes_no) return platform::kIdNo;
        } else if (QThread::currentThread() == app->thread()) {
            return show();
        } else {
            // Posted, not awaited: the window thread may itself be waiting for this worker.
            PostQueued(app, show);
        }
        return platform::kIdOk;
    });
}

}  // namespace ui
