#pragma once
// The playback program's application object: refuses a second copy started
// by the same user, then runs the main dialog modally; the process ends when
// the dialog closes.
#include <string>

#include "mainwindow/ui/kestrel_playback_dlg_hooks.h"

// The file name of this process's executable, without folder.
std::string OwnExecutableName();
// The single-instance lock of a program of that executable name, in the
// user's runtime folder; empty without a name or a runtime folder.
std::string InstanceLockPath(const std::string& own_name);

// The dialogs of the other components behind the main dialog's hooks.
KestrelDialogHooks StandardDialogHooks();

class CKestrelPlaybackApp {
public:
    CKestrelPlaybackApp() : hooks(StandardDialogHooks()) {}

    // Always false: there is no message loop of the application's own.
    bool InitInstance();
    int ExitInstance() { return 0; }

    // Handed to the main dialog before it runs.
    KestrelDialogHooks hooks;
    std::string initial_data_folder;
    // True when InitInstance found another copy and did not open the dialog.
    bool refused() const { return refused_; }

private:
    bool refused_ = false;
};
