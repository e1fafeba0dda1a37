#pragma once
// The modal choosers and screen metrics the windows use, behind settable
// functions: the program gets the real dialogs and QScreen, tests install
// functions that answer at once.
#include <QSize>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QPrinter;
class QWidget;

namespace ui {

struct PrinterChoice {
    bool accepted = false;              // false: the user cancelled
    std::unique_ptr<QPrinter> printer;  // null or invalid: no printer to print on
};

// Print dialog without page numbers, selection or print-to-file.
using PrinterChooser = std::function<PrinterChoice(QWidget* owner)>;
// Folder browser for existing folders only. Empty optional: cancelled; empty
// text: a choice whose path could not be obtained.
using FolderChooser = std::function<std::optional<std::string>(QWidget* owner, const std::string& title)>;
using ScreenSizeSource = std::function<QSize()>;

// Window thread only. Each setter returns the previous function; an empty function restores the real one.
PrinterChooser SetPrinterChooser(PrinterChooser chooser);
FolderChooser SetFolderChooser(FolderChooser chooser);
ScreenSizeSource SetScreenSizeSource(ScreenSizeSource source);

PrinterChoice ChoosePrinter(QWidget* owner);
// The real folder browser opens at ChooserStartFolder and notes the choice.
std::optional<std::string> ChooseFolder(QWidget* owner, const std::string& title);
// Where the real choosers open: the folder chosen last in any of them (for
// files, the folder they are in), else the user's home folder.
std::string ChooserStartFolder();
// Notes a choice for the next chooser; an empty text forgets it.
void NoteChosenFolder(const std::string& folder);
// The primary screen's size in pixels (SM_CXSCREEN x SM_CYSCREEN).
QSize ScreenSize();

// Routes platform::ShowMessageBox to QMessageBox. A worker's box is posted to
// the window thread and the worker goes on at once (the boxes only say OK).
void InstallQtMessageBoxHandler();

}  // namespace ui
