#include "app/ContextMenus.h"

#include <commctrl.h>
#include <windowsx.h>

#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/TokenPanel.h"

namespace {

// "Generate CSR..." follows the state rule of the invisible button 7; the
// policy entry is usable while the administrator buttons are (a token is
// selected).
bool CsrAllowed() {
    return IsWindowEnabled(AppState.MainButtons[kCsrButton]) != FALSE;
}

bool PinPolicyAllowed() {
    return AppState.AdminMode && IsWindowEnabled(AppState.AdminButtons[0]) != FALSE;
}

UINT EntryState(bool allowed) {
    return MF_STRING | (allowed ? MF_ENABLED : MF_GRAYED);
}

HMENU CreateOneEntryMenu(UINT id, const wchar_t* text, bool allowed) {
    HMENU menu = CreatePopupMenu();
    if (menu)
        AppendMenuW(menu, EntryState(allowed), id, text);
    return menu;
}

// Where a menu opened from the keyboard appears: at the selected row of a
// list, otherwise at the control's top left corner.
POINT KeyboardMenuPoint(HWND control) {
    RECT rect = {};
    const int row = static_cast<int>(SendMessageW(control, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    rect.left = LVIR_LABEL;
    if (row < 0 || !SendMessageW(control, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect)))
        rect = RECT{};
    POINT point = {rect.left, rect.bottom};
    ClientToScreen(control, &point);
    return point;
}

}  // namespace

HMENU CreateObjectListMenu() {
    return CreateOneEntryMenu(kGenerateCsrCommand, kGenerateCsrMenuText, CsrAllowed());
}

HMENU CreateTokenListMenu() {
    if (!AppState.AdminMode)
        return nullptr;
    return CreateOneEntryMenu(kPinPolicyCommand, kPinPolicyMenuText, PinPolicyAllowed());
}

void AddSystemMenuEntries(HWND mainWindow) {
    HMENU menu = GetSystemMenu(mainWindow, FALSE);
    if (!menu)
        return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, EntryState(false), kSystemMenuGenerateCsr, kGenerateCsrMenuText);
    if (AppState.AdminMode)
        AppendMenuW(menu, EntryState(false), kSystemMenuPinPolicy, kPinPolicyMenuText);
}

void UpdateSystemMenuEntries(HWND mainWindow) {
    HMENU menu = GetSystemMenu(mainWindow, FALSE);
    if (!menu)
        return;
    EnableMenuItem(menu, kSystemMenuGenerateCsr, MF_BYCOMMAND | (CsrAllowed() ? MF_ENABLED : MF_GRAYED));
    if (AppState.AdminMode)
        EnableMenuItem(menu, kSystemMenuPinPolicy, MF_BYCOMMAND | (PinPolicyAllowed() ? MF_ENABLED : MF_GRAYED));
}

bool OnContextMenu(HWND mainWindow, HWND source, LPARAM position) {
    HMENU menu = nullptr;
    if (source == AppState.ObjectListView)
        menu = CreateObjectListMenu();
    else if (source == AppState.TokenListView)
        menu = CreateTokenListMenu();
    if (!menu)
        return false;

    POINT point = {GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    if (point.x == -1 && point.y == -1)
        point = KeyboardMenuPoint(source);
    // The chosen entry reaches the main window as WM_COMMAND, like a button.
    TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN, point.x, point.y, 0, mainWindow, nullptr);
    DestroyMenu(menu);
    return true;
}

bool OnSystemMenuCommand(HWND mainWindow, WPARAM command) {
    int id = 0;
    switch (command & 0xFFF0) {
    case kSystemMenuGenerateCsr:
        id = kGenerateCsrCommand;
        break;
    case kSystemMenuPinPolicy:
        id = AppState.AdminMode ? kPinPolicyCommand : 0;
        break;
    default:
        break;
    }
    if (id == 0)
        return false;
    // Carried out as the command itself, through the command table.
    SendMessageW(mainWindow, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    return true;
}
