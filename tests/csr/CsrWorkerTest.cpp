// "Generate CSR" through the worker, with the build's vexpke.dll on the
// software token: CSRs saved for a token key and for a new key pair, and
// what a failing CSR call, a cancelled or failing save and a failing
// library load leave behind. The openssl step after this executable checks
// the CSRs left in the verified folder (csr_openssl_verify).
#include <cstdio>
#include <cstring>

#include "CsrFixture.h"
#include "PkeControl.h"
#include "app/AppState.h"
#include "csr/CsrDialog.h"
#include "csr/CsrRequest.h"
#include "csr/PkeLibrary.h"
#include "res/resource.h"
#include "support/TestFiles.h"

namespace {

const wchar_t kErrorCaption[] = L"CSR Generation Error";
const wchar_t kCsrErrorCaption[] = L"CSR Generation error";  // the CSR call's own failures

// Every control the user can change.
const int kInputControls[] = {
    IDC_CSR_COUNTRY,   IDC_CSR_COMMON_NAME,       IDC_CSR_ORGANIZATION,    IDC_CSR_ORGANIZATION_UNIT,
    IDC_CSR_SERIAL_NUMBER, IDC_CSR_GIVEN_NAME,    IDC_CSR_SURNAME,         IDC_CSR_EMAIL,
    IDC_CSR_UPN,       IDC_CSR_URI,               IDC_CSR_DNS_NAME,        IDC_CSR_PIN,
    IDOK,              IDCANCEL,                  IDC_CSR_KEY_LENGTH,      IDC_CSR_DIGITAL_SIGNATURE,
    IDC_CSR_NON_REPUDIATION, IDC_CSR_KEY_ENCIPHERMENT, IDC_CSR_CRL_SIGNING, IDC_CSR_OFFLINE_CRL_SIGNING,
    IDC_CSR_CLIENT_AUTH, IDC_CSR_SERVER_AUTH,     IDC_CSR_OCSP_SIGNING,    IDC_CSR_TIME_STAMP,
};

const std::vector<int> kAllUsageBoxes = {IDC_CSR_DIGITAL_SIGNATURE, IDC_CSR_NON_REPUDIATION,
                                         IDC_CSR_KEY_ENCIPHERMENT,  IDC_CSR_CRL_SIGNING,
                                         IDC_CSR_CLIENT_AUTH,       IDC_CSR_SERVER_AUTH};

bool AllInputsEnabled(HWND dialog) {
    for (int id : kInputControls)
        if (!DialogEnabled(dialog, id))
            return false;
    return true;
}

LRESULT CursorAnswer(HWND window) {
    return SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
}

class CsrWorkerTest : public CsrTest {
protected:
    // The token is left as it was found: logged out, and shown so.
    void ExpectLoggedOut() {
        EXPECT_EQ(SessionState(), CKS_RW_PUBLIC_SESSION);
        EXPECT_EQ(Narrow(RowStatus()), "Not logged in");
        EXPECT_EQ(Narrow(LoginCaption()), "Login");
    }

    // A run is over: the library unloaded, no wait cursor.
    void ExpectRunOver() {
        EXPECT_EQ(pkeLibraryHandle(), nullptr);
        EXPECT_EQ(GetModuleHandleW(L"vexpke.dll"), nullptr);
        EXPECT_FALSE(AppState.Busy);
    }

    // Lines the openssl step must find in the text form of CSR `name`.
    void ExpectInCsrText(const std::wstring& name, const std::string& lines) {
        ASSERT_TRUE(WriteFileBytes(VerifiedCsrFolder() + L"\\" + name + L".expect",
                                   std::vector<unsigned char>(lines.begin(), lines.end())));
    }
};

TEST_F(CsrWorkerTest, CsrForTheSelectedKeyIsSavedAsTheLibraryWroteIt) {
    AddKeyAndCertificate();
    window_.ClickObjectRow(ObjectRow(L"RSA private key"));
    window_.ClickTokenRow(kCsrSlot);
    const std::wstring path = VerifiedCsrFolder() + L"\\selected_key.pem";
    DeleteFileW(path.c_str());
    UiDriver driver;
    driver.Then(CsrDialog({{IDC_CSR_COMMON_NAME, L"J\x00F6rg \x00DCnal"},
                           {IDC_CSR_ORGANIZATION, L"Tolvane Test"},
                           {IDC_CSR_EMAIL, L"jorg@example.com"},
                           {IDC_CSR_DNS_NAME, L"host.example.com"},
                           {IDC_CSR_PIN, L"1234"}},
                          kAllUsageBoxes))
        .Then(SaveAs(path));
    RunCsr(driver);

    EXPECT_EQ(PkeControl::LastArguments("exGenCSR"),
              "0AFF|2048|digitalSignature, nonRepudiation, keyEncipherment, cRLSign|serverAuth, clientAuth");
    EXPECT_STREQ(CsrRequest.keyIdText, "0AFF");
    EXPECT_STREQ(CsrRequest.keyUsageText, "digitalSignature, nonRepudiation, keyEncipherment, cRLSign");
    EXPECT_STREQ(CsrRequest.extKeyUsageText, "serverAuth, clientAuth");
    EXPECT_STREQ(CsrRequest.subjectFields[0], "");  // Country left empty
    EXPECT_STREQ(CsrRequest.subjectFields[1], "J\xC3\xB6rg \xC3\x9Cnal");
    EXPECT_STREQ(CsrRequest.subjectFields[6], "jorg@example.com");
    EXPECT_STREQ(CsrRequest.altNameFields[0], "host.example.com");
    ExpectLoggedOut();
    ExpectRunOver();
    const std::string saved = ReadText(path);
    EXPECT_EQ(saved.rfind("-----BEGIN CERTIFICATE REQUEST-----", 0), 0u) << saved;
    EXPECT_EQ(saved, RegeneratedCsr()) << "the file holds the library's text, byte for byte";
    ExpectInCsrText(L"selected_key", KeyModulusLine() +
                                         "\nCN=J\xC3\xB6rg \xC3\x9Cnal\n"
                                         "Digital Signature, Non Repudiation, Key Encipherment, CRL Sign\n"
                                         "TLS Web Server Authentication, TLS Web Client Authentication\n"
                                         "DNS:host.example.com\n");
}

TEST_F(CsrWorkerTest, CsrForANewKeyPairWithACertificateRowSelected) {
    AddKeyAndCertificate();
    window_.ClickObjectRow(ObjectRow(L"Digital certificate"));
    const std::wstring path = VerifiedCsrFolder() + L"\\new_key";  // the save dialog adds ".pem"
    DeleteFileW((path + L".pem").c_str());
    UiDriver driver;
    driver.Then(CsrDialog({{IDC_CSR_COMMON_NAME, L"New key"}, {IDC_CSR_PIN, L"1234"}}, {}, IDOK,
                          [](HWND dialog) { SendDlgItemMessageW(dialog, IDC_CSR_KEY_LENGTH, CB_SETCURSEL, 1, 0); }))
        .Then(SaveAs(path));
    RunCsr(driver);

    EXPECT_EQ(ReadText(path + L".pem").rfind("-----BEGIN CERTIFICATE REQUEST-----", 0), 0u);
    EXPECT_EQ(PkeControl::LastArguments("exGenCSR"), "|2048||");
    EXPECT_EQ(CsrRequest.keyBits, 2048);
    EXPECT_STREQ(CsrRequest.keyUsageText, "");
    EXPECT_STREQ(CsrRequest.extKeyUsageText, "");
    ExpectLoggedOut();
    ExpectRunOver();
    ListObjects();
    int privateKeys = 0;
    for (int row = 0; row < MainWindowFixture::RowCount(AppState.ObjectListView); ++row)
        privateKeys += MainWindowFixture::CellText(AppState.ObjectListView, row, 1) == L"RSA private key";
    EXPECT_EQ(privateKeys, 2) << "the library made a key pair on the token";
    ExpectInCsrText(L"new_key", "Public-Key: (2048 bit)\nCN=New key\n");
}

// The CSR call fails: its text under the lower-case caption, the dialog
// back for editing, the library unloaded, the token logged out, so that
// the next press succeeds.
TEST_F(CsrWorkerTest, FailingCsrCallGivesTheDialogBack) {
    PkeControl::Answer("exGenCSR", 1, 160);
    bool closedWhileRunning = true;
    bool editable = false;
    std::wstring waitLabel = L"?";
    HMODULE library = reinterpret_cast<HMODULE>(1);
    const std::wstring path = files_.File(L"retry.pem");
    UiDriver driver;
    driver.Then(CsrDialog({{IDC_CSR_PIN, L"1234"}}))
        .Then(Box(kCsrErrorCaption, [&](HWND) {
            // The worker is still running: the caption's close box is refused.
            SendMessageW(CsrRequest.dialogWindow, WM_CLOSE, 0, 0);
            closedWhileRunning = !IsWindowVisible(CsrRequest.dialogWindow);
        }))
        .Then(CsrDialog({}, {}, IDOK, [&](HWND dialog) {
            editable = WaitFor([&] { return AllInputsEnabled(dialog); });
            waitLabel = DialogText(dialog, kCsrWaitLabelId);
            WaitFor([] { return pkeLibraryHandle() == nullptr; });
            library = pkeLibraryHandle();
        }))
        .Then(SaveAs(path));
    RunCsr(driver);

    const auto seen = driver.Seen();
    ASSERT_EQ(seen.size(), 4u);
    ExpectBox(seen[1], kCsrErrorCaption, L"PIN_INCORRECT: The specified PIN is incorrect.");
    EXPECT_FALSE(closedWhileRunning);
    EXPECT_TRUE(editable);
    EXPECT_EQ(Narrow(waitLabel), "");
    EXPECT_EQ(library, nullptr);
    EXPECT_EQ(ReadText(path).rfind("-----BEGIN CERTIFICATE REQUEST-----", 0), 0u) << "the retry logged in again and saved";
    EXPECT_EQ(PkeControl::Calls("login"), 2);
    ExpectLoggedOut();
    ExpectRunOver();
}

TEST_F(CsrWorkerTest, CancelledSaveWritesNothingAndSaysNothing) {
    DialogStep cancel = SaveAs(files_.File(L"never.pem"));
    cancel.button = IDCANCEL;
    UiDriver driver;
    driver.Then(CsrDialog({{IDC_CSR_PIN, L"1234"}})).Then(cancel);
    RunCsr(driver);
    EXPECT_EQ(driver.Seen().size(), 2u);
    EXPECT_FALSE(FileExists(files_.File(L"never.pem")));
    ExpectLoggedOut();
    ExpectRunOver();
}

// Replacing a file that cannot be replaced fails as a whole: the old file
// keeps its content and no partial file is left beside it.
TEST_F(CsrWorkerTest, FailedSaveLeavesNoPartialFile) {
    const std::wstring path = files_.File(L"locked.pem");
    const std::string old = "old content";
    ASSERT_TRUE(WriteFileBytes(path, std::vector<unsigned char>(old.begin(), old.end())));
    // Held open without sharing, as another program may hold it: replacing
    // it fails on Windows and under Wine alike (Wine replaces read-only files).
    HANDLE lock = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    DialogStep replace;
    // The save dialog asks whether to replace the file; its caption is the
    // platform's ("Error" under Wine, "Confirm Save As" on Windows).
    replace.caption = L"";
    replace.button = IDYES;
    UiDriver driver;
    driver.Then(CsrDialog({{IDC_CSR_PIN, L"1234"}})).Then(SaveAs(path)).Then(replace).Then(Box(L"CSR saving error"));
    RunCsr(driver);
    CloseHandle(lock);

    const auto seen = driver.Seen();
    ASSERT_EQ(seen.size(), 4u);
    ExpectBox(seen[3], L"CSR saving error", L"saving CSR to the file failed");
    EXPECT_EQ(ReadText(path), old);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(files_.File(L"*").c_str(), &found);
    int files = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do
            files += !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        while (FindNextFileW(search, &found));
        FindClose(search);
    }
    EXPECT_EQ(files, 1);
    ExpectLoggedOut();
}

// The worker's own load of the library fails after the dialog logged in:
// its message, the dialog ended, and no wait cursor anywhere afterwards.
TEST_F(CsrWorkerTest, WorkerLoadFailureEndsTheDialogWithoutWaitCursor) {
    PkeControl::Answer("setCryptoki", 2, 6);  // the dialog's call passes, the worker's fails
    LRESULT cursorWhileShown = 0;
    UiDriver driver;
    driver.Then(CsrDialog({{IDC_CSR_PIN, L"1234"}}))
        .Then(Box(kErrorCaption, [&](HWND) { cursorWhileShown = CursorAnswer(CsrRequest.dialogWindow); }));
    RunCsr(driver);
    const auto seen = driver.Seen();
    ASSERT_EQ(seen.size(), 2u);
    ExpectBox(seen[1], kErrorCaption, L"An error occured");
    EXPECT_EQ(cursorWhileShown, TRUE) << "the wait cursor shows while the worker runs";
    EXPECT_FALSE(AppState.Busy);
    EXPECT_EQ(CursorAnswer(window_.Window()), DefWindowProcW(window_.Window(), WM_SETCURSOR,
                                                             reinterpret_cast<WPARAM>(window_.Window()),
                                                             MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
    ExpectLoggedOut();

    LRESULT laterDialogCursor = TRUE;
    UiDriver later;
    later.Then(CsrDialog({}, {}, IDCANCEL, [&](HWND dialog) { laterDialogCursor = CursorAnswer(dialog); }));
    RunCsr(later);
    EXPECT_EQ(laterDialogCursor, FALSE);
}

}  // namespace
