#include "app/KeyboardUse.h"

#include <wchar.h>

#include "app/AppState.h"
#include "app/Commands.h"
#include "app/ControlIds.h"
#include "app/TokenPanel.h"

namespace {

bool IsSerialEdit(HWND control) {
    return control && GetParent(control) == AppState.TokenInfoView && GetDlgCtrlID(control) == kSerialEditId;
}

bool IsCommandButton(HWND mainWindow, HWND control) {
    wchar_t className[16] = {};
    return control && GetParent(control) == mainWindow && GetClassNameW(control, className, 16) &&
           _wcsicmp(className, L"Button") == 0 && IsWindowEnabled(control);
}

}  // namespace

bool HandleMainWindowKey(MSG* message) {
    HWND window = AppState.MainWindow;
    if (!window || !IsWindow(window))
        return false;
    if (message->hwnd != window && !IsChild(window, message->hwnd))
        return false;
    return IsDialogMessageW(window, message) != FALSE;
}

// The main window is no dialog, so it has no default button: Enter acts on
// the control that has the focus.
void OnMainWindowEnter(HWND mainWindow) {
    HWND focus = GetFocus();
    if (focus == AppState.ObjectListView)
        DispatchShowCertificate();
    else if (IsCommandButton(mainWindow, focus))
        DispatchCommand(GetDlgCtrlID(focus));
}

void OnMainWindowEscape() {
    // The serial-number edit goes when it loses the focus.
    if (IsSerialEdit(GetFocus()))
        SetFocus(AppState.TokenListView);
}

void OnObjectListKey(const NMLVKEYDOWN& key) {
    if (key.wVKey == VK_DELETE && IsWindowEnabled(AppState.MainButtons[kDeleteButton]))
        DispatchCommand(kDeleteObjectsCommand);
}
