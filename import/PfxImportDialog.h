// The "Import pfx properties" dialog (resource 112): PFX password and the
// two options, then the import.
#pragma once

#include <windows.h>

INT_PTR CALLBACK PfxImportDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

struct ObjectCommand;

// Opens the dialog modally, owned by the command's main window, on
// PfxImportState (for the token PfxImportState.DialogSlot); after an import
// the command's object list is built again.
void OpenPfxImportDialog(const ObjectCommand& command);
