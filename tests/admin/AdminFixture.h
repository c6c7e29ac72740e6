// The program's main window on a software-token store of the test's own,
// started as the program starts (administrator mode unless a test says
// otherwise), with the driver for the dialogs and boxes its commands open.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/ControlIds.h"
#include "cryptoki/Cryptoki.h"
#include "support/MainWindowFixture.h"
#include "support/UiDriver.h"

constexpr int kTokenSlot = 0;
constexpr char kFactorySo[] = "tolvane";

// One expected dialog or message box.
struct ExpectedWindow {
    std::wstring caption;
    std::wstring text;  // message boxes only
};

class AdminTest : public testing::Test {
protected:
    // A token in `slot` (label "Token <slot>"); no user PIN when `userPin` is null.
    void AddToken(CK_SLOT_ID slot, const char* userPin = kTestUserPin, const char* soPin = nullptr);
    // Start-up of the program: the window, one row a slot, the sessions, the
    // first token selected.
    void Start(bool adminMode = true);

    // Sends the command as its button would and returns when it has ended
    // (modal dialogs run on this thread); then checks that every queued
    // step ran and that no window appeared that no step expected.
    void Run(int command);
    // The windows the steps handled, in order.
    std::vector<SeenWindow> Seen() { return ui_.Seen(); }
    // Checks caption and text of seen window `index` and whether its owner
    // is `owner` (null: no owner window).
    void ExpectWindow(size_t index, const ExpectedWindow& expected, HWND owner);

    // Logs the user in through "Login to token", as a user would.
    void LoginThroughDialog(const char* pin);

    void SelectRow(int slot);  // -1: none
    std::wstring LoginCaption();
    std::wstring RowName(int slot);
    std::wstring RowStatus(int slot);
    std::wstring PanelValue(int row);
    bool MainButtonEnabled(int index);

    VendorFunctionList* Api();
    CK_SESSION_HANDLE Session(int slot = kTokenSlot);
    CK_STATE SessionState(int slot = kTokenSlot);
    CK_FLAGS TokenFlags(int slot = kTokenSlot);
    CK_RV Login(CK_USER_TYPE user, const char* pin, int slot = kTokenSlot);
    CK_RV Logout(int slot = kTokenSlot);
    // Whether `pin` opens the token for `user` now: logs in and out again on
    // the application session, which must be public.
    bool PinWorks(CK_USER_TYPE user, const char* pin, int slot = kTokenSlot);
    // The `nth` call of `function` from now on answers `rv`.
    void Fault(const char* function, CK_ULONG nth, CK_RV rv);

    MainWindowFixture window_;
    UiDriver ui_;  // after the window: it goes first
};

// A step for the driver: the window captioned `caption`, with `edits`
// filled, gets `button`; `inspect` sees it first, once the window's thread
// has finished what it was doing (a box that was just closed returns to
// code that still moves the focus or empties an edit).
DialogStep Step(const std::wstring& caption, std::vector<std::pair<int, std::wstring>> edits = {},
                int button = IDOK, std::function<void(HWND)> inspect = nullptr);
// The text of a Cryptoki error report: `code` is the return code's name and
// value as the report shows them ("CKR_PIN_INCORRECT 0xa0").
std::wstring CkReport(const std::wstring& code, const std::wstring& context);
// The control that has the keyboard focus on `dialog`'s thread.
int FocusedControlId(HWND dialog);
