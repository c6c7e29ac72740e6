// The commands of the right-click menus, chosen in the real menus: the
// default user PIN in administrator mode and the token's PKCS#11 URI.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/TokenPanel.h"
#include "cryptoki/ModuleLoader.h"
#include "objects/Pkcs11UriCommand.h"
#include "support/MainWindowFixture.h"
#include "support/ClipboardText.h"
#include "support/UiDriver.h"

namespace {


// Opens the right-click menu of `list` as Shift+F10 does and picks its
// `downs`-th entry with the arrow keys and Enter, as a user would.
void ChooseFromMenu(MainWindowFixture& window, HWND list, int downs) {
    std::atomic<bool> sawMenu{false};
    std::thread user([&] {
        for (int i = 0; i < 500 && !sawMenu; ++i) {
            HWND menu = FindWindowW(L"#32768", nullptr);
            if (menu && IsWindowVisible(menu)) {
                sawMenu = true;
                for (int d = 0; d < downs; ++d)
                    PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
                PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
            }
            Sleep(10);  // the menu runs in the window thread's own loop: looked for, not waited on
        }
    });
    SetFocus(list);
    SendMessageW(window.Window(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), MAKELPARAM(-1, -1));
    user.join();
    window.Pump();
    EXPECT_TRUE(sawMenu);
}

// A token without user PIN gets the default one from the token list's
// menu, with the button still disabled (nobody is logged in as SO).
TEST(MenuCommands, DefaultUserPinFromTheTokenListMenu) {
    MainWindowFixture window;
    ASSERT_TRUE(window.AddToken(0, "Fresh", "F1", nullptr));
    ASSERT_EQ(0, window.Start(true));
    ASSERT_FALSE(window.ButtonEnabled(kDefaultUserPinButton));
    UiDriver ui;
    ui.Press(IDOK);
    ChooseFromMenu(window, AppState.TokenListView, 2);  // policy, then the default PIN
    std::string why;
    ASSERT_TRUE(ui.WaitDone(&why)) << why;
    ASSERT_EQ(1u, ui.Seen().size());
    EXPECT_EQ(L"Successful set pin", ui.Seen()[0].caption);
    EXPECT_EQ(L"User pincode is set to 4826", ui.Seen()[0].text);
    CK_TOKEN_INFO info = {};
    ASSERT_EQ(CKR_OK, Cryptoki.FunctionList->C_GetTokenInfo(0, &info));
    EXPECT_TRUE(info.flags & CKF_USER_PIN_INITIALIZED);
    EXPECT_FALSE(window.ButtonEnabled(kDefaultUserPinButton)) << "the button keeps its rule";
}

TEST(MenuCommands, TokenUriOfTheSelectedTokenGoesToTheClipboard) {
    MainWindowFixture window;
    ASSERT_TRUE(window.AddToken(0, "Alpha key", "SERIAL-A"));
    ASSERT_TRUE(window.AddToken(2, "Beta/\xC3\xA9", "SERIAL-B"));
    ASSERT_EQ(0, window.Start());
    ASSERT_TRUE(PutTextOnClipboard(window.Window(), L"before"));
    ChooseFromMenu(window, AppState.TokenListView, 1);
    EXPECT_EQ(L"pkcs11:token=Alpha%20key;manufacturer=Tolvane;model=SoftToken;serial=SERIAL-A", ClipboardText());

    window.ClickTokenRow(2);
    window.Click(kCopyTokenUriCommand);
    EXPECT_EQ(L"pkcs11:token=Beta%2F%C3%A9;manufacturer=Tolvane;model=SoftToken;serial=SERIAL-B", ClipboardText());

    // Without a token nothing is copied.
    window.ClickTokenRow(-1);
    window.Click(kCopyTokenUriCommand);
    EXPECT_EQ(L"pkcs11:token=Beta%2F%C3%A9;manufacturer=Tolvane;model=SoftToken;serial=SERIAL-B", ClipboardText());
}

}  // namespace
