#include "support/MainWindowFixture.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include "app/AppState.h"
#include "app/KeyboardUse.h"
#include "app/MainWindow.h"
#include "app/StartUp.h"
#include "cryptoki/ModuleLoader.h"

MainWindowFixture::MainWindowFixture(CK_ULONG slotCount) : store_(slotCount) {}

MainWindowFixture::~MainWindowFixture() {
    Stop();
    if (Cryptoki.FunctionList)
        Cryptoki.FunctionList->C_Finalize(nullptr);
    AppState = AppStateRecord();
    SessionTable = SessionTableRecord();
    Cryptoki = CryptokiModuleRecord();
    UnregisterClassW(kMainWindowClass, GetModuleHandleW(nullptr));
}

bool MainWindowFixture::AddToken(CK_SLOT_ID slot, const char* label, const char* serial, const char* userPin) {
    return store_.AddToken(slot, label, serial, userPin);
}

bool MainWindowFixture::AddToken(CK_SLOT_ID slot, const SoftTokenParams& params) {
    return store_.AddToken(slot, params);
}

int MainWindowFixture::Start(bool adminMode, bool startSlotMonitor) {
    started_ = true;
    const int result = StartUpToMessageLoop(GetModuleHandleW(nullptr), adminMode ? "@" : "", SW_SHOWNORMAL,
                                            startSlotMonitor);
    Pump();
    return result;
}

int MainWindowFixture::StartWith(const std::function<void()>& adjust, bool adminMode) {
    started_ = true;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    PrepareStartUp(instance, adminMode ? "@" : "");
    int result = LoadModuleForStartUp();
    if (result != 0)
        return result;
    adjust();
    result = StartUpWithModule(instance, SW_SHOWNORMAL, false);
    Pump();
    return result;
}

HWND MainWindowFixture::Window() const {
    return AppState.MainWindow;
}

void MainWindowFixture::Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT)
            continue;
        // The keys the program's own loop takes for the main window.
        if (HandleMainWindowKey(&message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool MainWindowFixture::PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG until = GetTickCount64() + timeoutMs;
    for (;;) {
        Pump();
        if (done())
            return true;
        if (GetTickCount64() >= until)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

bool MainWindowFixture::PumpEachUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG until = GetTickCount64() + timeoutMs;
    for (;;) {
        if (done())
            return true;
        MSG message;
        if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != WM_QUIT && !HandleMainWindowKey(&message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            continue;
        }
        if (GetTickCount64() >= until)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

namespace {

// Whether the monitor has taken every change made before `looks` was read:
// the first look that ends after that may have begun before the change,
// the second began after it; nothing is queued, and the monitor asked for
// more after that look.
bool MonitorIdleAfter(CK_ULONG looks, const SlotEventState& state) {
    return state.pending == 0 && state.idleLook >= looks + 2;
}

}  // namespace

bool MainWindowFixture::WaitForMonitorIdle(DWORD timeoutMs) {
    const CK_ULONG looks = CurrentSlotEventState().looks;
    return WaitForSlotEventState([looks](const SlotEventState& state) { return MonitorIdleAfter(looks, state); },
                                 timeoutMs);
}

bool MainWindowFixture::PumpUntilMonitorIdle(DWORD timeoutMs) {
    const CK_ULONG looks = CurrentSlotEventState().looks;
    const bool idle = PumpUntil([looks] { return MonitorIdleAfter(looks, CurrentSlotEventState()); }, timeoutMs);
    Pump();  // what the monitor posted before it went back to its wait
    return idle;
}

void MainWindowFixture::Click(int id) {
    HWND control = GetDlgItem(Window(), id);
    SendMessageW(Window(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
    Pump();
}

void MainWindowFixture::ClickRow(HWND list, int row) {
    // With a single-selection list, selecting a row deselects the other;
    // a click on an empty area deselects every row.
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = 0;
    if (row < 0) {
        SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
    } else {
        if ((GetWindowLongW(list, GWL_STYLE) & LVS_SINGLESEL) == 0) {
            item.stateMask = LVIS_SELECTED;
            SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
            item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        }
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    }
    NMITEMACTIVATE click = {};
    click.hdr.hwndFrom = list;
    click.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(list));
    click.hdr.code = NM_CLICK;
    click.iItem = row;
    SendMessageW(GetParent(list), WM_NOTIFY, click.hdr.idFrom, reinterpret_cast<LPARAM>(&click));
}

void MainWindowFixture::ClickTokenRow(int row) {
    ClickRow(AppState.TokenListView, row);
    Pump();
}

void MainWindowFixture::ClickObjectRow(int row) {
    ClickRow(AppState.ObjectListView, row);
    Pump();
}

void MainWindowFixture::SelectObjectRows(const std::vector<int>& rows) {
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(AppState.ObjectListView, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                 reinterpret_cast<LPARAM>(&item));
    item.state = LVIS_SELECTED;
    for (int row : rows)
        SendMessageW(AppState.ObjectListView, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                     reinterpret_cast<LPARAM>(&item));
    Pump();
}

int MainWindowFixture::RowCount(HWND list) {
    return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}

int MainWindowFixture::SelectedRow(HWND list) {
    return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

std::wstring MainWindowFixture::CellText(HWND list, int row, int column) {
    wchar_t text[260] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = ARRAYSIZE(text);
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

void MainWindowFixture::AddRow(HWND list, const std::vector<std::wstring>& cells) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = RowCount(list);
    item.pszText = const_cast<wchar_t*>(cells.empty() ? L"" : cells[0].c_str());
    const int row = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    for (size_t i = 1; i < cells.size(); ++i) {
        LVITEMW cell = {};
        cell.iSubItem = static_cast<int>(i);
        cell.pszText = const_cast<wchar_t*>(cells[i].c_str());
        SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
    }
}

std::wstring MainWindowFixture::ButtonCaption(int index) const {
    wchar_t text[64] = {};
    GetWindowTextW(AppState.MainButtons[index], text, ARRAYSIZE(text));
    return text;
}

bool MainWindowFixture::ButtonEnabled(int index) const {
    return IsWindowEnabled(AppState.MainButtons[index]) != FALSE;
}

bool MainWindowFixture::AdminButtonEnabled(int index) const {
    return AppState.AdminButtons[index] && IsWindowEnabled(AppState.AdminButtons[index]) != FALSE;
}

void MainWindowFixture::Stop() {
    if (!started_)
        return;
    started_ = false;
    // Closed as the user closes it: a running worker is stopped and
    // waited for before the window goes.
    if (AppState.MainWindow)
        SendMessageW(AppState.MainWindow, WM_CLOSE, 0, 0);
    // The window's destruction posted the quit message; a modal loop of the
    // next test would end on it.
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message != WM_QUIT) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

void MainWindowFixture::ExpectNoTokenShown(int slot, const std::string& what) {
    const HWND tokens = AppState.TokenListView;
    ASSERT_TRUE(PumpUntil([&] { return CellText(tokens, slot, 0).empty() && !IsWindowEnabled(AppState.ObjectListView); },
                          10000))
        << what << ": the token is still shown";
    EXPECT_TRUE(PumpUntilMonitorIdle()) << what << ": the slot monitor did not settle";
    EXPECT_EQ(L"", CellText(tokens, slot, 1)) << what;
    EXPECT_EQ(0, RowCount(AppState.ObjectListView)) << what;
    for (int i = 0; i < kMainButtonCount; ++i)
        EXPECT_FALSE(ButtonEnabled(i)) << what << ": button " << i;
}
