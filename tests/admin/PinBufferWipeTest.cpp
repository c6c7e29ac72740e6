// PINs once a dialog is done with them: every buffer the program handed to
// the module with a PIN in it (the user's, the SO's, old and new, right and
// wrong, the fixed factory values) no longer holds that PIN when the
// command has ended; no box shows a PIN; and a PIN typed into a dialog
// cannot be copied or cut to the clipboard.
#include "AdminFixture.h"
#include "support/CallCounter.h"
#include "support/ClipboardText.h"
#include "app/Commands.h"
#include "app/MainWindowHost.h"
#include "import/PfxImportDialog.h"
#include "res/resource.h"
#include "support/MemoryProbe.h"

#include <cstring>
#include <functional>
#include <initializer_list>

namespace {

void PutOnClipboard(const std::wstring& text) {
    if (!OpenClipboard(nullptr))
        return;
    EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    if (HGLOBAL data = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
        memcpy(GlobalLock(data), text.c_str(), bytes);
        GlobalUnlock(data);
        if (!SetClipboardData(CF_UNICODETEXT, data))
            GlobalFree(data);
    }
    CloseClipboard();
}

// Types a PIN into each edit, selects it and copies and cuts it: typed as
// Ctrl+C and Ctrl+X, and as the messages any window may send it. The
// clipboard must keep what it had.
std::function<void(HWND)> CopyOutOf(std::initializer_list<int> edits, std::wstring* seen) {
    std::vector<int> ids(edits);
    return [ids, seen](HWND dialog) {
        PutOnClipboard(L"before");
        for (int id : ids) {
            HWND edit = GetDlgItem(dialog, id);
            SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"clip-pin-42"));
            SendMessageW(edit, EM_SETSEL, 0, -1);
            SendMessageW(edit, WM_CHAR, 0x03, 0);  // Ctrl+C
            SendMessageW(edit, WM_CHAR, 0x18, 0);  // Ctrl+X
            SendMessageW(edit, WM_COPY, 0, 0);
            SendMessageW(edit, WM_CUT, 0, 0);
            *seen += ClipboardText() + L"|";
        }
    };
}

class PinBufferWipeTest : public AdminTest {
protected:
    // Each PIN the spy saw is gone from where the program kept it.
    void ExpectPinsGone(CallCounter& spy, const std::string& what) {
        const std::vector<RecordedCall> calls = spy.Calls();
        int pins = 0;
        for (const RecordedCall& call : calls) {
            const std::pair<const void*, std::string> handed[] = {{call.pinAt, call.pin}, {call.newPinAt, call.newPin}};
            for (const auto& pin : handed) {
                if (!pin.first || pin.second.empty())
                    continue;
                ++pins;
                ASSERT_TRUE(IsReadableMemory(pin.first, pin.second.size())) << what;
                EXPECT_NE(0, std::memcmp(pin.first, pin.second.data(), pin.second.size()))
                    << what << ": " << call.function << " PIN \"" << pin.second << "\" is still where it was kept";
            }
        }
        EXPECT_GT(pins, 0) << what << ": no PIN was handed to the module";
        spy.Reset();
    }
};

TEST_F(PinBufferWipeTest, EveryDialogWipesThePinsItHandedOver) {
    AddToken(kTokenSlot, "1234");
    Start();
    CallCounter spy;

    ui_.Then(Step(L"Login to token", {{IDC_LOGIN_PIN, L"9999"}}))
        .Then(Step(L"Login error"))
        .Then(Step(L"Login to token", {{IDC_LOGIN_PIN, L"1234"}}));
    Run(kLoginCommand);
    ExpectPinsGone(spy, "login, wrong then right");

    ui_.Then(Step(L"Change pincode",
                  {{IDC_CHANGE_OLD_PIN, L"1234"}, {IDC_CHANGE_NEW_PIN, L"5150"}, {IDC_CHANGE_CONFIRM_PIN, L"5150"}}))
        .Then(Step(L"Successful change pin operation"));
    Run(kChangePinCommand);
    ExpectPinsGone(spy, "change PIN");
    Run(kLoginCommand);  // log out

    ui_.Then(Step(L"Warning", {}, IDYES))
        .Then(Step(L"Clear token", {{IDC_CLEAR_SO_PIN, L"tolvane"}, {IDC_CLEAR_LABEL, L"Wiped"}}))
        .Then(Step(L""));
    Run(kClearTokenCommand);
    ExpectPinsGone(spy, "clear token");

    ui_.Then(Step(L"Successful set pin"));
    Run(kDefaultUserPinCommand);
    ExpectPinsGone(spy, "default user PIN");

    ui_.Then(Step(L"Unblock user pincode",
                  {{IDC_UNBLOCK_SO_PIN, L"tolvane"}, {IDC_UNBLOCK_USER_PIN, L"7777"}, {IDC_UNBLOCK_CONFIRM_PIN, L"7777"}}))
        .Then(Step(L""));
    Run(kUnblockPinCommand);
    ExpectPinsGone(spy, "unblock");

    ui_.Then(Step(L"Change SO pincode",
                  {{IDC_SOPIN_OLD, L"tolvane"}, {IDC_SOPIN_NEW, L"wiped-so"}, {IDC_SOPIN_CONFIRM, L"wiped-so"}}))
        .Then(Step(L"Successful change pin"));
    Run(kChangeSoPinCommand);
    ExpectPinsGone(spy, "change SO PIN");

    ui_.Then(Step(L"Set user pincode policy", {{IDC_POLICY_SO_PIN, L"wiped-so"}}))
        .Then(Step(L"Successful pincode policy operation"));
    Run(kPinPolicyCommand);
    ExpectPinsGone(spy, "PIN policy");

    EXPECT_TRUE(PinWorks(CKU_USER, "7777"));
    EXPECT_TRUE(PinWorks(CKU_SO, "wiped-so"));
    // The default PIN's box names the factory default PIN, as it must for
    // the user to log in; no box names any other.
    for (const SeenWindow& box : Seen())
        for (const wchar_t* pin : {L"9999", L"1234", L"5150", L"tolvane", L"7777", L"wiped-so"})
            EXPECT_EQ(std::wstring::npos, box.text.find(pin)) << Narrow(box.caption) << ": " << Narrow(box.text);
}

TEST_F(PinBufferWipeTest, PinEditsGiveNothingToTheClipboard) {
    AddToken(kTokenSlot, "1234");
    Start();
    const auto command = [this](int id) { return [this, id] { window_.Click(id); }; };
    const struct {
        const wchar_t* caption;
        std::initializer_list<int> edits;
        std::function<void()> open;
    } dialogs[] = {
        {L"Login to token", {IDC_LOGIN_PIN}, command(kLoginCommand)},
        {L"Clear token", {IDC_CLEAR_SO_PIN}, command(kClearTokenCommand)},
        {L"Unblock user pincode", {IDC_UNBLOCK_SO_PIN, IDC_UNBLOCK_USER_PIN, IDC_UNBLOCK_CONFIRM_PIN},
         command(kUnblockPinCommand)},
        {L"Change SO pincode", {IDC_SOPIN_OLD, IDC_SOPIN_NEW, IDC_SOPIN_CONFIRM}, command(kChangeSoPinCommand)},
        {L"Set user pincode policy", {IDC_POLICY_SO_PIN}, command(kPinPolicyCommand)},
        {L"Import pfx properties", {IDC_PFX_PASSWORD}, [] { OpenPfxImportDialog(BindObjectCommand()); }},
        {L"Generate CSR", {IDC_CSR_PIN}, command(kGenerateCsrCommand)},
        {L"Change pincode", {IDC_CHANGE_OLD_PIN, IDC_CHANGE_NEW_PIN, IDC_CHANGE_CONFIRM_PIN},
         command(kChangePinCommand)},
    };
    for (const auto& d : dialogs) {
        if (std::wstring(d.caption) == L"Change pincode")
            LoginThroughDialog("1234");  // the dialog is for a logged-in user
        std::wstring seen;
        if (std::wstring(d.caption) == L"Clear token")
            ui_.Then(Step(L"Warning", {}, IDYES));
        ui_.Then(Step(d.caption, {}, IDCANCEL, CopyOutOf(d.edits, &seen)));
        d.open();
        std::string why;
        ASSERT_TRUE(ui_.WaitDone(&why)) << why;
        EXPECT_NE(std::wstring::npos, seen.find(L"before")) << Narrow(d.caption) << ": the clipboard was read";
        EXPECT_EQ(std::wstring::npos, seen.find(L"clip-pin")) << Narrow(d.caption) << ": " << Narrow(seen);
    }
}

}  // namespace
