// The main window from the keyboard alone: Tab order, Enter on a button,
// Delete on the object list, Escape in the serial-number edit. Keys are
// posted to the focused control and go through the window's key handling
// as the program's message loop gives it.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/TokenPanel.h"
#include "cryptoki/ModuleLoader.h"
#include "support/MainWindowFixture.h"
#include "support/UiDriver.h"

namespace {

class KeyboardTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(window_.AddToken(0, "Alpha", "SERIAL-A"));
        ASSERT_EQ(0, window_.Start(false));
        SetForegroundWindow(window_.Window());
        SetFocus(AppState.TokenListView);
        window_.Pump();
    }

    void Key(WPARAM key) {
        HWND focus = GetFocus();
        PostMessageW(focus, WM_KEYDOWN, key, 1);
        PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
        window_.Pump();
    }

    void ShiftTab() {
        BYTE keys[256] = {};
        GetKeyboardState(keys);
        keys[VK_SHIFT] = 0x80;
        SetKeyboardState(keys);
        Key(VK_TAB);
        keys[VK_SHIFT] = 0;
        SetKeyboardState(keys);
    }

    int FocusId() { return GetDlgCtrlID(GetFocus()); }

    MainWindowFixture window_;
};

// Tab visits the lists and the enabled buttons in creation order, and
// Shift+Tab goes back.
TEST_F(KeyboardTest, TabMovesThroughListsAndEnabledButtons) {
    ASSERT_EQ(FocusId(), kTokenListId);
    std::vector<int> visited;
    for (int i = 0; i < 10 && (visited.empty() || visited.back() != kTokenListId); ++i) {
        Key(VK_TAB);
        visited.push_back(FocusId());
    }
    // Logged out: "Set default user pincode", "Delete" and "Export
    // certificate" are disabled; group boxes are no stops.
    const std::vector<int> expected = {kTokenInfoId, kObjectListId, kLoginCommand, kChangePinCommand, kDisplayObjectsCommand,
                                       kImportCommand, kTokenListId};
    EXPECT_EQ(visited, expected);
    ShiftTab();
    EXPECT_EQ(FocusId(), kImportCommand);
}

// Enter presses the focused button: "Display objects" lists the token's
// objects (after the public-objects warning).
TEST_F(KeyboardTest, EnterPressesTheFocusedButton) {
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_ATTRIBUTE data[] = {{CKA_CLASS, &dataClass, sizeof dataClass}};
    const CK_ATTRIBUTE* templates[] = {data};
    const CK_ULONG counts[] = {1};
    ASSERT_EQ(TokenStore::Control().AddObjects(0, templates, counts, 1), CKR_OK);
    SetFocus(AppState.MainButtons[kDisplayObjectsButton]);
    UiDriver driver;
    driver.Fill(L"User not logged in", {}, IDOK);
    Key(VK_RETURN);
    std::string why;
    ASSERT_TRUE(driver.WaitDone(&why)) << why;
    ASSERT_TRUE(window_.PumpUntil([] { return !AppState.Busy && MainWindowFixture::RowCount(AppState.ObjectListView) == 1; }));
}

// Delete on the object list asks, as the "Delete" button does, whether to
// remove the selected objects; logged out (button disabled) it does nothing.
TEST_F(KeyboardTest, DeleteKeyFollowsTheDeleteButton) {
    MainWindowFixture::AddRow(AppState.ObjectListView, {L"1", L"Data", L"N/A"});
    window_.ClickObjectRow(0);
    SetFocus(AppState.ObjectListView);
    {
        UiDriver driver;
        Key(VK_DELETE);
        EXPECT_TRUE(driver.Seen().empty() && driver.Unexpected().empty()) << "the button is disabled";
    }
    ASSERT_EQ(CKR_OK, Cryptoki.FunctionList->C_Login(SessionTable[0], CKU_USER,
                                                     (CK_UTF8CHAR_PTR)kTestUserPin, 4));
    UpdateButtonsForState(CKS_RW_USER_FUNCTIONS);
    ASSERT_TRUE(IsWindowEnabled(AppState.MainButtons[kDeleteButton]));
    UiDriver driver;
    driver.Fill(L"Remove object", {}, IDNO);
    SetFocus(AppState.ObjectListView);
    Key(VK_DELETE);
    std::string why;
    ASSERT_TRUE(driver.WaitDone(&why)) << why;
    EXPECT_EQ(driver.Seen()[0].text, L"Do you want to remove selected objects?\n\r");
    EXPECT_EQ(MainWindowFixture::RowCount(AppState.ObjectListView), 1) << "No removes nothing";
}

// Escape leaves the serial-number edit; the typed text goes with it.
TEST_F(KeyboardTest, EscapeClosesTheSerialEdit) {
    RECT rect = {};
    rect.top = 1;
    rect.left = LVIR_LABEL;
    SendMessageW(AppState.TokenInfoView, LVM_GETSUBITEMRECT, 2, reinterpret_cast<LPARAM>(&rect));
    const LPARAM point = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    SendMessageW(AppState.TokenInfoView, WM_LBUTTONDBLCLK, MK_LBUTTON, point);
    window_.Pump();
    HWND edit = GetDlgItem(AppState.TokenInfoView, kSerialEditId);
    ASSERT_NE(edit, nullptr);
    ASSERT_EQ(GetFocus(), edit);
    Key(VK_ESCAPE);
    EXPECT_FALSE(IsWindow(edit));
    EXPECT_TRUE(IsWindow(window_.Window())) << "Escape never closes the main window";
    EXPECT_EQ(GetFocus(), AppState.TokenListView);
}

}  // namespace
