#include "app/MainWindow.h"

#include <commctrl.h>

#include <memory>

#include "app/AppState.h"
#include "app/Commands.h"
#include "app/ContextMenus.h"
#include "app/ControlIds.h"
#include "app/KeyboardUse.h"
#include "app/MainWindowControls.h"
#include "app/SerialEdit.h"
#include "app/SlotMonitor.h"
#include "app/TokenSelection.h"
#include "app/WorkerMessages.h"
#include "app/Workers.h"
#include "cryptoki/ErrorReport.h"

namespace {

LRESULT OnCreate(HWND window, const CREATESTRUCTW& create) {
    AppState.MainWindow = window;
    // A column that cannot be inserted cuts the controls short; the window
    // is created all the same.
    CreateMainWindowControls(window, create.hInstance);
    AddSystemMenuEntries(window);
    return 0;
}

// The window closes: the slot monitor is told to stop, a running worker is
// stopped and waited for, then the window goes. The module is finalised
// after the message loop (app/StartUp.cpp). A worker that waits for a box
// of its own on this thread is waited for once the box is answered.
void OnClose(HWND window) {
    AppState.ShuttingDown = true;
    RequestSlotMonitorStop();
    if (StopWorkerAndWait())
        DestroyWindow(window);
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
            DispatchShowCertificate();
        else if (header.code == LVN_KEYDOWN)
            OnObjectListKey(reinterpret_cast<const NMLVKEYDOWN&>(header));
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

// The results of the workers and of the slot monitor (objects/Worker.h,
// app/SlotMonitor.h), carried out on this thread.
LRESULT OnThreadResult(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case kWorkerEndedMessage:
        OnWorkerEnded(std::unique_ptr<WorkerResult>(reinterpret_cast<WorkerResult*>(lParam)),
                      static_cast<WorkerEnding>(wParam));
        return 0;
    case kObjectRowsMessage:
        return OnObjectRows(*reinterpret_cast<const ObjectRowBatch*>(lParam));
    case kListingNoticeMessage:
        OnListingNotice(reinterpret_cast<const wchar_t*>(lParam));
        return 0;
    case kObjectRefusedMessage:
        OnObjectRefused(*reinterpret_cast<const ObjectRefusal*>(lParam));
        return 0;
    case kDeletionDoneMessage:
        OnDeletionDone(reinterpret_cast<ListingRestart*>(lParam));
        return 0;
    case kSlotEventMessage:
        if (!AppState.ShuttingDown)
            OnSlotEvent(static_cast<CK_SLOT_ID>(wParam));
        return 0;
    case kSlotMonitorFailedMessage:
        if (!AppState.ShuttingDown)
            OnSlotMonitorFailed(*reinterpret_cast<const SlotMonitorFailure*>(lParam));
        return 0;
    default:
        return 0;
    }
}

}  // namespace

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return OnCreate(window, *reinterpret_cast<const CREATESTRUCTW*>(lParam));
    case WM_CLOSE:
        OnClose(window);
        return 0;
    case WM_DESTROY:
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
            OnMainWindowEscape();
        else
            DispatchCommand(LOWORD(wParam));
        return 0;
    case WM_NOTIFY: {
        // A token selection reads the token anew: the edge of a command.
        LRESULT result = 0;
        RunReportingOutOfMemory([&] { result = OnNotify(*reinterpret_cast<const NMHDR*>(lParam)); });
        return result;
    }
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
    case kWorkerEndedMessage:
    case kObjectRowsMessage:
    case kListingNoticeMessage:
    case kObjectRefusedMessage:
    case kDeletionDoneMessage:
    case kSlotEventMessage:
    case kSlotMonitorFailedMessage: {
        // Slot events and a worker's mid-run results are carried out here;
        // no allocation failure of theirs goes back into the sender's
        // SendMessage. A refused batch of rows (0) stops the listing.
        LRESULT result = 0;
        RunReportingOutOfMemory([&] { result = OnThreadResult(message, wParam, lParam); });
        return result;
    }
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
