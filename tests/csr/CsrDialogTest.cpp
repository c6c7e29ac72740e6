// "Generate CSR" before the worker: the key shown and passed, the PIN
// check, the login through the library and its refusals, and what the
// request holds for the library.
#include <cstring>
#include <optional>

#include "CsrFixture.h"
#include "PkeControl.h"
#include "app/AppState.h"
#include "csr/CsrDialog.h"
#include "csr/CsrRequest.h"
#include "csr/PkeLibrary.h"
#include "app/MainWindowHost.h"
#include "res/resource.h"
#include "support/FailingAllocation.h"
#include "support/TokenStore.h"

namespace {

const wchar_t kErrorCaption[] = L"CSR Generation Error";
const wchar_t kNewKeyText[] = L"No Key ID is selected. An RSA key pair will be generated.";

TEST_F(CsrTest, WithoutSelectedTokenOnlyTheWarningShows) {
    window_.ClickTokenRow(-1);
    UiDriver driver;
    driver.Then(Box(L"Warning"));
    RunCsr(driver);
    const auto seen = driver.Seen();
    ASSERT_EQ(seen.size(), 1u);
    ExpectBox(seen[0], L"Warning", L"No token is selected. Please select a token first");
    EXPECT_EQ(pkeLibraryHandle(), nullptr);
}

TEST_F(CsrTest, PrivateKeyRowShowsItsIdAndDisablesTheKeyLength) {
    AddKeyAndCertificate();
    const int row = ObjectRow(L"RSA private key");
    ASSERT_GE(row, 0);
    window_.ClickObjectRow(row);
    std::wstring label;
    bool keyLengthEnabled = true;
    UiDriver driver;
    driver.Then(CsrDialog({}, {}, IDCANCEL, [&](HWND dialog) {
        label = DialogText(dialog, kCsrKeyIdLabelId);
        keyLengthEnabled = DialogEnabled(dialog, IDC_CSR_KEY_LENGTH);
    }));
    RunCsr(driver);
    EXPECT_EQ(Narrow(label), "0AFF");
    EXPECT_FALSE(keyLengthEnabled);
    EXPECT_STREQ(CsrRequest.keyIdText, "0AFF");
}

// Rows without a key ID ask for a new key pair.
TEST_F(CsrTest, RowsWithoutKeyIdAskForANewKeyPair) {
    AddKeyAndCertificate();
    for (int row : {ObjectRow(L"Digital certificate"), -1}) {  // a certificate row; no row at all
        window_.ClickObjectRow(row);
        std::wstring label;
        bool keyLengthEnabled = false;
        UiDriver driver;
        driver.Then(CsrDialog({}, {}, IDCANCEL, [&](HWND dialog) {
            label = DialogText(dialog, kCsrKeyIdLabelId);
            keyLengthEnabled = DialogEnabled(dialog, IDC_CSR_KEY_LENGTH);
        }));
        RunCsr(driver);
        EXPECT_EQ(Narrow(label), Narrow(kNewKeyText)) << "row " << row;
        EXPECT_TRUE(keyLengthEnabled) << "row " << row;
        EXPECT_STREQ(CsrRequest.keyIdText, "") << "row " << row;
    }
}

TEST_F(CsrTest, TwoCharacterPinIsRefusedThreeReachLogin) {
    UiDriver driver;
    driver.Then(CsrDialog({{IDC_CSR_PIN, L"12"}}))
        .Then(Box(L"Token pincode invalid"))
        .Then(CsrDialog({{IDC_CSR_PIN, L"123"}}))  // not the token's PIN: the library's login refuses it
        .Then(Box(kErrorCaption))
        .Then(CsrDialog({}, {}, IDCANCEL));
    RunCsr(driver);
    const auto seen = driver.Seen();
    ASSERT_EQ(seen.size(), 5u);
    ExpectBox(seen[1], L"Token pincode invalid", L"The entered token pincode is too short. Please enter a valid pin");
    ExpectBox(seen[3], kErrorCaption, L"Token pin is wrong");
    EXPECT_EQ(PkeControl::Calls("login"), 1) << "the short PIN never reaches the library";
    EXPECT_EQ(PkeControl::LastArguments("login"), "1 0 3");  // user, slot index, PIN length
}

// The PIN reaches the library in the form every PIN reaches the token in:
// a character without a Latin-1 byte is refused, never sent as "?".
TEST_F(CsrTest, PinThatCannotBeSentUnchangedNeverReachesLogin) {
    UiDriver driver;
    driver.Then(CsrDialog({{IDC_CSR_PIN, L"12\u0416456"}}))
        .Then(Box(L"Invalid pincode"))
        .Then(CsrDialog({}, {}, IDCANCEL));
    RunCsr(driver);
    const auto seen = driver.Seen();
    ASSERT_EQ(seen.size(), 3u);
    // The box of every PIN field, owned by the dialog it refuses for.
    EXPECT_EQ(seen[1].caption, L"Invalid pincode");
    EXPECT_EQ(seen[1].text,
              L"The pincode contains characters that cannot be sent to the token.\nPlease use only the letters, "
              L"digits and signs of an English keyboard.\r\n");
    EXPECT_EQ(seen[1].owner, seen[0].window);
    EXPECT_EQ(PkeControl::Calls("login"), 0);
}

struct LoginStatusCase {
    CK_RV status;
    const wchar_t* text;
    bool dialogStays;
};

// Each login status and what the dialog does with it.
const LoginStatusCase kLoginStatusCases[] = {
    {CKR_PIN_INCORRECT, L"Token pin is wrong", true},
    {CKR_PIN_LOCKED, L"Token pin is locked", true},
    {CKR_USER_PIN_NOT_INITIALIZED, L"Token pin is not initalized", true},
    {CKR_TOKEN_NOT_PRESENT, L"Token is not connected to the system", false},
    {CKR_GENERAL_ERROR, L"General device error occured", false},
    {CKR_DEVICE_ERROR, L"General device error occured", false},
    {CKR_USER_ALREADY_LOGGED_IN, L"An unknown error occured", false},  // 256
    {CKR_CANCEL, L"An unknown error occured", false},                  // 1
    {CKR_HOST_MEMORY, L"An unknown error occured", false},             // 2
    {CKR_SLOT_ID_INVALID, L"An unknown error occured", false},         // 3
    {4, L"An unknown error occured", false},                           // no name
};

TEST_F(CsrTest, EachLoginStatusHasItsMessage) {
    for (const LoginStatusCase& c : kLoginStatusCases) {
        PkeControl::Answer("login", 1, static_cast<int>(c.status));
        UiDriver driver;
        driver.Then(CsrDialog({{IDC_CSR_PIN, L"1234"}})).Then(Box(kErrorCaption));
        if (c.dialogStays)
            driver.Then(CsrDialog({}, {}, IDCANCEL));
        RunCsr(driver);
        const auto seen = driver.Seen();
        ASSERT_EQ(seen.size(), c.dialogStays ? 3u : 2u) << "status " << c.status;
        ExpectBox(seen[1], kErrorCaption, c.text);
        EXPECT_EQ(SessionState(), CKS_RW_PUBLIC_SESSION) << "status " << c.status;
        PkeControl::Reset();
    }
}

TEST_F(CsrTest, WrongPinKeepsTheFieldsAndTheNextPressStartsAgain) {
    ASSERT_EQ(GetModuleHandleW(L"vexpke.dll"), nullptr);
    std::wstring commonName;
    HMODULE first = nullptr;
    HMODULE second = nullptr;
    UiDriver driver;
    driver.Then(CsrDialog({{IDC_CSR_COMMON_NAME, L"Alice"}, {IDC_CSR_PIN, L"9999"}}))
        .Then(Box(kErrorCaption))
        .Then(CsrDialog({}, {}, IDOK, [&](HWND dialog) {  // the same wrong PIN again
            commonName = DialogText(dialog, IDC_CSR_COMMON_NAME);
            first = pkeLibraryHandle();
            PkeControl::Reset();  // counts the second press alone
        }))
        .Then(Box(kErrorCaption, [&](HWND) { second = pkeLibraryHandle(); }))
        .Then(CsrDialog({}, {}, IDCANCEL));
    RunCsr(driver);
    const auto seen = driver.Seen();
    ASSERT_EQ(seen.size(), 5u);
    ExpectBox(seen[3], kErrorCaption, L"Token pin is wrong");
    EXPECT_EQ(Narrow(commonName), "Alice");
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, first) << "the second press loads nothing new";
    EXPECT_EQ(PkeControl::Calls("initPKE"), 1);
    EXPECT_EQ(PkeControl::Calls("setCryptoki"), 1);
    EXPECT_EQ(PkeControl::Calls("login"), 1);
    // Loaded by one LoadLibrary: one release unloads it.
    unloadPkeLibrary();
    EXPECT_EQ(GetModuleHandleW(L"vexpke.dll"), nullptr);
}

// A field whose UTF-8 form does not fit its 300-byte buffer is refused, not
// cut: 150 two-byte letters and the terminator need 301 bytes, 149 fit.
TEST_F(CsrTest, FieldTooLongInUtf8IsRefused) {
    UiDriver driver;
    driver.Then(CsrDialog({{IDC_CSR_ORGANIZATION, std::wstring(150, L'\x00E9')}, {IDC_CSR_PIN, L"9999"}}))
        .Then(Box(kErrorCaption))
        .Then(CsrDialog({{IDC_CSR_ORGANIZATION, std::wstring(149, L'\x00E9')}}))
        .Then(Box(kErrorCaption))
        .Then(CsrDialog({}, {}, IDCANCEL));
    RunCsr(driver);
    const auto seen = driver.Seen();
    ASSERT_EQ(seen.size(), 5u);
    ExpectBox(seen[1], kErrorCaption, L"The entered Organization is too long. Please enter a shorter text");
    ExpectBox(seen[3], kErrorCaption, L"Token pin is wrong");  // read whole: the login ran
    EXPECT_EQ(strlen(CsrRequest.subjectFields[2]), 298u);
    EXPECT_EQ(PkeControl::Calls("login"), 1);
}

TEST_F(CsrTest, SignMechanismFailureLogsOutAndKeepsTheDialog) {
    PkeControl::Answer("setSignMech", 1, 7);
    bool generateEnabled = false;
    UiDriver driver;
    driver.Then(CsrDialog({{IDC_CSR_PIN, L"1234"}}))
        .Then(Box(kErrorCaption))
        .Then(CsrDialog({}, {}, IDCANCEL, [&](HWND dialog) { generateEnabled = DialogEnabled(dialog, IDOK); }));
    RunCsr(driver);
    const auto seen = driver.Seen();
    ASSERT_EQ(seen.size(), 3u);
    ExpectBox(seen[1], kErrorCaption, L"Error in Setting Sign mech");
    EXPECT_TRUE(generateEnabled);
    EXPECT_EQ(SessionState(), CKS_RW_PUBLIC_SESSION) << "a retry must be able to log in again";
    EXPECT_EQ(Narrow(RowStatus()), "Not logged in");
    EXPECT_EQ(Narrow(LoginCaption()), "Login");
}

// The main window's host, except that asking for the library's index of
// the token, the dialog's last step before the library's login, arms a
// failing allocation: the `nth` allocation of the program after the login
// fails.
class FailingAfterLoginHost final : public CsrHost {
public:
    explicit FailingAfterLoginHost(long nth) : nth_(nth) {}
    bool Failed() const { return failing_ && failing_->Failed(); }

    int PkeSlotIndex(int slot) const override {
        const int index = Real().PkeSlotIndex(slot);
        failing_.emplace(nth_);
        return index;
    }
    int UpdateButtonsForState(int slot, CK_STATE state) override { return Real().UpdateButtonsForState(slot, state); }
    int SetTokenRowStatus(CK_STATE state, int row) override { return Real().SetTokenRowStatus(state, row); }
    int SetTokenRowName(CK_UTF8CHAR* label, int row) override { return Real().SetTokenRowName(label, row); }
    void RefillTokenInfoPanel(CK_SLOT_ID slot, const CK_TOKEN_INFO* info) override {
        Real().RefillTokenInfoPanel(slot, info);
    }
    std::wstring LoginCaption() override { return Real().LoginCaption(); }
    void SetLoginCaption(int slot, const wchar_t* caption) override { Real().SetLoginCaption(slot, caption); }
    bool StartWorker(std::unique_ptr<WorkerJob> job, bool disable) override {
        return Real().StartWorker(std::move(job), disable);
    }
    bool Busy() const override { return Real().Busy(); }
    void RestoreButtonsFromSession() override { Real().RestoreButtonsFromSession(); }

private:
    static MainWindowHost& Real() { return TheMainWindowHost(); }
    long nth_;
    mutable std::optional<FailingAllocation> failing_;
};

// A full heap once the library is logged in, at the worker's job and then
// at its thread's start: the failure is reported, the token logged out and
// the dialog given back (it could not even be closed before).
TEST_F(CsrTest, FailedAllocationAfterLoginLogsOutAndGivesTheDialogBack) {
    for (long nth : {1L, 2L}) {
        FailingAfterLoginHost host(nth);
        CsrCommand command = BindCsrCommand();
        command.host = &host;
        bool generateEnabled = false;
        UiDriver driver;
        driver.Then(CsrDialog({{IDC_CSR_PIN, L"1234"}}))
            .Then(Box(L""))
            .Then(CsrDialog({}, {}, IDCANCEL, [&](HWND dialog) { generateEnabled = DialogEnabled(dialog, IDOK); }));
        OnGenerateCsrCommand(command);
        std::string why;
        EXPECT_TRUE(driver.WaitDone(&why)) << why << "; allocation " << nth;
        EXPECT_TRUE(host.Failed()) << "allocation " << nth;
        const auto seen = driver.Seen();
        ASSERT_EQ(seen.size(), 3u) << Captions(seen);
        ExpectBox(seen[1], L"", L"Error in allocating memory");
        EXPECT_TRUE(generateEnabled) << "allocation " << nth;
        EXPECT_EQ(SessionState(), CKS_RW_PUBLIC_SESSION) << "allocation " << nth;
        EXPECT_EQ(Narrow(LoginCaption()), "Login");
        EXPECT_FALSE(AppState.Busy);
        EXPECT_EQ(PkeControl::Calls("exGenCSR"), 0);
    }
}

TEST_F(CsrTest, LoaderFailuresShowTheirTexts) {
    const struct {
        const char* entry;
        const wchar_t* text;
    } cases[] = {
        {"initPKE", L"Can not set cryptoki"},
        {"setCryptoki", L"An error occured"},
    };
    for (const auto& c : cases) {
        PkeControl::Answer(c.entry, 1, 6);
        UiDriver driver;
        driver.Then(CsrDialog({{IDC_CSR_PIN, L"1234"}})).Then(Box(kErrorCaption)).Then(CsrDialog({}, {}, IDCANCEL));
        RunCsr(driver);
        const auto seen = driver.Seen();
        ASSERT_EQ(seen.size(), 3u) << c.entry;
        ExpectBox(seen[1], kErrorCaption, c.text);
        EXPECT_EQ(PkeControl::Calls("login"), 0) << c.entry;
        EXPECT_NE(pkeLibraryHandle(), nullptr) << "the library stays loaded after " << c.entry;
        PkeControl::Reset();
    }
}

}  // namespace
