// One user's session through the main window, with the inputs that once
// hurt: a PIN typed on a Cyrillic keyboard, a certificate named in 34 CJK
// characters, and another program making a key container while a PFX file
// is imported.
#include "ImportWindowFixture.h"

#include <set>
#include <string>
#include <thread>

#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/TokenPanel.h"
#include "cryptoki/ModuleLoader.h"
#include "res/resource.h"
#include "support/CallCounter.h"
#include "support/KeyContainers.h"
#include "support/TestFiles.h"
#include "support/UiDriver.h"

namespace {

constexpr int kLabelColumn = 4;
const wchar_t kLoginDialog[] = L"Login to token";
const CK_FLAGS kTryFlags = CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED;

std::wstring Repeat(const std::wstring& piece, int times) {
    std::wstring text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

class HostileInputStoryTest : public ImportWindowTest {
protected:
    CK_FLAGS TokenFlags() {
        CK_TOKEN_INFO info = {};
        EXPECT_EQ(CKR_OK, Cryptoki.FunctionList->C_GetTokenInfo(kImportSlot, &info));
        return info.flags;
    }

    std::wstring Label(int row) { return MainWindowFixture::CellText(AppState.ObjectListView, row, kLabelColumn); }
};

TEST_F(HostileInputStoryTest, CyrillicPinLongCjkNameAndAContainerMadeDuringAnImport) {
    CallCounter counter;  // over the function list that start-up installed
    // The PIN with "Ж" is refused before C_Login; the right PIN then logs in.
    long loginsAtRefusal = -1;
    CK_FLAGS flagsAtRefusal = ~CK_FLAGS(0);
    {
        UiDriver driver;
        DialogStep retry;
        retry.caption = kLoginDialog;
        retry.edits = {{IDC_LOGIN_PIN, L"1234"}};
        retry.inspect = [&](HWND) {
            loginsAtRefusal = counter.Count("C_Login");
            flagsAtRefusal = TokenFlags();
        };
        driver.Fill(kLoginDialog, {{IDC_LOGIN_PIN, L"12\u0416456"}}).Press(IDOK).Then(retry);
        window_.Click(kLoginCommand);
        std::string why;
        ASSERT_TRUE(driver.WaitDone(&why)) << why;
        ASSERT_EQ(3u, driver.Seen().size());
        EXPECT_EQ(L"Invalid pincode", driver.Seen()[1].caption);
        EXPECT_EQ(driver.Seen()[0].window, driver.Seen()[1].owner) << "the dialog stayed open under its box";
    }
    EXPECT_EQ(0, loginsAtRefusal) << "the refused PIN reached C_Login";
    EXPECT_EQ(0u, flagsAtRefusal & kTryFlags) << "a login try was used";
    EXPECT_EQ(1, counter.Count("C_Login"));
    EXPECT_EQ(L"Log out", window_.ButtonCaption(kLoginButton));

    // A certificate whose common name is 34 CJK characters (102 bytes of
    // label), then one after it: the listing shows both, the label whole.
    RunImportCommand(FixturePath(L"imp_cn_cjk.pem"));
    ASSERT_TRUE(WaitForListing());
    RunImportCommand(FixturePath(L"cn_simple.pem"));
    ASSERT_TRUE(WaitForListing());
    ASSERT_EQ(2, ObjectRows());
    EXPECT_EQ(Repeat(L"\u6F22\u5B57", 17), Label(0));
    EXPECT_EQ(L"Alice Example", Label(1));

    // A PFX import held at its first object; meanwhile another program makes
    // a key container. Afterwards that one is there, the import's is gone.
    const std::set<std::string> before = KeyContainerNames();
    std::string other;
    bool importContainerSeen = false;
    counter.HoldAt("C_CreateObject", 1);
    std::thread otherProgram([&] {
        counter.WaitHeld(20000);
        importContainerSeen = KeyContainerNames() != before;
        other = MakeKeyContainer("Another program's keys");
        counter.Release();
    });
    DialogStep password;
    password.caption = L"Import pfx properties";
    password.edits = {{IDC_PFX_PASSWORD, L"secret"}};
    RunImportCommand(FixturePath(L"imp_modern.pfx"), {password});
    otherProgram.join();
    ASSERT_TRUE(WaitForListing());
    EXPECT_TRUE(importContainerSeen) << "the import's own container existed while it ran";
    ASSERT_FALSE(other.empty());
    std::set<std::string> expected = before;
    expected.insert(other);
    EXPECT_EQ(expected, KeyContainerNames());
    DeleteKeyContainer(other);
    // Certificate, public and private key after the two certificates.
    EXPECT_EQ(5, ObjectRows());
    EXPECT_EQ(Repeat(L"\u6F22\u5B57", 17), Label(0));
}

}  // namespace
