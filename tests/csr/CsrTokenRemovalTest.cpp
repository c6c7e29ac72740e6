// The token pulled out during "Generate CSR", before each Cryptoki call
// of the run in turn (the library's login, the request signed on the
// token, the logout after it), with the slot monitor running: the run
// ends without a crash or a hang, says only what its messages say, the
// window shows no token, and the token put back holds exactly its key pair and certificate.
#include "CsrFixture.h"
#include "PkeControl.h"

#include <memory>
#include <string>

#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/MainWindowHost.h"
#include "app/TokenPanel.h"
#include "csr/CsrDialog.h"
#include "csr/CsrWorker.h"
#include "res/resource.h"
#include "support/DialogSweeper.h"
#include "support/SlotMonitorRun.h"
#include "support/TokenStore.h"

namespace {

// What a run may say when its token goes: the dialog's own errors, the
// CSR call's failure, and the session that could not be opened again.
bool ExpectedReport(const SeenWindow& box) {
    return box.caption == L"CSR Generation Error" || box.caption == L"CSR Generation error" ||
           box.caption == L"Error" || box.text == L"Error";
}

class CsrTokenRemovalTest : public CsrTest {
protected:
    void SetUp() override {
        CsrTest::SetUp();
        AddKeyAndCertificate();
        monitor_.reset(new SlotMonitorRun);
        ASSERT_TRUE(monitor_->Running());
    }
    void TearDown() override {
        TokenStore::Control().ClearFaults();
        if (monitor_) {
            EXPECT_TRUE(monitor_->Stop(window_)) << "the slot monitor did not end";
        }
        CsrTest::TearDown();
    }

    static std::wstring TokenCell(int column) {
        return MainWindowFixture::CellText(AppState.TokenListView, kCsrSlot, column);
    }

    // Command 108 for the token's private key, with the token pulled before
    // the `call`-th Cryptoki call after OK. Returns whether the pull
    // happened (a shorter run leaves the token in).
    bool RunWithPullBefore(long call, std::vector<SeenWindow>* reports) {
        window_.ClickObjectRow(ObjectRow(L"RSA private key"));
        window_.ClickTokenRow(kCsrSlot);
        DialogSweeper sweeper(
            kCsrCaption,
            [call](HWND dialog) {
                SetDlgItemTextW(dialog, IDC_CSR_PIN, L"1234");
                TokenStore::Control().SetFaultEx("*", static_cast<CK_ULONG>(call), kCsrSlot,
                                                 SOFTTOKEN_FAULT_REMOVE_TOKEN);
                PressButton(dialog, IDOK);
            },
            [] { return !AppState.Busy; });
        window_.Click(kGenerateCsrCommand);
        EXPECT_TRUE(sweeper.Started());
        EXPECT_TRUE(window_.PumpUntil([] { return !AppState.Busy && !DialogSweeper::AnyDialogOpen(); }, 20000))
            << "the run never ended";
        EXPECT_TRUE(window_.PumpUntilMonitorIdle()) << "the slot monitor did not settle";
        *reports = sweeper.Closed();
        TokenStore::Control().ClearFaults();
        CK_ULONG state = 0;
        TokenStore::Control().GetSlotState(kCsrSlot, &state);
        return state == SOFTTOKEN_SLOT_REMOVED;
    }

    // Back in: shown, logged out, and holding what it held.
    void ExpectTokenBack(const std::string& what) {
        ASSERT_EQ(CKR_OK, TokenStore::Control().InsertToken(kCsrSlot)) << what;
        ASSERT_TRUE(window_.PumpUntil([] { return TokenCell(0) == L"CSR token"; }, 10000)) << what;
        EXPECT_TRUE(window_.PumpUntilMonitorIdle()) << what << ": the slot monitor did not settle";
        EXPECT_EQ(L"Not logged in", TokenCell(1)) << what;
        EXPECT_EQ(SessionState(), CKS_RW_PUBLIC_SESSION) << what;
        ListObjects();
        EXPECT_EQ(3, MainWindowFixture::RowCount(AppState.ObjectListView)) << what << ": key pair and certificate";
    }

    std::unique_ptr<SlotMonitorRun> monitor_;
};

TEST_F(CsrTokenRemovalTest, TokenPulledBeforeEachCallOfARun) {
    long call = 1;
    for (; call < 200; ++call) {
        const std::string what = "pulled before call " + std::to_string(call);
        std::vector<SeenWindow> reports;
        if (!RunWithPullBefore(call, &reports))
            break;  // the run made fewer calls: every point was tried
        window_.ExpectNoTokenShown(kCsrSlot, what);
        for (const SeenWindow& box : reports) {
            EXPECT_TRUE(ExpectedReport(box) || box.caption == L"Save As")
                << what << ": " << Narrow(box.caption) << " / " << Narrow(box.text);
            // A key that could not be read because the token went is not a
            // key without values.
            EXPECT_NE(L"No modulus or no exponent.", box.text) << what;
        }
        EXPECT_TRUE(IsWindow(window_.Window())) << what;
        ExpectTokenBack(what);
        window_.ClickTokenRow(kCsrSlot);
    }
    EXPECT_GT(call, 5) << "a run makes more calls than that";
    EXPECT_LT(call, 200) << "a run never got through without the pull";
}

// The token goes and comes back while the library works (the worker
// holds the window's updates back then): when the run ends, the buttons
// and the object list follow the token that is back.
TEST_F(CsrTokenRemovalTest, TokenBackDuringTheRunGetsItsButtonsWhenTheRunEnds) {
    AppState.Busy = true;  // as the worker has it while the library works
    ASSERT_EQ(CKR_OK, TokenStore::Control().RemoveToken(kCsrSlot));
    ASSERT_TRUE(window_.PumpUntil([] { return TokenCell(0).empty(); }, 10000));
    ASSERT_EQ(CKR_OK, TokenStore::Control().InsertToken(kCsrSlot));
    ASSERT_TRUE(window_.PumpUntil([] { return TokenCell(0) == L"CSR token"; }, 10000));
    EXPECT_TRUE(window_.PumpUntilMonitorIdle()) << "the slot monitor did not settle";
    ASSERT_FALSE(window_.ButtonEnabled(kDisplayObjectsButton)) << "held back while the worker runs";

    AppState.Busy = false;  // the library returned; the worker ends the run
    LogOutCsrSession(kCsrSlot, TheMainWindowHost());
    window_.Pump();
    EXPECT_EQ(L"Not logged in", TokenCell(1));
    EXPECT_TRUE(window_.ButtonEnabled(kDisplayObjectsButton));
    EXPECT_TRUE(window_.ButtonEnabled(kLoginButton));
    EXPECT_TRUE(IsWindowEnabled(AppState.ObjectListView));
}

}  // namespace
