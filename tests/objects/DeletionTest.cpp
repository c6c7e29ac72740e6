// The "Delete" command in the main window against the software token: the
// confirmation, the objects destroyed, a refusal by the module, the rebuilt
// list, and the buttons and token list held back until the worker has ended.
#include "ObjectsWindowFixture.h"

#include <cstdio>

#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/TokenPanel.h"
#include "cryptoki/ErrorReport.h"
#include "objects/ObjectTables.h"

namespace {

const wchar_t kConfirmText[] = L"Do you want to remove selected objects?\n\r";

using Labels = std::vector<std::wstring>;

class DeletionTest : public ObjectsWindowTest {
protected:
    void SetUp() override {
        ObjectsWindowTest::SetUp();
        for (const char* label : {"d0", "d1", "d2", "d3", "d4"})
            AddDataObject(label);
        ListObjects();
        ASSERT_EQ(Labels(), (::Labels{L"d0", L"d1", L"d2", L"d3", L"d4"}));
    }

    // The confirmation, answered with `button`; its text and owner checked.
    DialogStep Confirmation(int button) {
        DialogStep step;
        step.caption = L"Remove object";
        step.inspect = [](HWND box) {
            EXPECT_EQ(DescribeWindow(box).text, kConfirmText);
            EXPECT_EQ(GetWindow(box, GW_OWNER), AppState.MainWindow);
        };
        step.button = button;
        return step;
    }

    // What the worker holds back while a box of `caption` is open: the
    // buttons and the token list disabled, the object list as `objectList`.
    DialogStep WhileWorkerRuns(const std::wstring& caption, bool objectList, std::wstring* text) {
        DialogStep step;
        step.caption = caption;
        step.inspect = [this, objectList, text](HWND box) {
            *text = DescribeWindow(box).text;
            EXPECT_TRUE(AppState.Busy);
            for (bool enabled : SessionControlStates())
                EXPECT_FALSE(enabled) << Narrow(*text);
            EXPECT_EQ(IsWindowEnabled(AppState.ObjectListView) != FALSE, objectList) << Narrow(*text);
            EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
        };
        return step;
    }

    // Runs the command with these steps; all must run, nothing else appear;
    // then waits for the worker.
    void Delete(std::vector<DialogStep> steps) {
        UiDriver driver;
        for (DialogStep& step : steps)
            driver.Then(std::move(step));
        window_.Click(kDeleteObjectsCommand);
        // The worker's boxes wait on the window thread (it changes the
        // controls by messages), so it is pumped while they are answered.
        window_.PumpUntil([&driver] { return driver.PendingSteps() == 0; }, 30000);
        std::string why;
        EXPECT_TRUE(driver.WaitDone(&why)) << why;
        ASSERT_TRUE(WaitForWorker());
        EXPECT_EQ(Captions(driver.Unexpected()), "");
    }

    // A logged-in user's buttons after a listing, and the lists usable.
    void ExpectControlsBack() {
        EXPECT_FALSE(AppState.Busy);
        EXPECT_TRUE(IsWindowEnabled(AppState.TokenListView));
        EXPECT_TRUE(IsWindowEnabled(AppState.ObjectListView));
        for (int index : {kLoginButton, kChangePinButton, kDisplayObjectsButton, kDeleteButton, kImportButton})
            EXPECT_TRUE(window_.ButtonEnabled(index)) << "button " << index;
        EXPECT_EQ(window_.ButtonCaption(kLoginButton), kLogoutCaption);
        EXPECT_FALSE(window_.ButtonEnabled(kExportButton)) << "until a certificate row is selected";
    }
};

TEST_F(DeletionTest, NothingSelectedDoesNothing) {
    window_.ClickObjectRow(-1);
    const std::vector<bool> before = SessionControlStates();
    Delete({});
    EXPECT_EQ(Labels(), (::Labels{L"d0", L"d1", L"d2", L"d3", L"d4"}));
    EXPECT_EQ(TokenObjectCount(), 5u);
    EXPECT_EQ(SessionControlStates(), before);
}

TEST_F(DeletionTest, AnsweringNoChangesNothing) {
    SelectObjectRows({1, 2, 3});
    const std::vector<bool> before = SessionControlStates();
    Delete({Confirmation(IDNO)});
    EXPECT_EQ(Labels(), (::Labels{L"d0", L"d1", L"d2", L"d3", L"d4"}));
    EXPECT_EQ(TokenObjectCount(), 5u);
    EXPECT_EQ(SessionControlStates(), before);
    EXPECT_TRUE(IsWindowEnabled(AppState.ObjectListView));
}

TEST_F(DeletionTest, SelectedObjectsAreDestroyedAndTheRestListed) {
    SelectObjectRows({0, 2, 4});
    Delete({Confirmation(IDYES)});
    EXPECT_EQ(Labels(), (::Labels{L"d1", L"d3"}));
    EXPECT_EQ(TokenObjectCount(), 2u);
    ExpectControlsBack();
}

TEST_F(DeletionTest, RefusedObjectIsReportedAndTheOthersAreDestroyed) {
    SelectObjectRows({1, 2, 3});
    const CK_OBJECT_HANDLE refused = ObjectHandleAt(2);
    ASSERT_NE(refused, 0u);
    ASSERT_EQ(TokenStore::Control().SetFault("C_DestroyObject", 2, CKR_DEVICE_ERROR), CKR_OK);
    std::wstring text;
    Delete({Confirmation(IDYES), WhileWorkerRuns(L"Object deletion problem", false, &text)});

    wchar_t detail[200];
    swprintf(detail, 200, L"Failed to remove object obj %d, Error: 30", static_cast<int>(refused));
    EXPECT_EQ(text, ComposeCkErrorW(CKR_DEVICE_ERROR, detail));
    EXPECT_EQ(Labels(), (::Labels{L"d0", L"d2", L"d4"})) << "the refused object is still listed";
    EXPECT_EQ(ObjectHandleAt(1), refused);
    EXPECT_EQ(TokenObjectCount(), 3u);
    ExpectControlsBack();
}

TEST_F(DeletionTest, TokenListWaitsForTheRebuiltListing) {
    SelectObjectRows({0});
    // The rebuilt listing fails at its first search step: its report is
    // shown while the listing still holds the session.
    ASSERT_EQ(TokenStore::Control().SetFault("C_FindObjects", 1, CKR_DEVICE_ERROR), CKR_OK);
    std::wstring text;
    Delete({Confirmation(IDYES), WhileWorkerRuns(L"Find object error", true, &text)});
    EXPECT_EQ(text, ComposeCkErrorW(CKR_DEVICE_ERROR, L""));
    EXPECT_EQ(TokenObjectCount(), 4u);
    ExpectControlsBack();
}

}  // namespace
