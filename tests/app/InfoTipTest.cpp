// The token list's info tips: the text from the token's flags and memory,
// read again at every request, through the list view's own request and
// through the tooltip that stands in where the list view has none.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>

#include "app/AppState.h"
#include "app/InfoTips.h"
#include "app/TokenTip.h"
#include "cryptoki/ModuleLoader.h"
#include "support/MainWindowFixture.h"

namespace {

CK_TOKEN_INFO PaddedInfo(const char* label, const char* serial, CK_FLAGS flags) {
    CK_TOKEN_INFO info = {};
    memset(info.label, ' ', sizeof info.label);
    memcpy(info.label, label, strlen(label));
    memset(info.serialNumber, ' ', sizeof info.serialNumber);
    memcpy(info.serialNumber, serial, strlen(serial));
    info.flags = flags;
    info.ulTotalPublicMemory = 65536;
    info.ulFreePublicMemory = 1000;
    info.ulTotalPrivateMemory = CK_UNAVAILABLE_INFORMATION;
    info.ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
    return info;
}

TEST(TokenTip, PinStatesFromTheFlags) {
    const CK_FLAGS ready = CKF_USER_PIN_INITIALIZED;
    const struct {
        const char* what;
        CK_FLAGS flags;
        const char* user;
        const char* so;
        const char* duty;  // the line about the user PIN, or ""
    } rows[] = {
        {"fresh", ready, "OK", "OK", ""},
        {"user count low", ready | CKF_USER_PIN_COUNT_LOW, "count low", "OK", ""},
        // The soft token sets both flags before the last try: it is the last.
        {"user final try", ready | CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY, "final try", "OK", ""},
        {"user locked", ready | CKF_USER_PIN_LOCKED, "locked", "OK", ""},
        {"SO count low", ready | CKF_SO_PIN_COUNT_LOW, "OK", "count low", ""},
        {"SO final try", ready | CKF_SO_PIN_FINAL_TRY, "OK", "final try", ""},
        {"SO locked", ready | CKF_SO_PIN_LOCKED | CKF_USER_PIN_FINAL_TRY, "final try", "locked", ""},
        {"to be changed", ready | CKF_USER_PIN_TO_BE_CHANGED, "OK", "OK", "User PIN: must be changed\r\n"},
        {"no user PIN", 0, "OK", "OK", "User PIN: not initialised yet\r\n"},
    };
    for (const auto& row : rows) {
        const std::wstring tip = TokenTipText(PaddedInfo("My token", "0042", row.flags));
        const std::string expected = std::string("Label: My token\r\nSerial: 0042\r\nUser PIN state: ") + row.user +
                                     "\r\nSO PIN state: " + row.so + "\r\n" + row.duty +
                                     "Public memory: 1000 of 65536 bytes free\r\n"
                                     "Private memory: unknown of unknown bytes free";
        EXPECT_EQ(std::string(tip.begin(), tip.end()), expected) << row.what;
    }
    // Labels are UTF-8 on the token.
    const std::wstring tip = TokenTipText(PaddedInfo("\xC3\x85sa", "1", 0));
    EXPECT_EQ(tip.substr(0, 11), L"Label: \u00C5sa\r");
}

class TokenListTipTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(window_.AddToken(0, "Alpha", "SERIAL-A"));
        ASSERT_EQ(0, window_.Start());
    }

    // What the list view would show for `row`, asked as it asks.
    std::wstring ListViewTip(int row) {
        wchar_t text[1024] = L"stale";
        NMLVGETINFOTIPW request = {};
        request.hdr.hwndFrom = AppState.TokenListView;
        request.hdr.idFrom = GetDlgCtrlID(AppState.TokenListView);
        request.hdr.code = LVN_GETINFOTIPW;
        request.pszText = text;
        request.cchTextMax = ARRAYSIZE(text);
        request.iItem = row;
        SendMessageW(window_.Window(), WM_NOTIFY, request.hdr.idFrom, reinterpret_cast<LPARAM>(&request));
        return text;
    }

    MainWindowFixture window_;
};

TEST_F(TokenListTipTest, TipIsReadAnewAtEveryRequest) {
    EXPECT_TRUE(SendMessageW(AppState.TokenListView, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_INFOTIP);
    std::wstring tip = ListViewTip(0);
    EXPECT_EQ(tip.rfind(L"Label: Alpha\r\nSerial: SERIAL-A\r\nUser PIN state: OK\r\n", 0), 0u);
    // Wrong PINs change the flags on the token: the next tip says so.
    VendorFunctionList* api = Cryptoki.FunctionList;
    CK_UTF8CHAR wrong[] = "0000";
    ASSERT_EQ(CKR_PIN_INCORRECT, api->C_Login(SessionTable[0], CKU_USER, wrong, 4));
    EXPECT_NE(ListViewTip(0).find(L"User PIN state: count low\r\n"), std::wstring::npos);
    while (api->C_Login(SessionTable[0], CKU_USER, wrong, 4) == CKR_PIN_INCORRECT) {
    }
    EXPECT_NE(ListViewTip(0).find(L"User PIN state: locked\r\n"), std::wstring::npos);
    EXPECT_EQ(ListViewTip(1), L"") << "an empty slot has no tip";
}

// The tooltips of this thread owned by the main window (the lists' own
// included).
int OwnedTooltips(HWND mainWindow) {
    struct Count {
        HWND owner;
        int tooltips;
    } count = {mainWindow, 0};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM context) -> BOOL {
            auto* c = reinterpret_cast<Count*>(context);
            wchar_t name[64] = {};
            GetClassNameW(window, name, ARRAYSIZE(name));
            if (_wcsicmp(name, TOOLTIPS_CLASSW) == 0 && GetWindow(window, GW_OWNER) == c->owner)
                ++c->tooltips;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count.tooltips;
}

LONG FontHeight(HWND window) {
    LOGFONTW font = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)), sizeof font, &font);
    return font.lfHeight;
}

// Start-up makes no tooltip of its own: the first mouse move over a list
// does, and it then has the lists' font of that moment (here: after a move
// to 192 DPI).
TEST_F(TokenListTipTest, OwnTooltipIsMadeOnFirstUse) {
    const int atStart = OwnedTooltips(window_.Window());
    constexpr UINT kDpiChanged = 0x02E0;
    RECT proposed = {100, 50, 1500, 1050};
    SendMessageW(window_.Window(), kDpiChanged, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&proposed));
    EXPECT_EQ(atStart, OwnedTooltips(window_.Window()));

    const MSG move = {AppState.TokenListView, WM_MOUSEMOVE, 0, MAKELPARAM(10, 10)};
    RelayInfoTipInput(move);
    EXPECT_EQ(atStart + 1, OwnedTooltips(window_.Window()));
    HWND tooltip = InfoTipWindow();
    ASSERT_TRUE(tooltip);
    EXPECT_EQ(2, static_cast<int>(SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0)));
    EXPECT_EQ(FontHeight(AppState.TokenListView), FontHeight(tooltip));
    EXPECT_NE(FontHeight(AppState.TokenListView), 0);
    proposed = {100, 50, 800, 600};
    SendMessageW(window_.Window(), kDpiChanged, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&proposed));
}

// Wine's list view never asks; the own tooltip asks for the row under the
// mouse and gets the same text.
TEST_F(TokenListTipTest, OwnTooltipShowsTheRowUnderTheMouse) {
    HWND tooltip = InfoTipWindow();
    ASSERT_TRUE(tooltip);
    EXPECT_EQ(2, static_cast<int>(SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0))) << "both lists";
    RECT row = {};
    row.left = LVIR_BOUNDS;
    ASSERT_TRUE(SendMessageW(AppState.TokenListView, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row)));
    POINT point = {(row.left + row.right) / 2, (row.top + row.bottom) / 2};
    ClientToScreen(AppState.TokenListView, &point);
    ASSERT_TRUE(SetCursorPos(point.x, point.y));

    NMTTDISPINFOW request = {};
    request.hdr.hwndFrom = tooltip;
    request.hdr.idFrom = reinterpret_cast<UINT_PTR>(AppState.TokenListView);
    request.hdr.code = TTN_GETDISPINFOW;
    SendMessageW(window_.Window(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&request));
    ASSERT_TRUE(request.lpszText);
    EXPECT_EQ(std::wstring(request.lpszText), InfoTipText(AppState.TokenListView, 0));
    EXPECT_EQ(std::wstring(request.lpszText).substr(0, 12), L"Label: Alpha");

    // Away from every row there is nothing to show.
    point = {2, 2};
    ClientToScreen(window_.Window(), &point);
    SetCursorPos(point.x, point.y);
    request.lpszText = nullptr;
    SendMessageW(window_.Window(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&request));
    ASSERT_TRUE(request.lpszText);
    EXPECT_STREQ(request.lpszText, L"");
}

}  // namespace
