// The one process-wide state record. Every thread reads and writes it
// directly: its fields are plain values, and changes to controls are made by
// messages that the user-interface thread carries out.
#pragma once

#include <windows.h>

#include "cryptoki/Cryptoki.h"

constexpr int kMaxSlots = 64;
constexpr int kMainButtonCount = 9;
constexpr int kAdminButtonCount = 3;

struct AppStateRecord {
    VendorFunctionList* FunctionList = nullptr;
    HMODULE CryptokiModule = nullptr;  // kept loaded for the whole run

    CK_ULONG SlotCount = 0;              // all slots, with or without a token
    CK_SLOT_ID SlotList[kMaxSlots] = {};  // slots that hold a token
    CK_ULONG TokenCount = 0;             // valid entries of SlotList
    CK_SESSION_HANDLE SessionTable[kMaxSlots] = {};  // one R/W session per slot ID

    int CurrentSlot = -1;  // slot whose objects the object list shows
    int DialogSlot = -1;   // slot the open modal dialog works on
    bool AdminMode = false;
    volatile bool Busy = false;  // a worker thread runs
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
