// What the main window hands a command of the object list when the command
// begins: the token it binds (the selection at that moment, whatever the
// selection does while the command runs) and the windows it works with.
#pragma once

#include <windows.h>

class WorkerHost;

struct ObjectCommand {
    HWND owner = nullptr;           // the main window: owner of the dialogs the command opens
    HWND objectList = nullptr;      // the main window's object list
    int slot = -1;                  // the token selected when the command began; -1 for none
    unsigned listGeneration = 0;    // the object list's generation then (ObjectListGeneration)
    WorkerHost* workers = nullptr;  // runs the listing and deletion workers
};
