// The main window at 144 DPI (150 %), run by run_at_dpi.sh in a Wine prefix
// whose LogPixels is 144: every control, column and font is its 96-DPI
// value times 1.5, and the window lies inside the work area.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/WindowDpi.h"
#include "support/MainWindowFixture.h"
#include "support/MainWindowLayout.h"
#include "support/TestFiles.h"
#include "support/UiDriver.h"
#include "tour/ScreenCapture.h"

namespace {

constexpr UINT kTestDpi = 144;

int AtTestDpi(int value) {
    return MulDiv(value, kTestDpi, 96);
}

class DpiTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(window_.AddToken(0, "Token", "1"));
        ASSERT_EQ(0, window_.Start(true));
        ASSERT_EQ(kTestDpi, WindowDpi(window_.Window())) << "the launcher sets LogPixels to 144";
    }
    MainWindowFixture window_;
};

TEST_F(DpiTest, ControlsAreTheirLayoutTimesOneAndAHalf) {
    for (const ControlPlace& place : MainWindowControlPlaces()) {
        HWND control = GetDlgItem(window_.Window(), place.id);
        ASSERT_TRUE(control) << place.id;
        const RECT rect = ClientRectOf(control);
        const RECT expected = {AtTestDpi(place.rect.left), AtTestDpi(place.rect.top), AtTestDpi(place.rect.left) +
                               AtTestDpi(place.rect.right - place.rect.left), AtTestDpi(place.rect.top) +
                               AtTestDpi(place.rect.bottom - place.rect.top)};
        EXPECT_TRUE(EqualRect(&rect, &expected)) << "control " << place.id << " at " << rect.left << "," << rect.top
                                                 << " to " << rect.right << "," << rect.bottom;
    }
    // The client area holds the admin box: 495 at 96 DPI.
    RECT client = {};
    GetClientRect(window_.Window(), &client);
    EXPECT_GE(client.bottom, AtTestDpi(495));
    EXPECT_GE(client.right, AtTestDpi(658));

    // The picture of the README, when the build asks for it.
    const std::wstring shots = FolderFromEnvironment(L"TM_DPI_SHOTS");
    if (!shots.empty()) {
        CreateDirectoryW(shots.c_str(), nullptr);
        RECT area = {};
        GetWindowRect(window_.Window(), &area);
        window_.Pump();
        EXPECT_TRUE(SaveBmp(CaptureSettled(area, 1500), shots + L"\\main-window-144dpi.bmp"));
    }
}

TEST_F(DpiTest, ColumnsAndFontsScale) {
    const struct {
        HWND list;
        std::vector<int> widths;
    } lists[] = {
        {AppState.TokenListView, {130, 130}},
        {AppState.TokenInfoView, {85, 120}},
        {AppState.ObjectListView, {70, 120, 250, 100, 225, 205, 85, 95}},
    };
    for (const auto& l : lists)
        for (size_t i = 0; i < l.widths.size(); ++i)
            EXPECT_EQ(AtTestDpi(l.widths[i]), SendMessageW(l.list, LVM_GETCOLUMNWIDTH, i, 0)) << i;
    LOGFONTW panel = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(AppState.TokenInfoView, WM_GETFONT, 0, 0)), sizeof panel, &panel);
    EXPECT_EQ(AtTestDpi(13), panel.lfHeight);
    EXPECT_STREQ(L"tahoma", panel.lfFaceName);
}

// Dialogs are laid out in dialog units of their "MS Shell Dlg" 8-point
// font, which the system makes for the DPI: they grow by themselves.
TEST_F(DpiTest, DialogsGrowWithTheirFont) {
    UiDriver ui;
    LOGFONTW font = {};
    RECT unit = {0, 0, 4, 8};  // one average character in dialog units
    DialogStep step;
    step.caption = L"Login to token";
    step.inspect = [&](HWND dialog) {
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof font, &font);
        MapDialogRect(dialog, &unit);
        const std::wstring shots = FolderFromEnvironment(L"TM_DPI_SHOTS");
        RECT area = {};
        if (!shots.empty() && GetWindowRect(dialog, &area))
            SaveBmp(CaptureSettled(area, 1500), shots + L"\\login-144dpi.bmp");
    };
    step.button = IDCANCEL;
    ui.Then(step);
    window_.Click(kLoginCommand);
    std::string why;
    ASSERT_TRUE(ui.WaitDone(&why)) << why;
    EXPECT_EQ(-MulDiv(8, kTestDpi, 72), font.lfHeight) << "8 points at 144 DPI";
    // At 96 DPI a character of this font is about 6 x 13 pixels.
    EXPECT_GE(unit.right, 8);
    EXPECT_GE(unit.bottom, 19);
}

// Too wide for a 1280-pixel screen at (400, 200): moved left just enough.
TEST_F(DpiTest, WindowMovesJustEnoughToFit) {
    RECT window = {};
    GetWindowRect(window_.Window(), &window);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(window_.Window(), MONITOR_DEFAULTTONEAREST), &monitor));
    const RECT& work = monitor.rcWork;
    EXPECT_GE(window.left, work.left);
    EXPECT_GE(window.top, work.top);
    EXPECT_LE(window.right, work.right);
    EXPECT_LE(window.bottom, work.bottom);
    EXPECT_TRUE(window.left == 400 || window.right == work.right) << window.left;
    EXPECT_TRUE(window.top == 200 || window.bottom == work.bottom) << window.top;
    EXPECT_GT(window.right - window.left, AtTestDpi(658)) << "the window grew with the DPI";
}

}  // namespace
