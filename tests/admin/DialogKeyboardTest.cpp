// The dialogs from the keyboard: each opens with the focus in its first
// edit, Escape closes it without changing the token, and Enter in the login
// dialog's edit logs in, as the OK button would.
#include "AdminFixture.h"

#include "res/resource.h"

namespace {

// Sends `key` to the control that has the focus on the dialog's thread, as
// the keyboard would; the dialog's own loop turns Enter and Escape into its
// OK and Cancel commands.
void PressKey(HWND dialog, WPARAM key) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
    HWND target = info.hwndFocus ? info.hwndFocus : dialog;
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

struct DialogCase {
    int command;
    const wchar_t* caption;
    int firstEdit;  // the control that has the focus when the dialog opens
    bool warningFirst;  // "Clear token" asks before its dialog opens
};

const DialogCase kDialogs[] = {
    {kLoginCommand, L"Login to token", IDC_LOGIN_PIN, false},
    {kChangePinCommand, L"Change pincode", IDC_CHANGE_OLD_PIN, false},
    {kClearTokenCommand, L"Clear token", IDC_CLEAR_SO_PIN, true},
    {kUnblockPinCommand, L"Unblock user pincode", IDC_UNBLOCK_SO_PIN, false},
    {kChangeSoPinCommand, L"Change SO pincode", IDC_SOPIN_OLD, false},
    {kPinPolicyCommand, L"Set user pincode policy", IDC_POLICY_MIN_LENGTH, false},  // its fields come first
};

class DialogKeyboardTest : public AdminTest {
protected:
    void SetUp() override {
        AddToken(kTokenSlot);
        Start(true);
    }
};

TEST_F(DialogKeyboardTest, EscapeClosesEveryDialogAndChangesNothing) {
    for (const DialogCase& c : kDialogs) {
        const CK_FLAGS flagsBefore = TokenFlags();
        int focused = -1;
        if (c.warningFirst)
            ui_.Then(Step(L"", {}, IDYES));
        ui_.Then(Step(c.caption, {}, 0, [&](HWND dialog) {
            focused = FocusedControlId(dialog);
            PressKey(dialog, VK_ESCAPE);
        }));
        Run(c.command);
        EXPECT_EQ(focused, c.firstEdit) << c.caption;
        EXPECT_EQ(SessionState(), static_cast<CK_STATE>(CKS_RW_PUBLIC_SESSION)) << c.caption;
        EXPECT_EQ(TokenFlags(), flagsBefore) << c.caption;
        EXPECT_EQ(RowName(kTokenSlot), L"Token 0") << c.caption;
    }
}

TEST_F(DialogKeyboardTest, EnterInTheLoginDialogLogsIn) {
    ui_.Then(Step(L"Login to token", {{IDC_LOGIN_PIN, L"1234"}}, 0, [](HWND dialog) { PressKey(dialog, VK_RETURN); }));
    Run(kLoginCommand);
    EXPECT_EQ(SessionState(), static_cast<CK_STATE>(CKS_RW_USER_FUNCTIONS));
    EXPECT_EQ(LoginCaption(), L"Log out");
}

}  // namespace
