// The "Import pfx properties" dialog, driven as a user would: password
// checks, the options at every OK, and what each import result shows.
#include "ImportWindowFixture.h"

#include "app/AppState.h"
#include "app/MainWindowHost.h"
#include "cryptoki/ErrorReport.h"
#include "import/PfxImportDialog.h"
#include "import/PfxImportState.h"
#include "resource.h"
#include "support/TestFiles.h"
#include "support/UiDriver.h"

namespace {

const wchar_t kDialogCaption[] = L"Import pfx properties";

void Check(HWND dialog, int box) {
    SendMessageW(GetDlgItem(dialog, box), BM_SETCHECK, BST_CHECKED, 0);
}

DialogStep DialogOk(const std::wstring& password, bool chain = false, bool extractable = false) {
    DialogStep step;
    step.caption = kDialogCaption;
    step.edits = {{IDC_PFX_PASSWORD, password}};
    step.inspect = [chain, extractable](HWND dialog) {
        if (chain)
            Check(dialog, IDC_PFX_IMPORT_CHAIN);
        if (extractable)
            Check(dialog, IDC_PFX_KEY_EXTRACTABLE);
    };
    step.button = IDOK;
    return step;
}

class PfxDialogTest : public ImportWindowTest {
protected:
    void SetUp() override {
        ImportWindowTest::SetUp();
        LoginUser();
    }

    // Opens the dialog on `path` as the import command does and runs the
    // steps; the dialog must have ended when this returns.
    std::vector<SeenWindow> RunDialog(const std::wstring& path, std::vector<DialogStep> steps) {
        PfxImportState = PfxImportStateRecord();
        wcsncpy(PfxImportState.PfxFilePath, path.c_str(), kPfxPathCapacity - 1);
        PfxImportState.DialogSlot = kImportSlot;
        UiDriver driver;
        for (DialogStep& step : steps)
            driver.Then(std::move(step));
        OpenPfxImportDialog(BindObjectCommand());
        std::string why;
        EXPECT_TRUE(driver.WaitDone(&why)) << why;
        EXPECT_TRUE(driver.Unexpected().empty()) << driver.Unexpected().size() << " unexpected windows";
        return driver.Seen();
    }
};

TEST_F(PfxDialogTest, ImportsWithTheOptionsOffAndRebuildsTheList) {
    AddMarkerRow();
    const std::vector<SeenWindow> seen = RunDialog(FixturePath(L"imp_modern.pfx"), {DialogOk(L"secret")});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].owner, AppState.MainWindow);
    ASSERT_TRUE(WaitForListing());
    EXPECT_EQ(ObjectRows(), 3) << "certificate, public key, private key; the marker row gone";
    ASSERT_EQ(Objects(CKO_PRIVATE_KEY).size(), 1u);
    EXPECT_FALSE(ReadFlag(Objects(CKO_PRIVATE_KEY)[0], CKA_EXTRACTABLE));
    for (wchar_t unit : PfxImportState.PfxPasswordBuffer)
        ASSERT_EQ(unit, L'\0') << "the password is wiped after the import";
}

TEST_F(PfxDialogTest, ShortPasswordIsRefusedBeforeTheFileIsOpened) {
    // A file that does not exist: opening it would show "PFX error".
    TempFolder folder;
    const std::vector<SeenWindow> seen = RunDialog(
        folder.File(L"absent.pfx"), {DialogOk(L"x"), Box(L"Invalid password"), DialogOk(L"", false, false),
                                     Box(L"Invalid password"), DialogStep{kDialogCaption, {}, nullptr, IDCANCEL}});
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[1].text, L"Please enter valid pfx password.\r\n");
    EXPECT_EQ(seen[1].owner, seen[0].window) << "the box belongs to the dialog";
    EXPECT_EQ(ObjectRows(), 0);
}

TEST_F(PfxDialogTest, WrongPasswordKeepsTheDialogAndTheOptionsFollowTheSecondOk) {
    DialogStep wrong = Box(L"Wrong password");
    wrong.inspect = [](HWND) {
        // The first OK, with both boxes clear, set both options off.
        EXPECT_FALSE(PfxImportState.PfxImportChain);
        EXPECT_FALSE(PfxImportState.PfxKeyExtractable);
    };
    const std::vector<SeenWindow> seen = RunDialog(
        FixturePath(L"imp_chain.pfx"), {DialogOk(L"not the password"), wrong, DialogOk(L"secret", true, true)});
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1].text, L"The specified pfx password is incorrect\r");
    EXPECT_EQ(seen[1].owner, nullptr);
    EXPECT_TRUE(PfxImportState.PfxImportChain);
    EXPECT_TRUE(PfxImportState.PfxKeyExtractable);
    ASSERT_TRUE(WaitForListing());
    EXPECT_EQ(Objects(CKO_CERTIFICATE).size(), 3u) << "chain certificates imported";
    ASSERT_EQ(Objects(CKO_PRIVATE_KEY).size(), 1u);
    EXPECT_TRUE(ReadFlag(Objects(CKO_PRIVATE_KEY)[0], CKA_EXTRACTABLE));
    EXPECT_EQ(ObjectRows(), 5);
}

TEST_F(PfxDialogTest, FailuresShowTheirMessageAndCloseTheDialog) {
    TempFolder folder;
    const struct {
        const char* what;
        std::wstring path;
        const char* fault;  // C_CreateObject call that fails, by number; null: none
        CK_ULONG nth;
        CK_RV rv;
        const wchar_t* caption;
        std::wstring text;
    } rows[] = {
        {"missing file", folder.File(L"absent.pfx"), nullptr, 0, 0, L"PFX error",
         L"An internal error occured. Can't open PFX file.\r"},
        {"not a PFX", FixturePath(L"cn_simple.der"), nullptr, 0, 0, L"PFX error", L"The pfx file is invalid.\r"},
        // Calls: certificate, public key, private key.
        {"token full at the private key", FixturePath(L"imp_modern.pfx"), "C_CreateObject", 3, CKR_DEVICE_MEMORY,
         L"Insufficient device memory",
         ComposeCkErrorW(CKR_DEVICE_MEMORY, L"Device memory is insufficient for importing pfx.\r")},
        {"other failure at the certificate", FixturePath(L"imp_modern.pfx"), "C_CreateObject", 1,
         CKR_TEMPLATE_INCONSISTENT, L"General error", ComposeCkErrorW(CKR_TEMPLATE_INCONSISTENT, L"")},
    };
    AddMarkerRow();
    for (const auto& row : rows) {
        if (row.fault)
            TokenStore::Control().SetFault(row.fault, row.nth, row.rv);
        const std::vector<SeenWindow> seen = RunDialog(row.path, {DialogOk(L"secret"), Box(row.caption)});
        TokenStore::Control().ClearFaults();
        ASSERT_EQ(seen.size(), 2u) << row.what;
        EXPECT_EQ(seen[1].text, row.text) << row.what;
        EXPECT_EQ(seen[1].owner, nullptr) << row.what;
    }
    EXPECT_EQ(ObjectRows(), 1) << "no listing after a failure";
    // The full token kept the certificate and the public key.
    EXPECT_EQ(Objects(CKO_CERTIFICATE).size(), 1u);
    EXPECT_EQ(Objects(CKO_PUBLIC_KEY).size(), 1u);
    EXPECT_EQ(Objects(CKO_PRIVATE_KEY).size(), 0u);
}

TEST_F(PfxDialogTest, CancelAndCloseImportNothing) {
    DialogStep close;
    close.caption = kDialogCaption;
    close.inspect = [](HWND dialog) { PostMessageW(dialog, WM_CLOSE, 0, 0); };
    close.button = 0;
    RunDialog(FixturePath(L"imp_modern.pfx"), {close});
    DialogStep cancel{kDialogCaption, {{IDC_PFX_PASSWORD, L"secret"}}, nullptr, IDCANCEL};
    RunDialog(FixturePath(L"imp_modern.pfx"), {cancel});
    EXPECT_EQ(Objects(CKO_CERTIFICATE).size(), 0u);
    EXPECT_FALSE(AppState.Busy);
}

}  // namespace
