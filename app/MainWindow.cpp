#include "app/MainWindow.h"

#include <commctrl.h>

#include "app/AppState.h"
#include "app/Commands.h"
#include "app/ContextMenus.h"
#include "app/ControlIds.h"
#include "app/KeyboardUse.h"
#include "app/MainWindowControls.h"
#include "app/SerialEdit.h"
#include "app/TokenSelection.h"
#include "objects/CertificateView.h"

namespace {

LRESULT OnCreate(HWND window, const CREATESTRUCTW& create) {
    AppState.MainWindow = window;
    // A column that cannot be inserted cuts the controls short; the window
    // is created all the same.
    CreateMainWindowControls(window, create.hInstance);
    AddSystemMenuEntries(window);
    return 0;
}

LRESULT OnNotify(const NMHDR& header) {
    const bool clickOrChange = header.code == NM_CLICK || header.code == LVN_ITEMCHANGED;
    switch (header.idFrom) {
    case kTokenListId:
        if (clickOrChange)
            OnTokenSelectionChanged();
        break;
    case kTokenInfoId:
        if (header.code == NM_DBLCLK)
            OnTokenInfoDoubleClick(reinterpret_cast<const NMITEMACTIVATE&>(header));
        break;
    case kObjectListId:
        if (clickOrChange)
            ApplyExportButtonRule();
        else if (header.code == NM_DBLCLK)
            ShowSelectedCertificate();
        else if (header.code == LVN_KEYDOWN)
            OnObjectListKey(AppState.MainWindow, reinterpret_cast<const NMLVKEYDOWN&>(header));
        break;
    default:
        break;
    }
    // Also the answer to the end of an in-place label edit: the edited text
    // is discarded.
    return 0;
}

bool OnSetCursor() {
    if (!AppState.Busy)
        return false;
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    return true;
}

}  // namespace

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return OnCreate(window, *reinterpret_cast<const CREATESTRUCTW*>(lParam));
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
    case WM_QUIT:
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        ReleaseMainWindowFonts();
        AppState.MainWindow = nullptr;
        break;
    case WM_SETCURSOR:
        if (OnSetCursor())
            return TRUE;
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK)
            OnMainWindowEnter(window);
        else if (LOWORD(wParam) == IDCANCEL)
            OnMainWindowEscape(window);
        else
            DispatchCommand(window, LOWORD(wParam));
        return 0;
    case WM_NOTIFY:
        return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_CONTEXTMENU:
        if (OnContextMenu(window, reinterpret_cast<HWND>(wParam), lParam))
            return 0;
        break;
    case WM_INITMENUPOPUP:
        if (HIWORD(lParam))
            UpdateSystemMenuEntries(window);
        break;
    case WM_SYSCOMMAND:
        if (OnSystemMenuCommand(window, wParam))
            return 0;
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
