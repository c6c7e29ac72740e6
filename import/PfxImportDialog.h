// The "Import pfx properties" dialog (resource 112): PFX password and the
// two options, then the import.
#pragma once

#include <windows.h>

INT_PTR CALLBACK PfxImportDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Opens the dialog modally, owned by `owner`, on PfxImportState.
void OpenPfxImportDialog(HWND owner);
