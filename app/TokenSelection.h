// Following the selection in the token list and the object list.
#pragma once

#include <windows.h>

// A click on the token list or a change of one of its items: shows the
// selected token's information and applies its session state to the
// buttons; with no token selected, empties the panel and disables the
// buttons and the object list. Empties the object list when the selection
// moved to another token.
void OnTokenSelectionChanged();

// Disables the nine main buttons, in administrator mode also the three
// administrator buttons, and the object list.
void DisableTokenControls();

// The "Export certificate" button is enabled exactly while the first
// selected object row is a certificate row.
void ApplyExportButtonRule();
