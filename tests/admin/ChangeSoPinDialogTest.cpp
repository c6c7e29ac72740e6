// "Change SO pincode": the SO login with the old SO PIN and C_SetPIN.
#include "AdminFixture.h"
#include "support/CallCounter.h"
#include "res/resource.h"

namespace {

const wchar_t kChangeSoDialog[] = L"Change SO pincode";
const wchar_t kWrongOldSoPin[] = L"The old SO pincode is wrong.\r\n";

std::vector<std::pair<int, std::wstring>> Entries(const wchar_t* oldPin, const wchar_t* newPin,
                                                  const wchar_t* confirmation) {
    return {{IDC_SOPIN_OLD, oldPin}, {IDC_SOPIN_NEW, newPin}, {IDC_SOPIN_CONFIRM, confirmation}};
}

class ChangeSoPinDialogTest : public AdminTest {
protected:
    void SetUp() override {
        AddToken(kTokenSlot);
        Start();
    }
};

TEST_F(ChangeSoPinDialogTest, ChangesTheSoPinAndLogsTheSoOut) {
    ui_.Then(Step(kChangeSoDialog, Entries(L"tolvane", L"newsopin", L"newsopin"))).Then(Step(L"Successful change pin"));
    Run(kChangeSoPinCommand);

    ExpectWindow(1, {L"Successful change pin", L"The SO pincode changed successfully.\r\n"}, Seen()[0].window);
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());
    EXPECT_TRUE(PinWorks(CKU_SO, "newsopin"));
    EXPECT_FALSE(PinWorks(CKU_SO, "tolvane"));
}

TEST_F(ChangeSoPinDialogTest, LocalChecksComeFirstAndCallNothing) {
    CallCounter spy;
    ui_.Then(Step(kChangeSoDialog, Entries(L"tol", L"newsopin", L"newsopix")))
        .Then(Step(L"Pincode mismatch"))
        .Then(Step(kChangeSoDialog, Entries(L"tol", L"newsopin", L"newsopin")))
        .Then(Step(L"Invalid user pincode"))
        .Then(Step(kChangeSoDialog, {}, IDCANCEL));
    Run(kChangeSoPinCommand);

    const HWND dialog = Seen()[0].window;
    ExpectWindow(1, {L"Pincode mismatch", L"Pincode mismatch.\r\n"}, dialog);
    ExpectWindow(3, {L"Invalid user pincode", L"The entered old pincode is too short.\r\n"}, dialog);
    EXPECT_TRUE(spy.Calls().empty());
}

TEST_F(ChangeSoPinDialogTest, AWrongOldSoPinAtLoginKeepsTheDialogWithTheFocusOnIt) {
    int focus = 0;
    ui_.Then(Step(kChangeSoDialog, Entries(L"wrongpin", L"newsopin", L"newsopin")))
        .Then(Step(L"Wrong SO pincode"))
        .Then(Step(kChangeSoDialog, {}, IDCANCEL, [&](HWND dialog) { focus = FocusedControlId(dialog); }));
    Run(kChangeSoPinCommand);

    ExpectWindow(1, {L"Wrong SO pincode", CkReport(L"CKR_PIN_INCORRECT 0xa0", kWrongOldSoPin)}, nullptr);
    EXPECT_EQ(IDC_SOPIN_OLD, focus);
    EXPECT_TRUE(PinWorks(CKU_SO, "tolvane"));
}

TEST_F(ChangeSoPinDialogTest, LockedAndOtherSoLoginFailuresCloseTheDialog) {
    const struct {
        CK_RV fault;
        ExpectedWindow report;
    } rows[] = {
        {CKR_PIN_LOCKED, {L"Locked SO pincode", CkReport(L"CKR_PIN_LOCKED 0xa4", L"The SO pincode is locked.\r\n")}},
        {CKR_DEVICE_ERROR,
         {L"SO login failure", CkReport(L"CKR_DEVICE_ERROR 0x30", L"An error occured during SO login.\r\n")}},
    };
    for (const auto& row : rows) {
        const size_t first = Seen().size();
        Fault("C_Login", 1, row.fault);
        ui_.Then(Step(kChangeSoDialog, Entries(L"tolvane", L"newsopin", L"newsopin"))).Then(Step(row.report.caption));
        Run(kChangeSoPinCommand);
        ExpectWindow(first + 1, row.report, nullptr);
    }
}

// The token refuses a new SO PIN of 3 characters; the SO stays logged in, so
// the next OK changes the PIN without a second login.
TEST_F(ChangeSoPinDialogTest, ANewPinTheTokenRefusesKeepsTheSoLoggedIn) {
    CallCounter spy;
    CK_STATE stateWhileOpen = 0;
    ui_.Then(Step(kChangeSoDialog, Entries(L"tolvane", L"abc", L"abc")))
        .Then(Step(L"Invalid user pincode"))
        .Then(Step(kChangeSoDialog, Entries(L"tolvane", L"newsopin", L"newsopin"), IDOK,
                   [&](HWND) { stateWhileOpen = SessionState(); }))
        .Then(Step(L"Successful change pin"));
    Run(kChangeSoPinCommand);

    ExpectWindow(1,
                 {L"Invalid user pincode",
                  CkReport(L"CKR_PIN_LEN_RANGE 0xa2",
                           L"Changing SO pincode failed.\rThe enetered pin does not meet minimum length requirement "
                           L"of the device.\r\n")},
                 nullptr);
    EXPECT_EQ(CKS_RW_SO_FUNCTIONS, stateWhileOpen);
    EXPECT_EQ(1u, spy.CallsOf("C_Login").size());
    EXPECT_EQ(2u, spy.CallsOf("C_SetPIN").size());
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());
}

// What happens after each answer of C_SetPIN other than success.
TEST_F(ChangeSoPinDialogTest, SetPinRefusals) {
    const struct {
        CK_RV fault;
        ExpectedWindow report;
        bool staysLoggedIn;
    } rows[] = {
        // A wrong old PIN at the change: the SO stays, the dialog too.
        {CKR_PIN_INCORRECT, {L"Wrong SO pincode", CkReport(L"CKR_PIN_INCORRECT 0xa0", kWrongOldSoPin)}, true},
        // Locked: logged out and closed.
        {CKR_PIN_LOCKED, {L"Locked SO pincode", CkReport(L"CKR_PIN_LOCKED 0xa4", L"The SO pincode is locked.\r\n")},
         false},
        // Anything else: logged out and closed.
        {CKR_DEVICE_ERROR,
         {L"Invalid user pincode",
          CkReport(L"CKR_DEVICE_ERROR 0x30",
                   L"Changing pin failed. The pin might not meet the minimum pin complexity requirements of the "
                   L"device.\r\n")},
         false},
    };
    for (const auto& row : rows) {
        const size_t first = Seen().size();
        CK_STATE stateWhileOpen = 0;
        Fault("C_SetPIN", 1, row.fault);
        ui_.Then(Step(kChangeSoDialog, Entries(L"tolvane", L"newsopin", L"newsopin"))).Then(Step(row.report.caption));
        if (row.staysLoggedIn)
            ui_.Then(Step(kChangeSoDialog, {}, IDCANCEL, [&](HWND) { stateWhileOpen = SessionState(); }));
        Run(kChangeSoPinCommand);
        ExpectWindow(first + 1, row.report, nullptr);
        if (row.staysLoggedIn) {
            EXPECT_EQ(CKS_RW_SO_FUNCTIONS, stateWhileOpen);
        }
        EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState()) << "closing logs the SO out";
    }
    EXPECT_TRUE(PinWorks(CKU_SO, "tolvane"));
}

TEST_F(ChangeSoPinDialogTest, ALoggedInUserIsLoggedOutAndTheRowShowsIt) {
    LoginThroughDialog(kTestUserPin);
    ASSERT_EQ(L"Logged in", RowStatus(kTokenSlot));
    ui_.Then(Step(kChangeSoDialog, Entries(L"wrongpin", L"newsopin", L"newsopin"))).Then(Step(L"Wrong SO pincode"))
        .Then(Step(kChangeSoDialog, {}, IDCANCEL));
    Run(kChangeSoPinCommand);

    EXPECT_EQ(L"Login", LoginCaption());
    EXPECT_EQ(L"Not logged in", RowStatus(kTokenSlot));
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());
}

}  // namespace
