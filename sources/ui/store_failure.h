#pragma once
// What the recorder and share pages tell the user when a statement on their
// store fails (a damaged file, a file without its table, a read-only file):
// the list must not look stored, or empty, when it is neither.
#include "platform/message_box.h"

inline void ShowStoreWriteFailure() { platform::ShowMessageBox("The database could not be changed.", "Error"); }
inline void ShowStoreReadFailure() { platform::ShowMessageBox("The database could not be read.", "Error"); }
