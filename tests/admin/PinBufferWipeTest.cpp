// PINs once a dialog is done with them: every buffer the program handed to
// the module with a PIN in it (the user's, the SO's, old and new, right and
// wrong, the fixed factory values) no longer holds that PIN when the
// command has ended.
#include "AdminFixture.h"
#include "CryptokiSpy.h"
#include "res/resource.h"

#include <cstring>

namespace {

// Whether `size` bytes at `where` are committed, readable memory (a
// dialog's frame below the stack pointer, or a freed block the heap keeps).
bool Readable(const void* where, size_t size) {
    MEMORY_BASIC_INFORMATION info;
    if (!VirtualQuery(where, &info, sizeof info) || info.State != MEM_COMMIT)
        return false;
    const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE;
    const auto end = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    return (info.Protect & readable) && static_cast<const char*>(where) + size <= end;
}

class PinBufferWipeTest : public AdminTest {
protected:
    // Each PIN the spy saw is gone from where the program kept it.
    void ExpectPinsGone(CryptokiSpy& spy, const std::string& what) {
        const std::vector<SpyCall> calls = spy.Calls();
        int pins = 0;
        for (const SpyCall& call : calls) {
            const std::pair<const void*, std::string> handed[] = {{call.pinAt, call.pin}, {call.newPinAt, call.newPin}};
            for (const auto& pin : handed) {
                if (!pin.first || pin.second.empty())
                    continue;
                ++pins;
                ASSERT_TRUE(Readable(pin.first, pin.second.size())) << what;
                EXPECT_NE(0, std::memcmp(pin.first, pin.second.data(), pin.second.size()))
                    << what << ": " << call.function << " PIN \"" << pin.second << "\" is still where it was kept";
            }
        }
        EXPECT_GT(pins, 0) << what << ": no PIN was handed to the module";
        spy.Clear();
    }
};

TEST_F(PinBufferWipeTest, EveryDialogWipesThePinsItHandedOver) {
    AddToken(kTokenSlot, "1234");
    Start();
    CryptokiSpy spy;

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
}

}  // namespace
