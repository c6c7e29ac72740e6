// PINs and labels that cannot reach the token unchanged: every field that
// sends one refuses such text before any Cryptoki call, says why, and keeps
// its dialog open with the focus on the field. Labels go as UTF-8.
#include "AdminFixture.h"
#include "support/CallCounter.h"
#include "res/resource.h"

#include <string>

namespace {

const ExpectedWindow kPinRefused = {
    L"Invalid pincode",
    L"The pincode contains characters that cannot be sent to the token.\nPlease use only the letters, digits and "
    L"signs of an English keyboard.\r\n"};
const ExpectedWindow kLabelTooLong = {
    L"Invalid token label",
    L"The token label is too long.\nIt may take at most 32 bytes in UTF-8: 32 letters of the English alphabet, "
    L"fewer of other alphabets.\r\n"};

const wchar_t kCyrillicPin[] = L"12\u0416456";  // "12Ж456"
// Eleven CJK characters: 33 bytes in UTF-8, one more than the label field.
const wchar_t kLabel33Bytes[] = L"\u6771\u4EAC\u5927\u5B66\u6771\u4EAC\u5927\u5B66\u6771\u4EAC\u5927";

using Edits = std::vector<std::pair<int, std::wstring>>;

struct RefusalRow {
    const char* name;
    int command;
    const wchar_t* dialog;
    bool warningFirst;  // Clear token asks before it opens
    Edits edits;        // every other field holds text that could be sent
    int refusedField;
    ExpectedWindow box;
};

const RefusalRow kRefusalRows[] = {
    {"login", kLoginCommand, L"Login to token", false, {{IDC_LOGIN_PIN, kCyrillicPin}}, IDC_LOGIN_PIN, kPinRefused},
    {"change_new", kChangePinCommand, L"Change pincode", false,
     {{IDC_CHANGE_OLD_PIN, L"1234"}, {IDC_CHANGE_NEW_PIN, kCyrillicPin}, {IDC_CHANGE_CONFIRM_PIN, kCyrillicPin}},
     IDC_CHANGE_NEW_PIN, kPinRefused},
    {"so_change_new", kChangeSoPinCommand, L"Change SO pincode", false,
     {{IDC_SOPIN_OLD, L"tolvane"}, {IDC_SOPIN_NEW, kCyrillicPin}, {IDC_SOPIN_CONFIRM, kCyrillicPin}},
     IDC_SOPIN_NEW, kPinRefused},
    {"unblock_so", kUnblockPinCommand, L"Unblock user pincode", false,
     {{IDC_UNBLOCK_SO_PIN, kCyrillicPin}, {IDC_UNBLOCK_USER_PIN, L"2468"}, {IDC_UNBLOCK_CONFIRM_PIN, L"2468"}},
     IDC_UNBLOCK_SO_PIN, kPinRefused},
    {"clear_so", kClearTokenCommand, L"Clear token", true,
     {{IDC_CLEAR_SO_PIN, kCyrillicPin}, {IDC_CLEAR_LABEL, L"Fine"}}, IDC_CLEAR_SO_PIN, kPinRefused},
    {"clear_label_33_bytes", kClearTokenCommand, L"Clear token", true,
     {{IDC_CLEAR_SO_PIN, L"tolvane"}, {IDC_CLEAR_LABEL, kLabel33Bytes}}, IDC_CLEAR_LABEL, kLabelTooLong},
    {"policy_so", kPinPolicyCommand, L"Set user pincode policy", false, {{IDC_POLICY_SO_PIN, kCyrillicPin}},
     IDC_POLICY_SO_PIN, kPinRefused},
};

class UnsendableTextTest : public AdminTest {
protected:
    void SetUp() override {
        AddToken(kTokenSlot);
        Start();
    }
};

TEST_F(UnsendableTextTest, EveryFieldRefusesTextThatCannotBeSentAndStays) {
    for (const RefusalRow& row : kRefusalRows) {
        SCOPED_TRACE(row.name);
        // Change pincode needs a login; the others start from a public session.
        if (row.command == kChangePinCommand) {
            ASSERT_EQ(CKR_OK, Login(CKU_USER, kTestUserPin));
        }
        const CK_FLAGS flagsBefore = TokenFlags();
        const size_t first = Seen().size();
        int focus = 0;
        {
            CallCounter spy;
            if (row.warningFirst)
                ui_.Then(Step(L"Warning", {}, IDYES));
            ui_.Then(Step(row.dialog, row.edits))
                .Then(Step(row.box.caption))
                .Then(Step(row.dialog, {}, IDCANCEL, [&](HWND dialog) { focus = FocusedControlId(dialog); }));
            Run(row.command);
            EXPECT_EQ("", spy.Sequence()) << "no PIN, label or session call";
        }
        const size_t dialogAt = first + (row.warningFirst ? 1 : 0);
        ExpectWindow(dialogAt + 1, row.box, Seen()[dialogAt].window);
        EXPECT_EQ(row.refusedField, focus) << "the field that was refused has the focus";
        // No login try was used, no PIN changed, the token was not cleared.
        EXPECT_EQ(flagsBefore, TokenFlags());
        if (row.command == kChangePinCommand) {
            ASSERT_EQ(CKR_OK, Logout());
        }
        EXPECT_TRUE(PinWorks(CKU_SO, kFactorySo));
        EXPECT_TRUE(PinWorks(CKU_USER, kTestUserPin));
    }
}

// A label goes as UTF-8 padded with blanks, one of exactly 32 UTF-8 bytes
// whole, and the token row shows it decoded.
TEST_F(UnsendableTextTest, LabelsGoAsUtf8) {
    CallCounter spy;
    const struct {
        const wchar_t* typed;
        std::string field;
        const wchar_t* shown;
    } labels[] = {
        {L"M\u00fcller", "M\xC3\xBCller                         ", L"M\u00fcller"},
        // Ten CJK characters and two letters: 32 bytes, no blank.
        {L"\u6771\u4EAC\u5927\u5B66\u6771\u4EAC\u5927\u5B66\u6771\u4EACab",
         "\xE6\x9D\xB1\xE4\xBA\xAC\xE5\xA4\xA7\xE5\xAD\xA6\xE6\x9D\xB1\xE4\xBA\xAC\xE5\xA4\xA7\xE5\xAD\xA6"
         "\xE6\x9D\xB1\xE4\xBA\xAC" "ab",
         L"\u6771\u4EAC\u5927\u5B66\u6771\u4EAC\u5927\u5B66\u6771\u4EACab"},
    };
    for (const auto& label : labels) {
        spy.Reset();
        ui_.Then(Step(L"Warning", {}, IDYES))
            .Then(Step(L"Clear token", {{IDC_CLEAR_SO_PIN, L"tolvane"}, {IDC_CLEAR_LABEL, label.typed}}))
            .Then(Step(L""));
        Run(kClearTokenCommand);
        ASSERT_EQ(1u, spy.CallsOf("C_InitToken").size());
        EXPECT_EQ(label.field, spy.CallsOf("C_InitToken")[0].label);
        EXPECT_EQ(label.shown, RowName(kTokenSlot));
    }
}

}  // namespace
