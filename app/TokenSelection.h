// Following the selection in the token list and the object list, and the
// helpers every path that changes the token controls shares.
#pragma once

#include <windows.h>

// The token list's selected row, which is also the token's slot ID; -1 when
// no row is selected or the row has no entry in the session table. Every
// command binds its token through this when it begins.
int SelectedTokenSlot();

// Makes token-list row `row` selected and focused. The list reports the
// change at once, so the token-selection steps run before this returns.
void SelectTokenRow(int row);

// A click on the token list or a change of one of its items: shows the
// selected token's information and applies its session state to the
// buttons; with no token selected, empties the panel and disables the
// buttons and the object list. Empties the object list when the selection
// moved to another token.
void OnTokenSelectionChanged();

// The nine main buttons and, in administrator mode, the three
// administrator buttons, enabled or disabled together.
void EnableButtons(bool enabled);

// Disables the buttons and the object list: no token to act on.
void DisableTokenControls();

// The "Export certificate" button is enabled exactly while the first
// selected object row is a certificate row.
void ApplyExportButtonRule();
