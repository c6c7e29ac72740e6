// TokenManager.exe as the user starts it: in a process of its own, on a
// software-token store made for the test.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <vector>

#include "support/MainWindowFixture.h"
#include "support/ProgramRun.h"
#include "support/TestFiles.h"
#include "support/TokenStore.h"


namespace {

const wchar_t kMainClass[] = L"Window Class";
const wchar_t kBoxClass[] = L"#32770";
constexpr DWORD kStartMs = 20000;

std::wstring ProgramPath() {
    return BinFolder() + L"\\TokenManager.exe";
}

std::wstring TitleOf(HWND window) {
    wchar_t text[128] = {};
    GetWindowTextW(window, text, ARRAYSIZE(text));
    return text;
}

class ProgramTest : public testing::Test {
protected:
    std::vector<std::wstring> StoreEnvironment() { return {L"TOLVANE_SOFTTOKEN_STORE=" + store_.Path()}; }
    // A fault for every process on the store: the program's own n-th call.
    void StoreFault(const char* function, CK_RV rv) {
        ASSERT_EQ(CKR_OK, TokenStore::Control().AddStoreFault(function, 1, rv, 0));
    }
    void TearDown() override { TokenStore::Control().ClearStoreFaults(); }

    TokenStore store_{4};
};

TEST_F(ProgramTest, StartsWithItsTokensAndEndsWithZero) {
    ASSERT_TRUE(store_.AddToken(0, "Program zero", "0"));
    ASSERT_TRUE(store_.AddToken(2, "Program two", "2"));
    for (bool admin : {false, true}) {
        ProgramRun run(ProgramPath(), admin ? L"x@y" : L"", StoreEnvironment());
        ASSERT_TRUE(run.Started());
        HWND main = run.WaitForWindow(kMainClass, kStartMs);
        ASSERT_TRUE(main);
        EXPECT_EQ(admin ? L"Tolvane Token Manager Admin v0.124 r990722_1" : L"Tolvane Token Manager v0.124 r990722_1",
                  TitleOf(main));
        RECT rect = {};
        GetWindowRect(main, &rect);
        EXPECT_EQ(admin ? 535 : 490, rect.bottom - rect.top);
        HWND list = GetDlgItem(main, 110);
        ASSERT_EQ(4, RemoteListViewRowCount(list));
        EXPECT_EQ(L"Program zero", RemoteListViewText(list, 0, 0));
        EXPECT_EQ(L" ", RemoteListViewText(list, 1, 0));
        EXPECT_EQ(L"Program two", RemoteListViewText(list, 2, 0));
        EXPECT_EQ(L"Not logged in", RemoteListViewText(list, 2, 1));
        EXPECT_EQ(0, RemoteListViewSelectedRow(list));
        EXPECT_EQ(L"Program zero", RemoteListViewText(list, 0, 0));
        ProgramRun::Close(main);
        DWORD exitCode = 99;
        ASSERT_TRUE(run.WatchUntilExit(kStartMs, &exitCode));
        EXPECT_EQ(0u, exitCode);
        EXPECT_TRUE(run.Boxes().empty());
    }
}

TEST_F(ProgramTest, WithoutTheModuleOneBoxAndExitCodeOne) {
    // The program alone in a folder: no tolvane11.dll beside it.
    TempFolder folder;
    const std::wstring copy = folder.File(L"TokenManager.exe");
    ASSERT_TRUE(CopyFileW(ProgramPath().c_str(), copy.c_str(), FALSE));
    ProgramRun run(copy, L"", StoreEnvironment());
    ASSERT_TRUE(run.Started());
    DWORD exitCode = 99;
    ASSERT_TRUE(run.WatchUntilExit(kStartMs, &exitCode));
    EXPECT_EQ(1u, exitCode);
    ASSERT_EQ(1u, run.Boxes().size());
    EXPECT_EQ(L"PKCS#11 loading Failed", run.Boxes()[0].caption);
    EXPECT_EQ(L"Error in loading PKCS#11 module\r\n", run.Boxes()[0].text);
    EXPECT_FALSE(run.Saw(kMainClass)) << "no window";
}

// A module that answers 0x7FFFFFFF slots: the window comes at once with the
// 64 rows a token can have, and closing it ends the program.
TEST_F(ProgramTest, CountlessSlotsGiveSixtyFourRowsAndAWindowThatCloses) {
    TempFolder folder;
    const std::wstring copy = folder.File(L"TokenManager.exe");
    ASSERT_TRUE(CopyFileW(ProgramPath().c_str(), copy.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((BinFolder() + L"\\probes\\probe_many_slots.dll").c_str(),
                          folder.File(L"tolvane11.dll").c_str(), FALSE));
    ProgramRun run(copy, L"", {});
    ASSERT_TRUE(run.Started());
    const DWORD start = GetTickCount();
    HWND main = run.WaitForWindow(kMainClass, kStartMs);
    ASSERT_TRUE(main) << "no window";
    EXPECT_LT(GetTickCount() - start, 10000u) << "the window took more than 10 s";
    HWND list = GetDlgItem(main, 110);
    EXPECT_EQ(64, RemoteListViewRowCount(list));
    EXPECT_EQ(L" ", RemoteListViewText(list, 63, 0));
    ProgramRun::Close(main);
    DWORD exitCode = 99;
    ASSERT_TRUE(run.WatchUntilExit(kStartMs, &exitCode)) << "WM_CLOSE did not end the program";
    EXPECT_EQ(0u, exitCode);
    EXPECT_TRUE(run.Boxes().empty());
}

TEST_F(ProgramTest, UnreadableSlotCountExitCodeTwo) {
    ASSERT_TRUE(store_.AddToken(0, "Zero", "0"));
    StoreFault("C_GetSlotList", CKR_GENERAL_ERROR);
    ProgramRun run(ProgramPath(), L"", StoreEnvironment());
    DWORD exitCode = 99;
    ASSERT_TRUE(run.WatchUntilExit(kStartMs, &exitCode));
    EXPECT_EQ(2u, exitCode);
    ASSERT_EQ(1u, run.Boxes().size());
    EXPECT_EQ(L"PKCS#11 loading Failed", run.Boxes()[0].caption);
    EXPECT_EQ(L"Error in getting token slots\r\n", run.Boxes()[0].text);
    EXPECT_FALSE(run.Saw(kMainClass));
}

// The first token's information or session fails: its report, no selection,
// the later token listed and usable.
TEST_F(ProgramTest, FirstTokenFailingIsReportedAndSkipped) {
    ASSERT_TRUE(store_.AddToken(0, "Zero", "0"));
    ASSERT_TRUE(store_.AddToken(2, "Two", "2"));
    const struct {
        const char* function;
        const wchar_t* context;
    } cases[] = {
        {"C_GetTokenInfo", L"Can't retreive token's information\r\n"},
        {"C_OpenSession", L"Open session failed\r\n"},
    };
    for (const auto& c : cases) {
        TokenStore::Control().ClearStoreFaults();
        StoreFault(c.function, CKR_DEVICE_ERROR);
        ProgramRun run(ProgramPath(), L"", StoreEnvironment());
        HWND box = run.WaitForWindow(kBoxClass, kStartMs);
        ASSERT_TRUE(box) << c.function;
        SeenWindow seen = ProgramRun::DescribeWhenFilled(box);
        EXPECT_EQ(L"PKCS#11 error", seen.caption);
        EXPECT_EQ(std::wstring(L"An error occured due to CKR_DEVICE_ERROR 0x30\r\n") + c.context, seen.text);
        EXPECT_EQ(nullptr, seen.owner);
        ProgramRun::Press(box, IDOK);

        HWND main = run.WaitForWindow(kMainClass, kStartMs);
        ASSERT_TRUE(main);
        HWND list = GetDlgItem(main, 110);
        // Wait until the later token's row is named.
        for (int i = 0; i < 500 && RemoteListViewText(list, 2, 0) != L"Two"; ++i)
            Sleep(10);
        EXPECT_EQ(L"Two", RemoteListViewText(list, 2, 0)) << c.function;
        EXPECT_EQ(L"Not logged in", RemoteListViewText(list, 2, 1));
        EXPECT_EQ(L" ", RemoteListViewText(list, 0, 0));
        EXPECT_EQ(-1, RemoteListViewSelectedRow(list));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(main, 101))) << "no token selected, no login";
        ProgramRun::Close(main);
        DWORD exitCode = 99;
        ASSERT_TRUE(run.WatchUntilExit(kStartMs, &exitCode));
        EXPECT_EQ(0u, exitCode);
        EXPECT_TRUE(run.Boxes().empty()) << "one report only";
    }
}

// The names of the modules loaded in the process of `window`, lower case.
std::vector<std::wstring> LoadedModules(HWND window) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    std::vector<std::wstring> names;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (!process)
        return names;
    HMODULE modules[512] = {};
    DWORD bytes = 0;
    if (EnumProcessModules(process, modules, sizeof modules, &bytes)) {
        for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < ARRAYSIZE(modules); ++i) {
            wchar_t name[MAX_PATH] = {};
            GetModuleBaseNameW(process, modules[i], name, MAX_PATH);
            names.push_back(_wcslwr(name));
        }
    }
    CloseHandle(process);
    return names;
}

bool Loaded(const std::vector<std::wstring>& modules, const wchar_t* name) {
    for (const std::wstring& module : modules)
        if (module == name)
            return true;
    return false;
}

// The common dialogs, the certificate services and the shell are loaded
// when a command first needs them, not at start-up: the window with its
// tokens shows without them. The open-file dialog of the import then loads
// the common dialogs and works.
TEST_F(ProgramTest, LibrariesOfSomeCommandsLoadOnFirstUse) {
    ASSERT_TRUE(store_.AddToken(0, "Zero", "0"));
    ProgramRun run(ProgramPath(), L"", StoreEnvironment());
    HWND main = run.WaitForWindow(kMainClass, kStartMs);
    ASSERT_TRUE(main);
    HWND import = GetDlgItem(main, 106);
    for (int i = 0; i < 500 && !IsWindowEnabled(import); ++i)
        Sleep(10);  // another process's button: no hook of ours sees it enabled
    ASSERT_TRUE(IsWindowEnabled(import)) << "the first token is selected at start-up";
    std::vector<std::wstring> modules = LoadedModules(main);
    ASSERT_TRUE(Loaded(modules, L"comctl32.dll")) << "the program's modules are seen";
    ASSERT_TRUE(Loaded(modules, L"tolvane11.dll"));
    for (const wchar_t* later : {L"comdlg32.dll", L"crypt32.dll", L"shell32.dll"})
        EXPECT_FALSE(Loaded(modules, later)) << later << " is loaded at start-up";

    PostMessageW(main, WM_COMMAND, 106, 0);
    HWND open = run.WaitForWindow(kBoxClass, kStartMs);
    ASSERT_TRUE(open) << "the open-file dialog";
    EXPECT_TRUE(Loaded(LoadedModules(main), L"comdlg32.dll"));
    ProgramRun::Press(open, IDCANCEL);
    ProgramRun::Close(main);
    DWORD exitCode = 99;
    ASSERT_TRUE(run.WatchUntilExit(kStartMs, &exitCode));
    EXPECT_EQ(0u, exitCode);
}

TEST(ProgramFile, VersionResource) {
    const std::wstring path = ProgramPath();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
    const struct {
        const wchar_t* key;
        const wchar_t* value;
    } strings[] = {
        {L"\\StringFileInfo\\040904B0\\ProductName", L"Tolvane Token Manager"},
        {L"\\StringFileInfo\\040904B0\\ProductVersion", L"0.124"},
    };
    for (const auto& s : strings) {
        wchar_t* value = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(data.data(), s.key, reinterpret_cast<void**>(&value), &length)) << s.key;
        EXPECT_STREQ(s.value, value);
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(MAKELONG(124, 0), fixed->dwProductVersionMS);
}

}  // namespace
