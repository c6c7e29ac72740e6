// What the "Import Cert/PFX" command hands to the PFX dialog, and the
// dialog's options: process-wide, used on the window thread only.
// DialogSlot is the token the command bound when it began, before the
// open-file dialog: the import goes there whatever is selected meanwhile.
#pragma once

#include <windows.h>

constexpr int kPfxPathCapacity = 600;      // UTF-16 units, with the terminator
constexpr int kPfxPasswordCapacity = 100;  // UTF-16 units, with the terminator

struct PfxImportStateRecord {
    wchar_t PfxFilePath[kPfxPathCapacity] = {};
    wchar_t PfxPasswordBuffer[kPfxPasswordCapacity] = {};  // wiped after each use
    bool PfxImportChain = false;     // "Import chain certificates"
    bool PfxKeyExtractable = false;  // "Make private key extractable"
    int DialogSlot = -1;
};

extern PfxImportStateRecord PfxImportState;
