// The token panel: button states and caption for each session state, token
// row names and statuses, and the information panel's values.
#include <gtest/gtest.h>

#include <cstring>

#include "app/AppState.h"
#include "app/TokenPanel.h"
#include "support/MainWindowFixture.h"

namespace {

// One expected state of a main button after UpdateButtonsForState.
enum Expect { On, Off, Same };

struct ButtonCase {
    const char* what;
    CK_STATE state;
    const wchar_t* caption;
    Expect buttons[kMainButtonCount];
};

const ButtonCase kButtonCases[] = {
    // Public session: nobody logged in. Default PIN and export keep their state.
    {"public", CKS_RW_PUBLIC_SESSION, L"Login", {On, Same, On, On, Off, On, Same, On, Same}},
    // The user: no default-PIN button, export left to the object-list rule.
    {"user", CKS_RW_USER_FUNCTIONS, L"Log out", {On, Off, On, On, On, On, Same, On, Same}},
    // The SO: default PIN on; display objects kept; no delete, import, export or CSR.
    {"SO", CKS_RW_SO_FUNCTIONS, L"Log out", {On, On, On, Same, Off, Off, Off, Off, Same}},
    // A read-only state counts as nobody logged in.
    {"read-only user", CKS_RO_USER_FUNCTIONS, L"Login", {On, Same, On, On, Off, On, Same, On, Same}},
};

class TokenPanelTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(window_.AddToken(0, "Panel", "1"));
        ASSERT_EQ(0, window_.Start(true));
    }

    void SetAllButtons(bool enabled) {
        for (HWND button : AppState.MainButtons)
            EnableWindow(button, enabled);
        for (HWND button : AppState.AdminButtons)
            EnableWindow(button, FALSE);
        SetWindowTextW(AppState.MainButtons[kLoginButton], L"unchanged");
    }

    MainWindowFixture window_;
};

TEST_F(TokenPanelTest, ButtonsFollowTheSessionState) {
    for (const ButtonCase& c : kButtonCases) {
        for (bool before : {false, true}) {
            SetAllButtons(before);
            EXPECT_EQ(0, UpdateButtonsForState(c.state));
            EXPECT_EQ(c.caption, window_.ButtonCaption(kLoginButton)) << c.what;
            for (int i = 0; i < kMainButtonCount; ++i) {
                const bool expected = c.buttons[i] == Same ? before : c.buttons[i] == On;
                EXPECT_EQ(expected, window_.ButtonEnabled(i))
                    << c.what << ": button " << i << ", enabled before: " << before;
            }
            for (int i = 0; i < kAdminButtonCount; ++i)
                EXPECT_TRUE(window_.AdminButtonEnabled(i)) << c.what << ": admin button " << i;
        }
    }
}

TEST_F(TokenPanelTest, RowNamesLoseOnlyTrailingBlanks) {
    struct NameCase {
        const char* label;  // padded with blanks to 32 bytes
        const wchar_t* expected;
    } cases[] = {
        {"", L""},                                  // 32 blanks: an empty name
        {"Team key  ring", L"Team key  ring"},      // blanks inside stay
        {"0123456789abcdef0123456789ABCDEF", L"0123456789abcdef0123456789ABCDEF"},  // no padding at all
        {"\xE9t\xE9", L"\u00E9t\u00E9"},            // bytes that are not UTF-8 are widened one by one
        {"M\xC3\xBCller", L"M\u00FCller"},            // UTF-8, as another tool writes it
        // Ten CJK characters (30 bytes) and two letters fill the field.
        {"\xE6\x9D\xB1\xE4\xBA\xAC\xE5\xA4\xA7\xE5\xAD\xA6\xE6\x9D\xB1\xE4\xBA\xAC\xE5\xA4\xA7\xE5\xAD\xA6"
         "\xE6\x9D\xB1\xE4\xBA\xAC" "ab",
         L"\u6771\u4EAC\u5927\u5B66\u6771\u4EAC\u5927\u5B66\u6771\u4EACab"},
        // A two-byte character that just fits, and one cut by the end of the
        // field, which leaves the field no UTF-8 as a whole.
        {"0123456789abcdef0123456789ABCD\xC3\xBC", L"0123456789abcdef0123456789ABCD\u00FC"},
        {"0123456789abcdef0123456789ABCDE\xC3", L"0123456789abcdef0123456789ABCDE\u00C3"},
    };
    for (const NameCase& c : cases) {
        CK_UTF8CHAR label[32];
        memset(label, ' ', sizeof label);
        memcpy(label, c.label, strlen(c.label));
        SetTokenRowName(label, 0, false);
        EXPECT_EQ(c.expected, MainWindowFixture::CellText(AppState.TokenListView, 0, 0)) << c.label;
    }
    // A NUL byte ends the name; blanks before it still go.
    CK_UTF8CHAR withNul[32] = {'a', 'b', ' ', ' ', 0};
    SetTokenRowName(withNul, 0, false);
    EXPECT_EQ(L"ab", MainWindowFixture::CellText(AppState.TokenListView, 0, 0));
    SetTokenRowName(nullptr, 0, false);
    EXPECT_EQ(L"", MainWindowFixture::CellText(AppState.TokenListView, 0, 0));
}

TEST_F(TokenPanelTest, RowStatusTexts) {
    const struct {
        CK_STATE state;
        const wchar_t* text;
    } cases[] = {
        {CKS_RW_USER_FUNCTIONS, L"Logged in"},
        {CKS_RW_SO_FUNCTIONS, L"SO logged in"},
        {CKS_RW_PUBLIC_SESSION, L"Not logged in"},
        {CKS_RO_PUBLIC_SESSION, L"Not logged in"},
        {kNoTokenState, L""},  // -1 clears the cell
    };
    for (const auto& c : cases) {
        SetTokenRowStatus(c.state, 1);
        EXPECT_EQ(c.text, MainWindowFixture::CellText(AppState.TokenListView, 1, 1)) << c.state;
    }
    EXPECT_EQ(L"Not logged in", MainWindowFixture::CellText(AppState.TokenListView, 0, 1))
        << "another row was written";
}

// The panel as a token shows it: fixed-width fields without their blanks.
TEST(TokenPanelValues, FieldsAreTrimmedAndVersionsDecimal) {
    MainWindowFixture window;
    SoftTokenParams params = {};
    params.label = "Versions";
    params.serial = "ABCDEFGHIJ";                          // 10 characters, 6 blanks of padding
    params.manufacturer = "Manufacturer with 30 character";  // 30 characters
    params.model = "Model 16 chars!!";
    params.userPin = kTestUserPin;
    params.hardware = {2, 10};
    params.firmware = {3, 0};
    ASSERT_TRUE(window.AddToken(1, params));
    params.serial = "2";
    params.firmware = {1, 12};
    ASSERT_TRUE(window.AddToken(3, params));
    ASSERT_EQ(0, window.Start());

    const wchar_t* expected[][2] = {
        {L"Slot ID:", L"1"},
        {L"Manufacturer:", L"Manufacturer with 30 character"},
        {L"Serial:", L"ABCDEFGHIJ"},
        {L"Model:", L"Model 16 chars!!"},
        {L"HW Version:", L"2.10"},
        {L"FW Version:", L"3.0"},
    };
    ASSERT_EQ(6, MainWindowFixture::RowCount(AppState.TokenInfoView));
    for (int row = 0; row < 6; ++row) {
        EXPECT_EQ(expected[row][0], MainWindowFixture::CellText(AppState.TokenInfoView, row, 0));
        EXPECT_EQ(expected[row][1], MainWindowFixture::CellText(AppState.TokenInfoView, row, 1));
    }

    window.ClickTokenRow(3);
    EXPECT_EQ(L"3", MainWindowFixture::CellText(AppState.TokenInfoView, 0, 1));
    EXPECT_EQ(L"1.12", MainWindowFixture::CellText(AppState.TokenInfoView, 5, 1));
}

TEST(TokenPanelValues, FieldsFillingTheirWholeWidth) {
    MainWindowFixture window;
    SoftTokenParams params = {};
    params.label = "Full";
    params.serial = "0123456789ABCDEF";
    params.manufacturer = "M234567890123456789012345678901Z";  // 32 characters, no padding
    params.hardware = {255, 255};
    ASSERT_TRUE(window.AddToken(0, params));
    ASSERT_EQ(0, window.Start());
    EXPECT_EQ(L"M234567890123456789012345678901Z", MainWindowFixture::CellText(AppState.TokenInfoView, 1, 1));
    EXPECT_EQ(L"0123456789ABCDEF", MainWindowFixture::CellText(AppState.TokenInfoView, 2, 1));
    EXPECT_EQ(L"255.255", MainWindowFixture::CellText(AppState.TokenInfoView, 4, 1));
}

}  // namespace
