// The window thread's state: the slot data, the selection, the worker that
// runs, and the handles of the main window's controls. Only the window
// thread reads and writes it. The slot monitor and the workers are given
// what they need when they start and report back by window messages
// (app/MainWindow.cpp), which the window thread carries out here.
#pragma once

#include <windows.h>

#include "cryptoki/Cryptoki.h"
#include "cryptoki/SessionTable.h"

constexpr int kMainButtonCount = 9;
constexpr int kAdminButtonCount = 3;

struct AppStateRecord {
    CK_ULONG SlotCount = 0;              // all slots, with or without a token
    CK_SLOT_ID SlotList[kMaxSlots] = {};  // slots that hold a token
    CK_ULONG TokenCount = 0;             // valid entries of SlotList

    int CurrentSlot = -1;  // slot whose objects the object list shows
    bool AdminMode = false;
    bool Busy = false;           // a worker thread runs (app/Workers.cpp)
    bool ShuttingDown = false;   // the window is closing: results are dropped
    bool PublicOnlyWarningArmed = true;

    HWND MainWindow = nullptr;
    HWND TokenListView = nullptr;
    HWND TokenInfoView = nullptr;
    HWND ObjectListView = nullptr;
    HWND MainButtons[kMainButtonCount] = {};
    HWND AdminButtons[kAdminButtonCount] = {};
    WNDPROC SerialEditOldProc = nullptr;
};

extern AppStateRecord AppState;
