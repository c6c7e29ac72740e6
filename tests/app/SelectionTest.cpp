// The selection in the token list and the object list, the serial-number
// edit and the menus of the two commands without a button.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <thread>
#include <vector>

#include "app/AppState.h"
#include "app/ContextMenus.h"
#include "app/ControlIds.h"
#include "app/TokenPanel.h"
#include "cryptoki/ModuleLoader.h"
#include "support/MainWindowFixture.h"
#include "support/UiDriver.h"

namespace {

class SelectionTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(window_.AddToken(0, "Alpha", "SERIAL-A"));
        ASSERT_TRUE(window_.AddToken(2, "Beta", "SERIAL-B"));
        ASSERT_EQ(0, window_.Start(true));
    }

    void AddObjectRow(const wchar_t* type) {
        MainWindowFixture::AddRow(AppState.ObjectListView, {L"1", type, L"N/A"});
    }
    int ObjectRows() { return MainWindowFixture::RowCount(AppState.ObjectListView); }

    // A double-click of the mouse on a cell of the information panel.
    void DoubleClickPanel(int row, int column) {
        RECT rect = {};
        rect.top = column;
        rect.left = LVIR_LABEL;
        SendMessageW(AppState.TokenInfoView, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&rect));
        const LPARAM point = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
        SendMessageW(AppState.TokenInfoView, WM_LBUTTONDBLCLK, MK_LBUTTON, point);
        SendMessageW(AppState.TokenInfoView, WM_LBUTTONUP, 0, point);
        window_.Pump();
    }
    HWND SerialEdit() { return GetDlgItem(AppState.TokenInfoView, kSerialEditId); }

    MainWindowFixture window_;
    // Commands that open dialogs: whatever they open is closed.
    UiDriver ui_;
};

TEST_F(SelectionTest, SameTokenKeepsTheObjectListAnotherEmptiesIt) {
    AddObjectRow(L"Data object");
    AppState.PublicOnlyWarningArmed = false;
    window_.ClickTokenRow(0);
    EXPECT_EQ(1, ObjectRows()) << "the same token again";
    EXPECT_TRUE(AppState.PublicOnlyWarningArmed) << "every click arms the warning";

    window_.ClickTokenRow(2);
    EXPECT_EQ(0, ObjectRows());
    EXPECT_EQ(2, AppState.CurrentSlot);
    EXPECT_EQ(L"2", MainWindowFixture::CellText(AppState.TokenInfoView, 0, 1));
    EXPECT_EQ(L"SERIAL-B", MainWindowFixture::CellText(AppState.TokenInfoView, 2, 1));
    EXPECT_EQ(6, MainWindowFixture::RowCount(AppState.TokenInfoView)) << "the panel is emptied before it is filled";
}

TEST_F(SelectionTest, EmptyAreaOrEmptySlotDisablesEverything) {
    for (int row : {-1, 1}) {
        window_.ClickTokenRow(0);
        AddObjectRow(L"Data object");
        ASSERT_TRUE(window_.ButtonEnabled(kLoginButton));
        window_.ClickTokenRow(row);
        EXPECT_EQ(row, AppState.CurrentSlot);
        EXPECT_EQ(0, ObjectRows()) << "row " << row;
        EXPECT_EQ(0, MainWindowFixture::RowCount(AppState.TokenInfoView)) << "row " << row;
        for (int i = 0; i < kMainButtonCount; ++i)
            EXPECT_FALSE(window_.ButtonEnabled(i)) << "row " << row << ", button " << i;
        for (int i = 0; i < kAdminButtonCount; ++i)
            EXPECT_FALSE(window_.AdminButtonEnabled(i)) << "row " << row << ", admin button " << i;
        EXPECT_FALSE(IsWindowEnabled(AppState.ObjectListView));
    }
    // Back on a token, everything it allows comes back.
    window_.ClickTokenRow(2);
    EXPECT_TRUE(window_.ButtonEnabled(kLoginButton));
    EXPECT_TRUE(window_.AdminButtonEnabled(0));
    EXPECT_TRUE(IsWindowEnabled(AppState.ObjectListView));
}

TEST_F(SelectionTest, SelectionFollowsTheSessionState) {
    ASSERT_EQ(CKR_OK, Cryptoki.FunctionList->C_Login(SessionTable[2], CKU_USER,
                                                     (CK_UTF8CHAR_PTR)kTestUserPin, 4));
    window_.ClickTokenRow(2);
    EXPECT_EQ(L"Log out", window_.ButtonCaption(kLoginButton));
    EXPECT_TRUE(window_.ButtonEnabled(kDeleteButton));
    // The row's status text is the login dialogs' business, not the selection's.
    EXPECT_EQ(L"Not logged in", MainWindowFixture::CellText(AppState.TokenListView, 2, 1));
    window_.ClickTokenRow(0);
    EXPECT_EQ(L"Login", window_.ButtonCaption(kLoginButton));
    EXPECT_FALSE(window_.ButtonEnabled(kDeleteButton));
    Cryptoki.FunctionList->C_Logout(SessionTable[2]);
}

TEST_F(SelectionTest, ExportFollowsTheFirstSelectedObject) {
    ASSERT_EQ(CKR_OK, Cryptoki.FunctionList->C_Login(SessionTable[0], CKU_USER,
                                                     (CK_UTF8CHAR_PTR)kTestUserPin, 4));
    window_.ClickTokenRow(0);
    AddObjectRow(L"RSA Public key");
    AddObjectRow(L"Digital certificate");
    AddObjectRow(L"Digital certificate ");  // not exactly the certificate text
    const struct {
        int row;
        bool enabled;
    } clicks[] = {
        {1, true},    // a certificate row
        {0, false},   // a key, even with the user logged in
        {2, false},   // a near miss
        {1, true},
        {-1, false},  // nothing selected
    };
    for (const auto& c : clicks) {
        window_.ClickObjectRow(c.row);
        EXPECT_EQ(c.enabled, window_.ButtonEnabled(kExportButton)) << "row " << c.row;
    }
    // Selecting two rows: the first selected one decides.
    window_.ClickObjectRow(0);
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED;
    item.state = LVIS_SELECTED;
    SendMessageW(AppState.ObjectListView, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&item));
    EXPECT_FALSE(window_.ButtonEnabled(kExportButton));
    Cryptoki.FunctionList->C_Logout(SessionTable[0]);
}

TEST_F(SelectionTest, SerialEditOnlyOverTheSerialValue) {
    DoubleClickPanel(0, 1);  // "Slot ID:" value
    EXPECT_FALSE(SerialEdit());
    DoubleClickPanel(2, 0);  // "Serial:" label
    EXPECT_FALSE(SerialEdit());
    DoubleClickPanel(3, 1);  // "Model:" value
    EXPECT_FALSE(SerialEdit());

    DoubleClickPanel(2, 1);
    HWND edit = SerialEdit();
    ASSERT_TRUE(edit);
    wchar_t text[32] = {};
    GetWindowTextW(edit, text, ARRAYSIZE(text));
    EXPECT_STREQ(L"SERIAL-A", text);
    EXPECT_EQ(edit, GetFocus());
    EXPECT_TRUE(IsWindowVisible(edit));
    DWORD start = 99, end = 99;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(0u, start);
    EXPECT_EQ(8u, end) << "the whole number is selected for copying";

    // Typing changes nothing but the edit; losing the focus removes it.
    SetWindowTextW(edit, L"typed");
    SetFocus(AppState.TokenListView);
    window_.Pump();
    EXPECT_FALSE(IsWindow(edit));
    EXPECT_EQ(L"SERIAL-A", MainWindowFixture::CellText(AppState.TokenInfoView, 2, 1));

    // A close request removes it too, and a new one opens each time.
    DoubleClickPanel(2, 1);
    edit = SerialEdit();
    ASSERT_TRUE(edit);
    SendMessageW(edit, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(edit));
    EXPECT_FALSE(SerialEdit());
}

// Records the commands that reach the main window.
class CommandRecorder {
public:
    explicit CommandRecorder(HWND window) : window_(window) {
        instance_ = this;
        original_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Procedure)));
    }
    ~CommandRecorder() {
        SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
        instance_ = nullptr;
    }
    std::vector<int> commands;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_COMMAND)
            instance_->commands.push_back(LOWORD(wParam));
        return CallWindowProcW(instance_->original_, window, message, wParam, lParam);
    }
    static CommandRecorder* instance_;
    HWND window_;
    WNDPROC original_;
};
CommandRecorder* CommandRecorder::instance_ = nullptr;

struct MenuEntry {
    std::wstring text;
    UINT id = 0;
    bool enabled = false;
};

std::vector<MenuEntry> EntriesOf(HMENU menu) {
    std::vector<MenuEntry> entries;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[64] = {};
        MENUITEMINFOW info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_STRING | MIIM_ID | MIIM_STATE | MIIM_FTYPE;
        info.dwTypeData = text;
        info.cch = ARRAYSIZE(text);
        GetMenuItemInfoW(menu, i, TRUE, &info);
        if (info.fType & MFT_SEPARATOR)
            continue;
        entries.push_back({text, info.wID, (info.fState & MFS_GRAYED) == 0});
    }
    return entries;
}

TEST_F(SelectionTest, RightClickMenusFollowTheButtonStates) {
    const struct {
        const char* what;
        CK_STATE state;
        bool csr;
    } cases[] = {
        {"public", CKS_RW_PUBLIC_SESSION, true},
        {"user", CKS_RW_USER_FUNCTIONS, true},
        {"SO", CKS_RW_SO_FUNCTIONS, false},
    };
    for (const auto& c : cases) {
        UpdateButtonsForState(c.state);
        HMENU menu = CreateObjectListMenu();
        std::vector<MenuEntry> entries = EntriesOf(menu);
        DestroyMenu(menu);
        ASSERT_EQ(2u, entries.size());
        EXPECT_EQ(L"Generate CSR...", entries[0].text);
        EXPECT_EQ(108u, entries[0].id);
        EXPECT_EQ(c.csr, entries[0].enabled) << c.what;
        // No object row is selected: no object to name.
        EXPECT_EQ(L"Copy PKCS#11 URI", entries[1].text);
        EXPECT_EQ(302u, entries[1].id);
        EXPECT_FALSE(entries[1].enabled) << c.what;
    }
    // The default user PIN is reached from the menu in every session
    // state, whatever its button says (the button needs an SO login).
    window_.ClickTokenRow(0);
    UpdateButtonsForState(CKS_RW_USER_FUNCTIONS);
    ASSERT_FALSE(window_.ButtonEnabled(kDefaultUserPinButton));
    HMENU tokenMenu = CreateTokenListMenu();
    std::vector<MenuEntry> entries = EntriesOf(tokenMenu);
    DestroyMenu(tokenMenu);
    const std::vector<std::pair<std::wstring, UINT>> expected = {
        {L"User pincode policy...", 204u}, {L"Set default user pincode", 102u}, {L"Copy PKCS#11 URI", 301u}};
    ASSERT_EQ(expected.size(), entries.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(expected[i].first, entries[i].text);
        EXPECT_EQ(expected[i].second, entries[i].id);
        EXPECT_TRUE(entries[i].enabled) << i;
    }

    // With no token selected no entry can be chosen.
    window_.ClickTokenRow(-1);
    HMENU objectMenu = CreateObjectListMenu();
    tokenMenu = CreateTokenListMenu();
    EXPECT_FALSE(EntriesOf(objectMenu)[0].enabled);
    for (const MenuEntry& entry : EntriesOf(tokenMenu))
        EXPECT_FALSE(entry.enabled) << Narrow(entry.text);
    DestroyMenu(objectMenu);
    DestroyMenu(tokenMenu);
}

TEST_F(SelectionTest, SystemMenuEntriesSendTheCommands) {
    HMENU system = GetSystemMenu(window_.Window(), FALSE);
    SendMessageW(window_.Window(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(system), MAKELPARAM(0, TRUE));
    std::vector<MenuEntry> entries = EntriesOf(system);
    ASSERT_GE(entries.size(), 3u);
    const MenuEntry& csr = entries[entries.size() - 3];
    const MenuEntry& policy = entries[entries.size() - 2];
    const MenuEntry& defaultPin = entries.back();
    EXPECT_EQ(L"Generate CSR...", csr.text);
    EXPECT_TRUE(csr.enabled);
    EXPECT_EQ(L"User pincode policy...", policy.text);
    EXPECT_TRUE(policy.enabled);
    EXPECT_EQ(L"Set default user pincode", defaultPin.text);
    EXPECT_EQ(0x2020u, defaultPin.id);
    EXPECT_TRUE(defaultPin.enabled);

    CommandRecorder recorder(window_.Window());
    SendMessageW(window_.Window(), WM_SYSCOMMAND, csr.id, 0);
    SendMessageW(window_.Window(), WM_SYSCOMMAND, policy.id, 0);
    SendMessageW(window_.Window(), WM_SYSCOMMAND, defaultPin.id, 0);
    EXPECT_EQ((std::vector<int>{kGenerateCsrCommand, kPinPolicyCommand, kDefaultUserPinCommand}),
              recorder.commands);
}

TEST(SystemMenu, PolicyOnlyInAdministratorMode) {
    MainWindowFixture window;
    ASSERT_TRUE(window.AddToken(0, "Alpha", "1"));
    ASSERT_EQ(0, window.Start(false));
    HMENU system = GetSystemMenu(window.Window(), FALSE);
    std::vector<MenuEntry> entries = EntriesOf(system);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(L"Generate CSR...", entries.back().text);
    for (const MenuEntry& entry : entries) {
        EXPECT_NE(L"User pincode policy...", entry.text);
        EXPECT_NE(L"Set default user pincode", entry.text);
    }
    // Outside administrator mode the token list's menu only copies the URI.
    HMENU tokenMenu = CreateTokenListMenu();
    entries = EntriesOf(tokenMenu);
    DestroyMenu(tokenMenu);
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(L"Copy PKCS#11 URI", entries[0].text);
    EXPECT_EQ(static_cast<UINT>(kCopyTokenUriCommand), entries[0].id);
}

// The real menu, opened from the keyboard (Shift+F10 sends WM_CONTEXTMENU
// with the position -1, -1) and answered with the Enter key.
TEST_F(SelectionTest, KeyboardOpensTheObjectMenuAndItsEntrySendsTheCommand) {
    std::atomic<bool> sawMenu{false};
    std::atomic<bool> entryEnabled{false};
    std::thread user([&] {
        for (int i = 0; i < 500; ++i) {
            HWND menu = FindWindowW(L"#32768", nullptr);
            if (menu && IsWindowVisible(menu)) {
                sawMenu = true;
                HMENU handle = reinterpret_cast<HMENU>(SendMessageW(menu, MN_GETHMENU, 0, 0));
                entryEnabled = handle && (GetMenuState(handle, kGenerateCsrCommand, MF_BYCOMMAND) & MF_GRAYED) == 0;
                PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
                PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
                return;
            }
            Sleep(10);
        }
    });
    CommandRecorder recorder(window_.Window());
    SetFocus(AppState.ObjectListView);
    SendMessageW(window_.Window(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(AppState.ObjectListView),
                 MAKELPARAM(-1, -1));
    user.join();
    window_.Pump();
    EXPECT_TRUE(sawMenu);
    EXPECT_TRUE(entryEnabled);
    EXPECT_EQ(std::vector<int>{kGenerateCsrCommand}, recorder.commands);
}

}  // namespace
