// Closing the main window while a worker runs: the listing, the deletion
// and the CSR run, each held at a chosen Cryptoki call when the close comes.
// The program's own end of the run follows (RunUntilClosed, with the slot
// monitor start-up started): exit code 0, no box and no dialog, the module
// finalised once, after the worker's last call. Then once more with the
// real TokenManager.exe, for the exit code of a process.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>

#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/SlotMonitor.h"
#include "app/StartUp.h"
#include "cryptoki/ModuleLoader.h"
#include "res/resource.h"
#include "support/CallCounter.h"
#include "support/DirectListing.h"
#include "support/MainWindowFixture.h"
#include "support/ObjectTemplates.h"
#include "support/ProgramRun.h"
#include "support/RemoteListView.h"
#include "support/TestFiles.h"
#include "support/UiDriver.h"

namespace {

constexpr CK_SLOT_ID kSlot = 0;
constexpr DWORD kHoldMs = 20000;

// The calls a worker makes through the program's function list.
long WorkerCalls(const CallCounter& calls) {
    return calls.Count("C_FindObjects") + calls.Count("C_GetAttributeValue") + calls.Count("C_DestroyObject") +
           calls.Count("C_FindObjectsFinal");
}

// What the window thread had come to when the module was finalised,
// recorded by a function list in front of the program's.
struct AtFinalize {
    int calls = 0;
    bool busy = true;
    bool windowGone = false;
    bool libraryLoaded = true;
    long workerCalls = -1;
};

class FinalizeWatch {
public:
    explicit FinalizeWatch(const CallCounter& calls) {
        counter_ = &calls;
        inner_ = Cryptoki.FunctionList;
        watched_ = *inner_;
        watched_.C_Finalize = Finalize;
        Cryptoki.FunctionList = &watched_;
        seen_ = AtFinalize();
    }
    ~FinalizeWatch() {
        if (Cryptoki.FunctionList == &watched_)
            Cryptoki.FunctionList = inner_;
    }
    FinalizeWatch(const FinalizeWatch&) = delete;
    FinalizeWatch& operator=(const FinalizeWatch&) = delete;

    const AtFinalize& Seen() const { return seen_; }

private:
    static CK_RV Finalize(CK_VOID_PTR reserved) {
        if (++seen_.calls == 1) {
            seen_.busy = AppState.Busy;
            seen_.windowGone = AppState.MainWindow == nullptr;
            seen_.libraryLoaded = GetModuleHandleW(L"vexpke.dll") != nullptr;
            seen_.workerCalls = WorkerCalls(*counter_);
        }
        return inner_->C_Finalize(reserved);
    }

    static VendorFunctionList* inner_;
    static VendorFunctionList watched_;
    static const CallCounter* counter_;
    static AtFinalize seen_;
};

VendorFunctionList* FinalizeWatch::inner_ = nullptr;
VendorFunctionList FinalizeWatch::watched_;
const CallCounter* FinalizeWatch::counter_ = nullptr;
AtFinalize FinalizeWatch::seen_;

// Holds the thread that makes the next C_SignInit of the module, whoever
// calls it: the key-management library calls the module through the
// module's own function list, which the program's call counter does not
// see, so the hold goes into that list.
class ModuleSignHold {
public:
    ModuleSignHold() {
        auto get = reinterpret_cast<CK_C_GetFunctionList>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"tolvane11.dll"), "C_GetFunctionList")));
        CK_FUNCTION_LIST_PTR list = nullptr;
        if (!get || get(&list) != CKR_OK || !list)
            return;
        list_ = list;
        original_ = list->C_SignInit;
        held_ = false;
        ResetEvent(release_);
        list->C_SignInit = HeldSignInit;
    }
    ~ModuleSignHold() {
        Release();
        if (list_)
            list_->C_SignInit = original_;
    }
    ModuleSignHold(const ModuleSignHold&) = delete;
    ModuleSignHold& operator=(const ModuleSignHold&) = delete;

    bool Installed() const { return list_ != nullptr; }
    bool Held() const { return held_; }
    void Release() { SetEvent(release_); }

private:
    static CK_RV HeldSignInit(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
        held_ = true;
        WaitForSingleObject(release_, 60000);
        return original_(session, mechanism, key);
    }

    CK_FUNCTION_LIST_PTR list_ = nullptr;
    static CK_C_SignInit original_;
    static std::atomic<bool> held_;
    static HANDLE release_;
};

CK_C_SignInit ModuleSignHold::original_ = nullptr;
std::atomic<bool> ModuleSignHold::held_{false};
HANDLE ModuleSignHold::release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);

// Closes the main window once the worker is held, as the close box does,
// and lets the worker go only when the window thread waits for it: the
// window answers the probe with "closing" only from inside the close (it
// takes no message between asking the worker to stop and waiting for it).
class CloseWhileHeld {
public:
    CloseWhileHeld(HWND window, std::function<bool()> held, std::function<void()> release)
        : window_(window), probe_(RegisterWindowMessageW(L"TokenManager.ShutdownTest.Closing")) {
        SetWindowSubclass(window, ProbeProc, kSubclassId, probe_);
        thread_ = std::thread([this, held, release] { Run(held, release); });
    }
    ~CloseWhileHeld() { thread_.join(); }
    CloseWhileHeld(const CloseWhileHeld&) = delete;
    CloseWhileHeld& operator=(const CloseWhileHeld&) = delete;

    bool Closed() const { return closed_; }
    bool ReleasedWhileClosing() const { return releasedWhileClosing_; }

private:
    static constexpr UINT_PTR kSubclassId = 0x5D0;

    static LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                      DWORD_PTR probe) {
        if (message == probe)
            return AppState.ShuttingDown ? 1 : 0;
        return DefSubclassProc(window, message, wParam, lParam);
    }

    void Run(const std::function<bool()>& held, const std::function<void()>& release) {
        for (int i = 0; i < 800 && !held(); ++i)
            Sleep(25);
        if (held()) {
            closed_ = PostMessageW(window_, WM_CLOSE, 0, 0) != FALSE;
            for (int i = 0; closed_ && i < 4000 && !releasedWhileClosing_; ++i) {
                DWORD_PTR answer = 0;
                if (!SendMessageTimeoutW(window_, probe_, 0, 0, SMTO_NORMAL, 1000, &answer))
                    break;  // the window is gone
                releasedWhileClosing_ = answer == 1;
                if (!releasedWhileClosing_)
                    Sleep(5);
            }
        }
        release();  // never leave the worker held
    }

    HWND window_;
    UINT probe_;
    std::atomic<bool> closed_{false};
    std::atomic<bool> releasedWhileClosing_{false};
    std::thread thread_;
};

class ShutdownTest : public testing::Test {
protected:
    // A token with `objects` data objects, the window and its slot monitor
    // as start-up makes them, the user logged in.
    void Start(int objects) {
        ASSERT_TRUE(window_.AddToken(kSlot, "Closing", "CLOSE1"));
        ASSERT_EQ(CKR_OK, TokenStore::Control().SetCapacity(kSlot, 1 << 20));
        if (objects > 0) {
            ASSERT_EQ(CKR_OK, AddTokenObjects(kSlot, NumberedDataObjects("object ", objects)));
        }
        ASSERT_EQ(0, window_.Start(false, true));
        CK_UTF8CHAR pin[] = "1234";
        ASSERT_EQ(CKR_OK, Cryptoki.FunctionList->C_Login(SessionTable[kSlot], CKU_USER, pin, 4));
        window_.ClickTokenRow(kSlot);
        AppState.PublicOnlyWarningArmed = false;
    }

    // The command as a click sends it, carried out by the program's loop.
    void PostCommand(int id) { PostMessageW(window_.Window(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

    // The program's loop to its end, with the window closed once the worker
    // is held; the loop's exit code.
    int RunClosingWhileHeld(std::function<bool()> held, std::function<void()> release) {
        CloseWhileHeld close(window_.Window(), std::move(held), std::move(release));
        const int exitCode = RunUntilClosed();
        EXPECT_TRUE(close.Closed()) << "the worker was never held";
        EXPECT_TRUE(close.ReleasedWhileClosing());
        return exitCode;
    }

    // The end every close must reach.
    void ExpectCleanEnd(int exitCode, const CallCounter& calls, const AtFinalize& atFinalize) {
        EXPECT_EQ(0, exitCode);
        EXPECT_EQ(1, calls.Count("C_Finalize"));
        EXPECT_EQ(1, atFinalize.calls);
        EXPECT_FALSE(atFinalize.busy) << "the worker's end was waited for";
        EXPECT_TRUE(atFinalize.windowGone);
        EXPECT_EQ(atFinalize.workerCalls, WorkerCalls(calls)) << "a worker call after C_Finalize";
        EXPECT_TRUE(WaitForSlotMonitor(0)) << "the slot monitor ended";
        EXPECT_TRUE(ui_.Unexpected().empty()) << "a box or dialog while closing: " << Narrow(ui_.Unexpected()[0].caption);
    }

    MainWindowFixture window_;
    UiDriver ui_;  // any box or dialog nobody expects is recorded and closed
};

TEST_F(ShutdownTest, ClosedDuringAHeldListing) {
    ASSERT_NO_FATAL_FAILURE(Start(1500));
    CallCounter calls;
    FinalizeWatch watch(calls);
    calls.HoldAt("C_FindObjects", 300);
    PostCommand(kDisplayObjectsCommand);
    const int exitCode = RunClosingWhileHeld([&calls] { return calls.Held(); }, [&calls] { calls.Release(); });
    ExpectCleanEnd(exitCode, calls, watch.Seen());
    EXPECT_EQ(1, calls.Count("C_FindObjectsFinal")) << "the search is ended once";
    EXPECT_LT(calls.Count("C_FindObjects"), 1500) << "the listing stops at its next object";
}

TEST_F(ShutdownTest, ClosedDuringAHeldDeletion) {
    ASSERT_NO_FATAL_FAILURE(Start(5));
    window_.Click(kDisplayObjectsCommand);
    ASSERT_TRUE(window_.PumpUntil([] { return !AppState.Busy && IsWindowEnabled(AppState.TokenListView); }));
    window_.SelectObjectRows({0, 1, 2});
    CallCounter calls;
    FinalizeWatch watch(calls);
    calls.HoldAt("C_DestroyObject", 2);
    ui_.Then({L"Remove object", {}, nullptr, IDYES});
    PostCommand(kDeleteObjectsCommand);
    const int exitCode = RunClosingWhileHeld([&calls] { return calls.Held(); }, [&calls] { calls.Release(); });
    ExpectCleanEnd(exitCode, calls, watch.Seen());
    EXPECT_EQ(2, calls.Count("C_DestroyObject")) << "the deletion stops after the object in hand";
    EXPECT_EQ(0, calls.Count("C_FindObjectsInit")) << "no listing after the close";
    Cryptoki.FunctionList->C_Initialize(nullptr);  // finalised by the run
    EXPECT_EQ(3u, CountTokenObjects(kSlot));
}

// The deletion waits for its refusal box, which the window thread shows:
// the close that comes meanwhile stops the deletion at once and ends the
// program when the box is answered, with nothing shown after it.
TEST_F(ShutdownTest, ClosedWhileADeletionRefusalIsShown) {
    ASSERT_NO_FATAL_FAILURE(Start(5));
    window_.Click(kDisplayObjectsCommand);
    ASSERT_TRUE(window_.PumpUntil([] { return !AppState.Busy && IsWindowEnabled(AppState.TokenListView); }));
    window_.SelectObjectRows({0, 1, 2});
    ASSERT_EQ(CKR_OK, TokenStore::Control().SetFault("C_DestroyObject", 1, CKR_DEVICE_ERROR));
    CallCounter calls;
    FinalizeWatch watch(calls);
    const wchar_t kRefusal[] = L"Object deletion problem";
    ui_.Then({L"Remove object", {}, nullptr, IDYES}).Then({kRefusal, {}, nullptr, 0});  // answered below
    PostCommand(kDeleteObjectsCommand);
    auto refusalBox = [&kRefusal] {
        for (HWND box : VisibleDialogs())
            if (DescribeWindow(box).caption == kRefusal)
                return box;
        return HWND(nullptr);
    };
    const int exitCode = RunClosingWhileHeld([&] { return refusalBox() != nullptr; },
                                             [&] { PressButton(refusalBox(), IDOK); });
    ExpectCleanEnd(exitCode, calls, watch.Seen());
    EXPECT_EQ(2u, ui_.Seen().size()) << "the question and the one refusal";
    EXPECT_EQ(1, calls.Count("C_DestroyObject")) << "the deletion stops after the refused object";
    Cryptoki.FunctionList->C_Initialize(nullptr);  // finalised by the run
    EXPECT_EQ(5u, CountTokenObjects(kSlot));
}

// The CSR dialog is modal over the main window; the close reaches the main
// window all the same. The run ends when the library returns, and nothing
// asks where to save the CSR.
TEST_F(ShutdownTest, ClosedDuringAHeldCsrRun) {
    ASSERT_NO_FATAL_FAILURE(Start(0));
    const unsigned char id[] = {0x0A, 0xFF};
    ASSERT_EQ(CKR_OK, TokenStore::Control().GenerateKeyPair(kSlot, 1024, "CSR key", id, sizeof id));
    ASSERT_EQ(0, ListTokenObjectsHere(AppState.ObjectListView, kSlot));
    ASSERT_EQ(CKR_OK, Cryptoki.FunctionList->C_Logout(SessionTable[kSlot]));
    int privateKeyRow = -1;
    for (int row = 0; row < MainWindowFixture::RowCount(AppState.ObjectListView); ++row)
        if (MainWindowFixture::CellText(AppState.ObjectListView, row, 1) == L"RSA private key")
            privateKeyRow = row;
    ASSERT_NE(-1, privateKeyRow);
    window_.ClickObjectRow(privateKeyRow);

    ModuleSignHold hold;
    ASSERT_TRUE(hold.Installed());
    CallCounter calls;
    FinalizeWatch watch(calls);
    ui_.Then({L"Generate CSR", {{IDC_CSR_PIN, L"1234"}}, nullptr, IDOK});
    PostCommand(kGenerateCsrCommand);
    const int exitCode = RunClosingWhileHeld([&hold] { return hold.Held(); }, [&hold] { hold.Release(); });
    ExpectCleanEnd(exitCode, calls, watch.Seen());
    EXPECT_FALSE(watch.Seen().libraryLoaded) << "the library is unloaded before the module is finalised";
}

// TokenManager.exe closed while it lists many objects: the process ends
// with 0 and says nothing.
TEST(ShutdownProgram, ClosedWhileListingExitsWithZero) {
    TokenStore store(1);
    ASSERT_TRUE(store.AddToken(0, "Many", "MANY1"));
    ASSERT_EQ(CKR_OK, TokenStore::Control().SetCapacity(0, 1 << 22));
    ASSERT_EQ(CKR_OK, AddTokenObjects(0, NumberedDataObjects("object ", 6000)));
    ProgramRun run(BinFolder() + L"\\TokenManager.exe", L"", {L"TOLVANE_SOFTTOKEN_STORE=" + store.Path()});
    HWND main = run.WaitForWindow(L"Window Class", 20000);
    ASSERT_TRUE(main);
    PostMessageW(main, WM_COMMAND, MAKEWPARAM(kDisplayObjectsCommand, BN_CLICKED), 0);
    HWND warning = run.WaitForWindow(L"#32770", 10000);  // "Only public objects are visible."
    ASSERT_TRUE(warning);
    ProgramRun::Press(warning, IDOK);
    HWND objects = GetDlgItem(main, kObjectListId);
    for (int i = 0; i < 1000 && RemoteListViewRowCount(objects) == 0; ++i)
        Sleep(10);
    ASSERT_GT(RemoteListViewRowCount(objects), 0) << "the listing never showed a row";

    ProgramRun::Close(main);
    DWORD exitCode = 99;
    ASSERT_TRUE(run.WatchUntilExit(30000, &exitCode));
    EXPECT_EQ(0u, exitCode);
    EXPECT_TRUE(run.Boxes().empty()) << Narrow(run.Boxes()[0].caption);
}

}  // namespace
