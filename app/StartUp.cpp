#include "app/StartUp.h"

#include <commctrl.h>

#include <cstring>
#include <exception>
#include <functional>
#include <system_error>
#include <thread>

#include "app/AppState.h"
#include "app/InfoTips.h"
#include "app/MainWindow.h"
#include "app/KeyboardUse.h"
#include "app/SlotMonitor.h"
#include "app/TokenPanel.h"
#include "app/TokenSelection.h"
#include "app/WindowDpi.h"
#include "cryptoki/ErrorReport.h"
#include "cryptoki/ModuleLoader.h"
#include "TokenManagerVersion.h"

namespace {

constexpr int kIconId = 113;
constexpr int kWindowX = 400;
constexpr int kWindowY = 200;
const wchar_t kCkErrorCaption[] = L"PKCS#11 error";
const wchar_t kLoadingCaption[] = L"PKCS#11 loading Failed";

// The show command the program was started with, for the main window once
// it is filled.
int g_showCommand = SW_SHOWNORMAL;

// How long the end of the run waits for the slot monitor once the module is
// finalised, which ends a blocking wait. A module that ignores the
// finalisation must not keep the program from ending.
constexpr DWORD kMonitorEndMs = 5000;

// Pieces of the window title, in order; the mode piece goes second.
const wchar_t kTitleProduct[] = L"Tolvane";
const wchar_t kTitleAdmin[] = L" Token Manager Admin";
const wchar_t kTitlePlain[] = L" Token Manager";
const wchar_t* const kTitleTail[] = {L" ", L"v", TM_VERSION_WTEXT, L" ", L"r", L"990722", L"_", L"1"};

void ShowStartUpError(const wchar_t* text, const wchar_t* caption) {
    MessageBoxW(nullptr, text, caption, MB_ICONERROR);
}

void InitCommonControlsForProgram() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_COOL_CLASSES};
    InitCommonControlsEx(&controls);
}

void RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconId));
    windowClass.hIconSm = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_MENU + 1));
    windowClass.lpszClassName = kMainWindowClass;
    if (!RegisterClassExW(&windowClass))
        ShowStartUpError(L"Window class creation failed\r\n", L"Window Class Failed");
}

// The number of all slots, then the slots that hold a token. False when the
// slot count cannot be read.
bool ReadSlotList() {
    VendorFunctionList* api = Cryptoki.FunctionList;
    if (api->C_GetSlotList(CK_FALSE, nullptr, &AppState.SlotCount) != CKR_OK)
        return false;
    const CK_ULONG capacity =
        AppState.SlotCount < static_cast<CK_ULONG>(kMaxSlots) ? AppState.SlotCount : kMaxSlots;
    CK_ULONG count = capacity;
    // A failed call leaves no usable entries, and a module that answers a
    // larger count than it was given room for has written no more than that.
    if (api->C_GetSlotList(CK_TRUE, AppState.SlotList, &count) != CKR_OK)
        count = 0;
    AppState.TokenCount = count < capacity ? count : capacity;
    return true;
}

// The window is made hidden: it is shown once its token list is filled
// (ShowMainWindow). Under Wine every row and cell that goes into a visible
// list view lays the list out and paints it again, and every control that
// changes in a visible window is painted at once; a hidden window pays for
// neither, and the user never sees the rows arrive one by one.
HWND CreateMainWindow(HINSTANCE instance) {
    const std::wstring title = ComposeWindowTitle(AppState.AdminMode);
    const int height = AppState.AdminMode ? kAdminWindowHeight : kMainWindowHeight;
    HWND window = CreateWindowExW(0, kMainWindowClass, title.c_str(), WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                  kWindowX, kWindowY, kMainWindowWidth, height, nullptr, nullptr, instance,
                                  nullptr);
    if (!window)
        return nullptr;
    // Sized for its monitor's DPI, and inside the monitor's work area.
    PlaceMainWindow(window, kWindowX, kWindowY, kMainWindowWidth, height);
    return window;
}

// Shows the main window with the start's show command, the first time
// only, and gives the token list the keyboard focus.
void ShowMainWindow() {
    HWND window = AppState.MainWindow;
    if (!window || IsWindowVisible(window))
        return;
    ShowWindow(window, g_showCommand);
    SetFocus(AppState.TokenListView);
}

// A start-up report comes in front of the window it is about.
void ShowTokenError(CK_RV rv, const wchar_t* context) {
    ShowMainWindow();
    ShowCkErrorW(rv, kCkErrorCaption, context);
}

// A slot ID that has a token-list row and a session-table entry.
bool SlotHasRow(CK_SLOT_ID slot) {
    return slot < static_cast<CK_SLOT_ID>(kMaxSlots) && slot < AppState.SlotCount;
}

// The first token of the slot list becomes the selected one.
void SelectFirstToken(CK_SLOT_ID slot, const CK_TOKEN_INFO& info) {
    const int row = static_cast<int>(slot);
    FillTokenInfoPanel(slot, info);
    SelectTokenRow(row);
    AppState.CurrentSlot = row;
    EnableWindow(AppState.ObjectListView, TRUE);
    CK_SESSION_INFO session = {};
    if (Cryptoki.FunctionList->C_GetSessionInfo(SessionTable[row], &session) == CKR_OK)
        UpdateButtonsForState(session.state);
}

// Shows the token of entry `k` of the slot list in its row, with a new
// session; the first entry's token becomes the selected one.
void OpenToken(CK_ULONG k) {
    VendorFunctionList* api = Cryptoki.FunctionList;
    const CK_SLOT_ID slot = AppState.SlotList[k];
    if (!SlotHasRow(slot))
        return;
    CK_TOKEN_INFO info = {};
    CK_RV rv = api->C_GetTokenInfo(slot, &info);
    if (rv != CKR_OK) {
        ShowTokenError(rv, L"Can't retreive token's information\r\n");
        return;
    }
    rv = SessionTable.Open(slot);
    if (rv != CKR_OK) {
        ShowTokenError(rv, L"Open session failed\r\n");
        return;
    }
    SetTokenRowName(info.label, static_cast<int>(slot), false);
    SetTokenRowStatus(CKS_RW_PUBLIC_SESSION, static_cast<int>(slot));
    if (k == 0)
        SelectFirstToken(slot, info);
}

// Under Wine a list view lays itself out again for every row and cell that
// goes in, hidden or not, so the rows go in with the lists' redrawing off.
void SetListRedraw(bool on) {
    for (HWND list : {AppState.TokenListView, AppState.TokenInfoView}) {
        SendMessageW(list, WM_SETREDRAW, on ? TRUE : FALSE, 0);
        if (on)
            InvalidateRect(list, nullptr, TRUE);
    }
}

// One row per slot that can hold a session: slot IDs from kMaxSlots up are
// never shown, and a module may answer any count (0x7FFFFFFF rows would
// keep the window from ever appearing).
void FillTokenList() {
    SetListRedraw(false);
    for (CK_ULONG i = 0; i < AppState.SlotCount && i < static_cast<CK_ULONG>(kMaxSlots); ++i)
        SetTokenRowText(L" ", static_cast<int>(i), true);
    for (CK_ULONG k = 0; k < AppState.TokenCount; ++k)
        OpenToken(k);
    SetListRedraw(true);
}

// The module loaded and initialised and its slot list read: 0, or the exit
// code of the failure.
int LoadModuleAndSlots() {
    if (LoadCryptokiModule() != kModuleLoaded)
        return kExitModuleNotLoaded;
    return ReadSlotList() ? 0 : kExitNoSlotCount;
}

void ShowLoadFailure(int exitCode) {
    ShowStartUpError(exitCode == kExitModuleNotLoaded ? L"Error in loading PKCS#11 module\r\n"
                                                      : L"Error in getting token slots\r\n",
                     kLoadingCaption);
}

// Loads the module and reads its slots on a thread of its own while
// `alongside` runs on this one: loading a module and making a window each
// spend most of their time waiting on the system, so together they take
// little longer than the window alone. This thread touches neither the
// module nor the slot list until the loader has ended. Where no thread
// can be started, the loading runs here first.
int LoadModuleBeside(const std::function<void()>& alongside) {
    int result = kExitModuleNotLoaded;
    std::exception_ptr failure;
    auto load = [&result, &failure] {
        try {
            result = LoadModuleAndSlots();
        } catch (...) {
            failure = std::current_exception();
        }
    };
    std::thread loader;
    try {
        loader = std::thread(load);
    } catch (const std::system_error&) {
        load();
    }
    {
        // Joined however `alongside` ends: the loader writes to this frame.
        struct JoinAtEnd {
            std::thread& Thread;
            ~JoinAtEnd() {
                if (Thread.joinable())
                    Thread.join();
            }
        } joinAtEnd{loader};
        alongside();
    }
    if (failure)
        std::rethrow_exception(failure);
    return result;
}

// A window made while the module loaded, for a run that cannot go on. It
// was never shown. Its end posts the quit message, which is taken back so
// that it does not end a later message loop of this thread at once.
void DiscardHiddenWindow(HWND window) {
    if (!window)
        return;
    DestroyWindow(window);
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
}

// The rest of start-up once the module and the slots are read: the rows and
// sessions in the hidden window, then the window shown and the slot
// monitor started.
int FillAndShow(HWND window, bool startSlotMonitor) {
    if (!window) {
        // Without a window nothing could ever end the message loop.
        ShowStartUpError(L"Window creation failed\r\n", L"Window Creation Failed");
        return kExitNoMainWindow;
    }
    FillTokenList();
    ShowMainWindow();
    if (startSlotMonitor)
        StartSlotMonitor(window);
    return 0;
}

}  // namespace

bool IsAdminCommandLine(const char* commandLine) {
    return commandLine && strstr(commandLine, kAdminCode) != nullptr;
}

std::wstring ComposeWindowTitle(bool adminMode) {
    std::wstring title = kTitleProduct;
    title += adminMode ? kTitleAdmin : kTitlePlain;
    for (const wchar_t* piece : kTitleTail)
        title += piece;
    return title;
}

void PrepareStartUp(HINSTANCE instance, const char* commandLine) {
    InitCommonControlsForProgram();
    RegisterMainWindowClass(instance);
    AppState.AdminMode = IsAdminCommandLine(commandLine);
}

int LoadModuleForStartUp() {
    if (LoadCryptokiModule() == kModuleLoaded)
        return 0;
    ShowLoadFailure(kExitModuleNotLoaded);
    return kExitModuleNotLoaded;
}

int StartUpWithModule(HINSTANCE instance, int show, bool startSlotMonitor) {
    // From here on only this thread, the window thread, uses the sessions.
    SessionTable.SetOwnerThread(GetCurrentThreadId());
    if (!ReadSlotList()) {
        ShowLoadFailure(kExitNoSlotCount);
        return kExitNoSlotCount;
    }
    g_showCommand = show;
    return FillAndShow(CreateMainWindow(instance), startSlotMonitor);
}

int StartUpToMessageLoop(HINSTANCE instance, const char* commandLine, int show, bool startSlotMonitor) {
    PrepareStartUp(instance, commandLine);
    // Process-wide: set before another thread loads a DLL.
    RemoveCurrentFolderFromDllSearch();
    SessionTable.SetOwnerThread(GetCurrentThreadId());
    g_showCommand = show;
    HWND window = nullptr;
    const int loadResult = LoadModuleBeside([&window, instance] { window = CreateMainWindow(instance); });
    if (loadResult != 0) {
        DiscardHiddenWindow(window);
        ShowLoadFailure(loadResult);
        return loadResult;
    }
    return FillAndShow(window, startSlotMonitor);
}

int RunMessageLoop() {
    MSG message = {};
    BOOL result;
    while ((result = GetMessageW(&message, nullptr, 0, 0)) != 0) {
        if (result == -1)
            break;
        RelayInfoTipInput(message);
        if (HandleMainWindowKey(&message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

int RunUntilClosed() {
    const int exitCode = RunMessageLoop();
    FinalizeCryptokiModule();
    WaitForSlotMonitor(kMonitorEndMs);
    return exitCode;
}

int RunStartUp(HINSTANCE instance, const char* commandLine, int show) {
    const int startUp = StartUpToMessageLoop(instance, commandLine, show, true);
    if (startUp != 0)
        return startUp;
    return RunUntilClosed();
}
