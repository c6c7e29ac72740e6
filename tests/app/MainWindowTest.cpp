// Start-up in this process: the window, its controls, the rows of the token
// list and the first token's selection.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/InfoTips.h"
#include "app/MainWindow.h"
#include "app/StartUp.h"
#include "app/TokenPanel.h"
#include "app/WindowDpi.h"
#include "support/MainWindowFixture.h"
#include "support/MainWindowLayout.h"
#include "support/UiDriver.h"

namespace {

std::wstring WindowText(HWND window) {
    wchar_t text[128] = {};
    GetWindowTextW(window, text, ARRAYSIZE(text));
    return text;
}

TEST(MainWindowStart, TitleAndSizeInEachMode) {
    const struct {
        bool admin;
        const wchar_t* title;
        int height;
    } cases[] = {
        {false, L"Tolvane Token Manager v0.124 r990722_1", 490},
        {true, L"Tolvane Token Manager Admin v0.124 r990722_1", 535},
    };
    for (const auto& c : cases) {
        MainWindowFixture window;
        ASSERT_TRUE(window.AddToken(0, "Token", "1"));
        ASSERT_EQ(0, window.Start(c.admin));
        EXPECT_EQ(c.title, WindowText(window.Window()));
        RECT rect = {};
        GetWindowRect(window.Window(), &rect);
        EXPECT_EQ(682, rect.right - rect.left);
        EXPECT_EQ(c.height, rect.bottom - rect.top);
        EXPECT_EQ(400, rect.left);
        EXPECT_EQ(200, rect.top);
        const LONG style = GetWindowLongW(window.Window(), GWL_STYLE);
        EXPECT_EQ(0, style & (WS_MAXIMIZEBOX | WS_THICKFRAME)) << "the window has a fixed size";
        EXPECT_EQ(c.admin, AppState.AdminMode);
        // Only administrator mode has the administrator buttons and their box.
        EXPECT_EQ(c.admin, GetDlgItem(window.Window(), kClearTokenCommand) != nullptr);
        EXPECT_EQ(c.admin, GetDlgItem(window.Window(), kAdminGroupId) != nullptr);
        EXPECT_EQ(c.admin, AppState.AdminButtons[0] != nullptr);
    }
}

TEST(MainWindowStart, AdministratorCodeAnywhereInTheCommandLine) {
    EXPECT_TRUE(IsAdminCommandLine("@"));
    EXPECT_TRUE(IsAdminCommandLine("--user=me@home"));
    EXPECT_FALSE(IsAdminCommandLine(""));
    EXPECT_FALSE(IsAdminCommandLine("admin"));
    EXPECT_FALSE(IsAdminCommandLine(nullptr));
}

TEST(MainWindowStart, RowPerSlotAndFirstTokenSelected) {
    MainWindowFixture window(4);
    ASSERT_TRUE(window.AddToken(0, "First token", "1"));
    ASSERT_TRUE(window.AddToken(2, "Second token", "2"));
    ASSERT_EQ(0, window.Start());

    HWND list = AppState.TokenListView;
    ASSERT_EQ(4, MainWindowFixture::RowCount(list));
    const wchar_t* names[] = {L"First token", L" ", L"Second token", L" "};
    const wchar_t* statuses[] = {L"Not logged in", L"", L"Not logged in", L""};
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(names[row], MainWindowFixture::CellText(list, row, 0)) << "row " << row;
        EXPECT_EQ(statuses[row], MainWindowFixture::CellText(list, row, 1)) << "row " << row;
    }
    EXPECT_EQ(0, MainWindowFixture::SelectedRow(list));
    EXPECT_EQ(0, AppState.CurrentSlot);
    EXPECT_EQ(4u, AppState.SlotCount);
    EXPECT_EQ(2u, AppState.TokenCount);
    EXPECT_NE(0u, SessionTable[0]);
    EXPECT_NE(0u, SessionTable[2]);
    EXPECT_EQ(0u, SessionTable[1]);

    // The panel shows the first token; its public session sets the buttons.
    ASSERT_EQ(6, MainWindowFixture::RowCount(AppState.TokenInfoView));
    EXPECT_EQ(L"0", MainWindowFixture::CellText(AppState.TokenInfoView, 0, 1));
    EXPECT_EQ(L"1", MainWindowFixture::CellText(AppState.TokenInfoView, 2, 1));
    EXPECT_EQ(L"Login", window.ButtonCaption(kLoginButton));
    EXPECT_TRUE(window.ButtonEnabled(kLoginButton));
    EXPECT_TRUE(window.ButtonEnabled(kDisplayObjectsButton));
    EXPECT_FALSE(window.ButtonEnabled(kDeleteButton));
    EXPECT_FALSE(window.ButtonEnabled(kDefaultUserPinButton));
    EXPECT_FALSE(window.ButtonEnabled(kExportButton));
    EXPECT_TRUE(IsWindowEnabled(AppState.ObjectListView));
    EXPECT_TRUE(IsWindowVisible(window.Window()));
}

TEST(MainWindowStart, NoTokenLeavesEverythingDisabled) {
    MainWindowFixture window(3);
    UiDriver ui;
    ASSERT_EQ(0, window.Start(true));
    ASSERT_EQ(3, MainWindowFixture::RowCount(AppState.TokenListView));
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(L" ", MainWindowFixture::CellText(AppState.TokenListView, row, 0));
        EXPECT_EQ(L"", MainWindowFixture::CellText(AppState.TokenListView, row, 1));
    }
    EXPECT_EQ(-1, MainWindowFixture::SelectedRow(AppState.TokenListView));
    EXPECT_EQ(-1, AppState.CurrentSlot);
    EXPECT_EQ(0, MainWindowFixture::RowCount(AppState.TokenInfoView));
    for (int i = 0; i < kMainButtonCount; ++i)
        EXPECT_FALSE(window.ButtonEnabled(i)) << "button " << i;
    for (int i = 0; i < kAdminButtonCount; ++i)
        EXPECT_FALSE(window.AdminButtonEnabled(i)) << "admin button " << i;
    EXPECT_FALSE(IsWindowEnabled(AppState.ObjectListView));
    EXPECT_TRUE(ui.Unexpected().empty()) << "no token is no failure";
}

// Every control where the user expects it: class, position, size and ID.
TEST(MainWindowStart, ControlsInPlace) {
    MainWindowFixture window;
    ASSERT_TRUE(window.AddToken(0, "Token", "1"));
    ASSERT_EQ(0, window.Start(true));
    const std::vector<ControlPlace>& controls = MainWindowControlPlaces();
    for (const auto& c : controls) {
        HWND control = GetDlgItem(window.Window(), c.id);
        ASSERT_TRUE(control) << "control " << c.id;
        wchar_t className[64] = {};
        GetClassNameW(control, className, ARRAYSIZE(className));
        EXPECT_STREQ(c.className, className) << "control " << c.id;
        const RECT rect = ClientRectOf(control);
        EXPECT_TRUE(EqualRect(&rect, &c.rect)) << "control " << c.id << " at " << rect.left << "," << rect.top
                                               << " to " << rect.right << "," << rect.bottom;
        EXPECT_EQ(c.text, WindowText(control)) << "control " << c.id;
    }
    // The two spare buttons exist and cannot be seen.
    for (int index : {kCsrButton, kSpareButton}) {
        const RECT rect = ClientRectOf(AppState.MainButtons[index]);
        EXPECT_TRUE(IsRectEmpty(&rect)) << "button " << index;
    }
    EXPECT_EQ(AppState.TokenListView, GetFocus()) << "the token list has the keyboard focus";
    const LONG tokenStyle = GetWindowLongW(AppState.TokenListView, GWL_STYLE);
    EXPECT_TRUE(tokenStyle & LVS_SINGLESEL);
    EXPECT_FALSE(GetWindowLongW(AppState.ObjectListView, GWL_STYLE) & LVS_SINGLESEL) << "several objects at once";
    EXPECT_TRUE(GetWindowLongW(AppState.TokenInfoView, GWL_STYLE) & LVS_NOCOLUMNHEADER);
}

// A move to a monitor of another DPI scales everything from the 96-DPI
// layout, and the way back gives the layout itself: no rounding piles up.
TEST(MainWindowStart, DpiChangeScalesFromTheLayout) {
    MainWindowFixture window;
    ASSERT_TRUE(window.AddToken(0, "Token", "1"));
    ASSERT_EQ(0, window.Start(true));
    constexpr UINT kDpiChanged = 0x02E0;
    LOGFONTW tipAtStart = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(InfoTipWindow(), WM_GETFONT, 0, 0)), sizeof tipAtStart,
               &tipAtStart);
    LONG tipHeightAt96 = 0;
    for (UINT dpi : {192u, 120u, 96u}) {
        // The system's proposal; kept small, so that the screen holds it.
        RECT proposed = {100 + static_cast<LONG>(dpi), 50, 800 + static_cast<LONG>(dpi), 600};
        SendMessageW(window.Window(), kDpiChanged, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&proposed));
        for (const ControlPlace& place : MainWindowControlPlaces()) {
            const RECT rect = ClientRectOf(GetDlgItem(window.Window(), place.id));
            const int left = MulDiv(place.rect.left, dpi, 96);
            const int top = MulDiv(place.rect.top, dpi, 96);
            EXPECT_EQ(left, rect.left) << "control " << place.id << " at " << dpi;
            EXPECT_EQ(top, rect.top) << "control " << place.id << " at " << dpi;
            EXPECT_EQ(MulDiv(place.rect.right - place.rect.left, dpi, 96), rect.right - rect.left) << place.id;
            EXPECT_EQ(MulDiv(place.rect.bottom - place.rect.top, dpi, 96), rect.bottom - rect.top) << place.id;
        }
        EXPECT_EQ(MulDiv(250, dpi, 96), SendMessageW(AppState.ObjectListView, LVM_GETCOLUMNWIDTH, 2, 0)) << dpi;
        LOGFONTW panel = {};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(AppState.TokenInfoView, WM_GETFONT, 0, 0)), sizeof panel,
                   &panel);
        EXPECT_EQ(MulDiv(13, dpi, 96), panel.lfHeight) << dpi;
        // Away from the system DPI the info tip's text has the lists' font
        // (the tooltip keeps a copy of the font it is given).
        LOGFONTW tip = {};
        LOGFONTW list = {};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(InfoTipWindow(), WM_GETFONT, 0, 0)), sizeof tip, &tip);
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(AppState.ObjectListView, WM_GETFONT, 0, 0)), sizeof list,
                   &list);
        if (dpi != 96)
            EXPECT_EQ(list.lfHeight, tip.lfHeight) << dpi;
        else
            tipHeightAt96 = tip.lfHeight;
        RECT placed = {};
        GetWindowRect(window.Window(), &placed);
        EXPECT_TRUE(EqualRect(&placed, &proposed)) << "the window takes the proposed place at " << dpi;
    }
    EXPECT_EQ(tipAtStart.lfHeight, tipHeightAt96) << "the tip's own font is back";
    // Back at 96 DPI the buttons have the stock font again.
    EXPECT_EQ(GetStockObject(DEFAULT_GUI_FONT),
              reinterpret_cast<HGDIOBJ>(SendMessageW(AppState.MainButtons[kLoginButton], WM_GETFONT, 0, 0)));
}

TEST(MainWindowStart, ListColumns) {
    MainWindowFixture window;
    ASSERT_EQ(0, window.Start());
    const struct {
        HWND list;
        std::vector<std::pair<const wchar_t*, int>> columns;
    } lists[] = {
        {AppState.TokenListView, {{L"Token Name", 130}, {L"Login status", 130}}},
        {AppState.TokenInfoView, {{L"Field", 85}, {L"Field", 120}}},
        {AppState.ObjectListView,
         {{L"Handle", 70}, {L"Type", 120}, {L"Certificate Name", 250}, {L"Private", 100}, {L"Label", 225},
          {L"ID", 205}, {L"Extractable", 85}, {L"Key length", 95}}},
    };
    for (const auto& l : lists) {
        HWND header = reinterpret_cast<HWND>(SendMessageW(l.list, LVM_GETHEADER, 0, 0));
        EXPECT_EQ(static_cast<int>(l.columns.size()), static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)));
        for (size_t i = 0; i < l.columns.size(); ++i) {
            wchar_t text[64] = {};
            LVCOLUMNW column = {};
            column.mask = LVCF_TEXT | LVCF_WIDTH;
            column.pszText = text;
            column.cchTextMax = ARRAYSIZE(text);
            ASSERT_TRUE(SendMessageW(l.list, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&column)));
            EXPECT_STREQ(l.columns[i].first, text);
            EXPECT_EQ(l.columns[i].second, column.cx) << text;
        }
    }
}

// The window fits the monitor's work area by moving as little as it can.
TEST(MainWindowPlacement, FitsTheWorkAreaAxisByAxis) {
    const RECT work = {0, 0, 1024, 738};  // a 1024 x 768 screen less its task bar
    const struct {
        const char* what;
        RECT window;
        RECT placed;
    } rows[] = {
        {"fits where it is", {400, 200, 500, 300}, {400, 200, 500, 300}},
        {"too far right", {400, 200, 1082, 690}, {342, 200, 1024, 690}},
        {"too far down", {100, 400, 782, 935}, {100, 203, 782, 738}},
        {"wider than the screen", {400, 10, 1500, 100}, {0, 10, 1100, 100}},
        {"taller than the screen", {10, 200, 110, 1000}, {10, 0, 110, 800}},
        {"left of the work area", {-50, -20, 50, 80}, {0, 0, 100, 100}},
    };
    for (const auto& row : rows) {
        const RECT placed = FitRectToWorkArea(row.window, work);
        EXPECT_TRUE(EqualRect(&placed, &row.placed))
            << row.what << ": " << placed.left << "," << placed.top << " to " << placed.right << "," << placed.bottom;
    }
    // A work area that does not start at 0 (a second monitor, a task bar
    // on the left).
    const RECT offset = FitRectToWorkArea(RECT{0, 0, 100, 100}, RECT{1280, 40, 2000, 600});
    EXPECT_EQ(1280, offset.left);
    EXPECT_EQ(40, offset.top);
    // At 96 DPI the size is the layout's own.
    const SIZE size = ScaledWindowSize(682, 535, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 96);
    EXPECT_EQ(682, size.cx);
    EXPECT_EQ(535, size.cy);
}

TEST(MainWindowStart, IconIsOne64By64ImageOf32Bits) {
    // The group-icon directory of resource 113 lists the images.
#pragma pack(push, 2)
    struct GroupIconEntry {
        BYTE width, height, colors, reserved;
        WORD planes, bitCount;
        DWORD bytes;
        WORD id;
    };
    struct GroupIconDirectory {
        WORD reserved, type, count;
        GroupIconEntry entries[1];
    };
#pragma pack(pop)
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(113), RT_GROUP_ICON);
    ASSERT_TRUE(resource);
    const auto* directory = static_cast<const GroupIconDirectory*>(LockResource(LoadResource(module, resource)));
    ASSERT_EQ(1, directory->count);
    EXPECT_EQ(64, directory->entries[0].width);
    EXPECT_EQ(64, directory->entries[0].height);
    EXPECT_EQ(32, directory->entries[0].bitCount);

    MainWindowFixture window;
    ASSERT_EQ(0, window.Start());
    EXPECT_TRUE(GetClassLongPtrW(window.Window(), GCLP_HICON));
    EXPECT_TRUE(GetClassLongPtrW(window.Window(), GCLP_HICONSM));
    wchar_t className[64] = {};
    GetClassNameW(window.Window(), className, ARRAYSIZE(className));
    EXPECT_STREQ(kMainWindowClass, className);
    EXPECT_EQ(COLOR_MENU + 1, static_cast<int>(GetClassLongPtrW(window.Window(), GCLP_HBRBACKGROUND)));
}

TEST(MainWindowStart, WaitCursorWhileBusy) {
    MainWindowFixture window;
    ASSERT_TRUE(window.AddToken(0, "Token", "1"));
    ASSERT_EQ(0, window.Start());
    HCURSOR wait = LoadCursorW(nullptr, IDC_WAIT);
    const LPARAM overClient = MAKELPARAM(HTCLIENT, WM_MOUSEMOVE);
    for (HWND over : {window.Window(), AppState.TokenListView, AppState.MainButtons[kLoginButton]}) {
        AppState.Busy = true;
        SetCursor(nullptr);
        // A control passes the question to its parent first.
        EXPECT_TRUE(SendMessageW(over, WM_SETCURSOR, reinterpret_cast<WPARAM>(over), overClient));
        EXPECT_EQ(wait, GetCursor());
        AppState.Busy = false;
        SetCursor(nullptr);
        SendMessageW(over, WM_SETCURSOR, reinterpret_cast<WPARAM>(over), overClient);
        EXPECT_NE(wait, GetCursor());
    }
}

TEST(MainWindowStart, ClosingEndsTheLoopWithZero) {
    MainWindowFixture window;
    ASSERT_EQ(0, window.Start());
    HWND main = window.Window();
    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(0, RunMessageLoop());
    EXPECT_FALSE(IsWindow(main));
}

}  // namespace
