#include "app/ContextMenus.h"

#include <commctrl.h>
#include <windowsx.h>

#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/TokenPanel.h"
#include "objects/ObjectListSelection.h"
#include "objects/ObjectTables.h"

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

// "Set default user pincode" in the menus: the administrator reaches the
// command whatever the button's own rule (which needs an SO login that no
// dialog leaves behind), as the policy entry is reached.
bool DefaultUserPinAllowed() {
    return PinPolicyAllowed();
}

// A token is selected: its login button is enabled in every session state.
bool TokenUriAllowed() {
    return IsWindowEnabled(AppState.MainButtons[kLoginButton]) != FALSE;
}

// An object row of the latest listing is selected.
bool ObjectUriAllowed() {
    if (!IsWindowEnabled(AppState.ObjectListView))
        return false;
    const int row = FirstSelectedRow(AppState.ObjectListView);
    return row >= 0 && ObjectHandleAt(row) != 0;
}

UINT EntryState(bool allowed) {
    return MF_STRING | (allowed ? MF_ENABLED : MF_GRAYED);
}

struct MenuEntry {
    UINT Id;  // 0: a separator
    const wchar_t* Text;
    bool (*Allowed)();
};

// The token list's menu; the first two entries only in administrator mode.
const MenuEntry kAdminTokenListEntries[] = {
    {kPinPolicyCommand, kPinPolicyMenuText, PinPolicyAllowed},
    {kDefaultUserPinCommand, kDefaultUserPinMenuText, DefaultUserPinAllowed},
    {0, nullptr, nullptr},
};
const MenuEntry kTokenListEntries[] = {
    {kCopyTokenUriCommand, kCopyUriMenuText, TokenUriAllowed},
};
const MenuEntry kObjectListEntries[] = {
    {kGenerateCsrCommand, kGenerateCsrMenuText, CsrAllowed},
    {0, nullptr, nullptr},
    {kCopyObjectUriCommand, kCopyUriMenuText, ObjectUriAllowed},
};

template <size_t N>
void AppendEntries(HMENU menu, const MenuEntry (&entries)[N]) {
    for (const MenuEntry& entry : entries) {
        if (entry.Id == 0)
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        else
            AppendMenuW(menu, EntryState(entry.Allowed()), entry.Id, entry.Text);
    }
}

// Where a menu opened from the keyboard appears: at the selected row of a
// list, otherwise at the control's top left corner.
POINT KeyboardMenuPoint(HWND control) {
    RECT rect = {};
    const int row = FirstSelectedRow(control);
    rect.left = LVIR_LABEL;
    if (row < 0 || !SendMessageW(control, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect)))
        rect = RECT{};
    POINT point = {rect.left, rect.bottom};
    ClientToScreen(control, &point);
    return point;
}

}  // namespace

HMENU CreateObjectListMenu() {
    HMENU menu = CreatePopupMenu();
    if (menu)
        AppendEntries(menu, kObjectListEntries);
    return menu;
}

HMENU CreateTokenListMenu() {
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return nullptr;
    if (AppState.AdminMode)
        AppendEntries(menu, kAdminTokenListEntries);
    AppendEntries(menu, kTokenListEntries);
    return menu;
}

void AddSystemMenuEntries(HWND mainWindow) {
    HMENU menu = GetSystemMenu(mainWindow, FALSE);
    if (!menu)
        return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, EntryState(false), kSystemMenuGenerateCsr, kGenerateCsrMenuText);
    if (AppState.AdminMode) {
        AppendMenuW(menu, EntryState(false), kSystemMenuPinPolicy, kPinPolicyMenuText);
        AppendMenuW(menu, EntryState(false), kSystemMenuDefaultUserPin, kDefaultUserPinMenuText);
    }
}

void UpdateSystemMenuEntries(HWND mainWindow) {
    HMENU menu = GetSystemMenu(mainWindow, FALSE);
    if (!menu)
        return;
    EnableMenuItem(menu, kSystemMenuGenerateCsr, MF_BYCOMMAND | (CsrAllowed() ? MF_ENABLED : MF_GRAYED));
    if (AppState.AdminMode) {
        EnableMenuItem(menu, kSystemMenuPinPolicy, MF_BYCOMMAND | (PinPolicyAllowed() ? MF_ENABLED : MF_GRAYED));
        EnableMenuItem(menu, kSystemMenuDefaultUserPin,
                       MF_BYCOMMAND | (DefaultUserPinAllowed() ? MF_ENABLED : MF_GRAYED));
    }
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
    case kSystemMenuDefaultUserPin:
        id = AppState.AdminMode ? kDefaultUserPinCommand : 0;
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
