#include "app/MainWindowControls.h"

#include <commctrl.h>

#include <vector>

#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/InfoTips.h"
#include "app/UiRecord.h"
#include "app/WindowDpi.h"

namespace {

constexpr int kButtonWidth = 125;
constexpr int kButtonHeight = 22;

// Main buttons in the order of AppState.MainButtons: width, height, x, y, ID.
// The last two have no size and no ID, so they are invisible; the state of
// index 7 still governs the "Generate CSR..." menu entries.
const UiRecord kMainButtonTable[kMainButtonCount] = {
    {"Login", kButtonWidth, kButtonHeight, 529, 32, 101},
    {"Set default user pincode", kButtonWidth, kButtonHeight, 529, 75, 102},
    {"Change pincode", kButtonWidth, kButtonHeight, 529, 117, 103},
    {"Display objects", kButtonWidth, kButtonHeight, 20, 165, 104},
    {"Delete", kButtonWidth, kButtonHeight, 190, 165, 105},
    {"Import Cert/PFX", kButtonWidth, kButtonHeight, 360, 165, 106},
    {"Export certificate", kButtonWidth, kButtonHeight, 530, 165, 107},
    {"", 0, 0, 0, 0, 0},
    {"", 0, 0, 0, 0, 0},
};

const UiRecord kAdminButtonTable[kAdminButtonCount] = {
    {"Clear token", kButtonWidth, kButtonHeight, 100, 465, 201},
    {"Unblock user pincode", kButtonWidth, kButtonHeight, 270, 465, 202},
    {"Change SO pincode", kButtonWidth, kButtonHeight, 440, 465, 203},
};

// List columns: only the text and the width are used.
const UiRecord kTokenListColumns[] = {
    {"Token Name", 130, 0, 0, 0, 0},
    {"Login status", 130, 0, 0, 0, 0},
};

const UiRecord kTokenInfoColumns[] = {
    {"Field", 85, 0, 0, 0, 0},
    {"Field", 120, 0, 0, 0, 0},
};

const UiRecord kObjectListColumns[] = {
    {"Handle", 70, 0, 0, 0, 0},
    {"Type", 120, 0, 0, 0, 0},
    {"Certificate Name", 250, 0, 0, 0, 0},
    {"Private", 100, 0, 0, 0, 0},
    {"Label", 225, 0, 0, 0, 0},
    {"ID", 205, 0, 0, 0, 0},
    {"Extractable", 85, 0, 0, 0, 0},
    {"Key length", 95, 0, 0, 0, 0},
};

struct ControlLayout {
    const wchar_t* ClassName;
    const wchar_t* Text;
    DWORD Style;
    int X, Y, Width, Height, Id;
};

// No tab stop: a group box cannot do anything with the focus, and the
// keyboard user would land on it on the way between lists and buttons.
const DWORD kGroupStyle = WS_CHILD | WS_VISIBLE | WS_GROUP | BS_GROUPBOX;

// The lists are tab stops as well as the buttons, so that the window can be
// used from the keyboard alone.
const ControlLayout kTokenListLayout = {
    WC_LISTVIEWW, L"",
    WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_EDITLABELS,
    20, 32, 260, 105, kTokenListId};
const ControlLayout kTokenInfoLayout = {
    WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_EDITLABELS | LVS_NOCOLUMNHEADER,
    300, 32, 210, 105, kTokenInfoId};
const ControlLayout kObjectListLayout = {
    WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_EDITLABELS,
    20, 200, 633, 240, kObjectListId};
const ControlLayout kTokenGroupLayout = {
    L"BUTTON", L"Token Management && Authentication ", kGroupStyle, 15, 15, 643, 130, kTokenGroupId};
const ControlLayout kObjectGroupLayout = {
    L"BUTTON", L"Object management", kGroupStyle, 15, 150, 643, 300, kObjectGroupId};
const ControlLayout kAdminGroupLayout = {
    L"BUTTON", L"Admin tools", kGroupStyle, 15, 450, 643, 45, kAdminGroupId};

// Fonts: height, orientation, weight; all "tahoma", width and escapement 0,
// no italic, underline or strike-out, character set 0, output precision 5,
// clip precision 15, quality 4 (anti-aliased), pitch and family 0.
struct FontStyle {
    int Height;
    int Orientation;
    int Weight;
};
const FontStyle kPanelFont = {13, 10, 500};
const FontStyle kGroupFont = {13, 10, 500};
const FontStyle kEditFont = {13, 10, 400};

struct WindowFonts {
    HFONT Panel = nullptr;
    HFONT Group = nullptr;
    HFONT Button = nullptr;  // only away from the system DPI: else the stock font
    HFONT List = nullptr;    // likewise: else the list-view default
};
WindowFonts g_fonts;

// The 96-DPI layout of every control, kept so that a change of DPI scales
// from these values and never from scaled ones.
struct PlacedControl {
    HWND Control;
    RECT Layout;
};
struct PlacedList {
    HWND List;
    const UiRecord* Columns;
    int Count;
};
struct WindowLayout {
    std::vector<PlacedControl> Controls;
    std::vector<PlacedList> Lists;
    std::vector<HWND> Groups;
    UINT Dpi = kLayoutDpi;
};
WindowLayout g_layout;

HFONT CreateTahoma(const FontStyle& style) {
    return CreateFontW(ScaleToDpi(style.Height, g_layout.Dpi), 0, 0, style.Orientation, style.Weight, FALSE, FALSE,
                       FALSE, 0, 5, 15, 4, 0, L"tahoma");
}

HWND Place(HWND control, int x, int y, int width, int height) {
    if (control)
        g_layout.Controls.push_back({control, RECT{x, y, x + width, y + height}});
    return control;
}

HWND CreateControl(HWND parent, HINSTANCE instance, const ControlLayout& control) {
    HWND created = CreateWindowExW(0, control.ClassName, control.Text, control.Style, control.X, control.Y,
                                   control.Width, control.Height, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.Id)), instance, nullptr);
    if (control.Style & BS_GROUPBOX)
        g_layout.Groups.push_back(created);
    return Place(created, control.X, control.Y, control.Width, control.Height);
}

bool InsertColumns(HWND list, const UiRecord* columns, int count, int format) {
    g_layout.Lists.push_back({list, columns, count});
    for (int i = 0; i < count; ++i) {
        UiText text = WidenUiText(columns[i]);
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        column.fmt = format;
        column.cx = columns[i].Width;
        column.pszText = text.Chars;
        if (SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column)) == -1)
            return false;
    }
    return true;
}

void SetFont(HWND control, HFONT font, bool redraw) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw ? TRUE : FALSE);
}

// Buttons from a table, each created disabled.
void CreateButtons(HWND parent, HINSTANCE instance, const UiRecord* table, int count, HWND* handles) {
    HFONT guiFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    for (int i = 0; i < count; ++i) {
        const UiRecord& record = table[i];
        UiText text = WidenUiText(record);
        // The sizeless buttons only carry a state: Tab must not land on them.
        const DWORD tabStop = record.Width > 0 ? WS_TABSTOP : 0;
        handles[i] = CreateWindowExW(0, L"BUTTON", text.Chars,
                                     WS_CHILD | WS_VISIBLE | WS_DISABLED | tabStop | BS_USERBUTTON, record.X,
                                     record.Y, record.Width, record.Height, parent,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(record.Id)), instance, nullptr);
        Place(handles[i], record.X, record.Y, record.Width, record.Height);
        SetFont(handles[i], guiFont, false);
    }
}

bool CreateListsAndGroups(HWND window, HINSTANCE instance) {
    AppState.TokenListView = CreateControl(window, instance, kTokenListLayout);
    SendMessageW(AppState.TokenListView, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_FULLROWSELECT | LVS_EX_SNAPTOGRID);
    if (!InsertColumns(AppState.TokenListView, kTokenListColumns, ARRAYSIZE(kTokenListColumns), LVCFMT_CENTER))
        return false;

    AppState.TokenInfoView = CreateControl(window, instance, kTokenInfoLayout);
    HWND tokenGroup = CreateControl(window, instance, kTokenGroupLayout);

    g_fonts.Panel = CreateTahoma(kPanelFont);
    g_fonts.Group = CreateTahoma(kGroupFont);
    SetFont(AppState.TokenInfoView, g_fonts.Panel, true);
    if (!InsertColumns(AppState.TokenInfoView, kTokenInfoColumns, ARRAYSIZE(kTokenInfoColumns), LVCFMT_LEFT))
        return false;
    SendMessageW(AppState.TokenInfoView, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT);

    AppState.ObjectListView = CreateControl(window, instance, kObjectListLayout);
    SendMessageW(AppState.ObjectListView, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_FULLROWSELECT | LVS_EX_SNAPTOGRID);
    if (!InsertColumns(AppState.ObjectListView, kObjectListColumns, ARRAYSIZE(kObjectListColumns), LVCFMT_CENTER))
        return false;
    EnableWindow(AppState.ObjectListView, FALSE);

    HWND objectGroup = CreateControl(window, instance, kObjectGroupLayout);
    SetFont(tokenGroup, g_fonts.Group, true);
    SetFont(objectGroup, g_fonts.Group, true);
    return true;
}

// A copy of the system font `stock` for `dpi`: stock fonts are made for the
// system DPI.
HFONT ScaledStockFont(int stock, UINT dpi, UINT systemDpi) {
    LOGFONTW font = {};
    if (!GetObjectW(GetStockObject(stock), sizeof font, &font))
        return nullptr;
    font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(systemDpi));
    return CreateFontIndirectW(&font);
}

void DeleteFont(HFONT* font) {
    if (*font)
        DeleteObject(*font);
    *font = nullptr;
}

// The fonts for the present DPI, set on their controls. At the system DPI
// the buttons keep the stock font and the lists their own.
void ApplyFonts() {
    const UINT dpi = g_layout.Dpi;
    const UINT systemDpi = SystemDpi();
    WindowFonts old = g_fonts;
    g_fonts.Panel = CreateTahoma(kPanelFont);
    g_fonts.Group = CreateTahoma(kGroupFont);
    g_fonts.Button = dpi == systemDpi ? nullptr : ScaledStockFont(DEFAULT_GUI_FONT, dpi, systemDpi);
    g_fonts.List = dpi == systemDpi ? nullptr : ScaledStockFont(DEFAULT_GUI_FONT, dpi, systemDpi);
    SetFont(AppState.TokenInfoView, g_fonts.Panel, true);
    for (HWND group : g_layout.Groups)
        SetFont(group, g_fonts.Group, true);
    HFONT buttonFont = g_fonts.Button ? g_fonts.Button : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    for (HWND button : AppState.MainButtons)
        SetFont(button, buttonFont, true);
    for (HWND button : AppState.AdminButtons)
        if (button)
            SetFont(button, buttonFont, true);
    if (g_fonts.List) {
        SetFont(AppState.TokenListView, g_fonts.List, true);
        SetFont(AppState.ObjectListView, g_fonts.List, true);
    }
    SetInfoTipFont(g_fonts.List);
    DeleteFont(&old.Panel);
    DeleteFont(&old.Group);
    DeleteFont(&old.Button);
    DeleteFont(&old.List);
}

}  // namespace

void ScaleMainWindowControls(UINT dpi) {
    if (dpi == 0 || dpi == g_layout.Dpi)
        return;
    g_layout.Dpi = dpi;
    for (const PlacedControl& placed : g_layout.Controls) {
        const RECT& r = placed.Layout;
        SetWindowPos(placed.Control, nullptr, ScaleToDpi(r.left, dpi), ScaleToDpi(r.top, dpi),
                     ScaleToDpi(r.right - r.left, dpi), ScaleToDpi(r.bottom - r.top, dpi),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    for (const PlacedList& list : g_layout.Lists)
        for (int i = 0; i < list.Count; ++i)
            SendMessageW(list.List, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(i),
                         MAKELPARAM(ScaleToDpi(list.Columns[i].Width, dpi), 0));
    ApplyFonts();
}

UINT MainWindowControlsDpi() {
    return g_layout.Dpi;
}

bool CreateMainWindowControls(HWND window, HINSTANCE instance) {
    g_layout = WindowLayout();
    if (!CreateListsAndGroups(window, instance))
        return false;
    CreateButtons(window, instance, kMainButtonTable, kMainButtonCount, AppState.MainButtons);
    if (AppState.AdminMode) {
        CreateButtons(window, instance, kAdminButtonTable, kAdminButtonCount, AppState.AdminButtons);
        HWND adminGroup = CreateControl(window, instance, kAdminGroupLayout);
        SetFont(adminGroup, g_fonts.Group, true);
    }
    return true;
}

void ReleaseMainWindowFonts() {
    DeleteFont(&g_fonts.Panel);
    DeleteFont(&g_fonts.Group);
    DeleteFont(&g_fonts.Button);
    DeleteFont(&g_fonts.List);
    g_layout = WindowLayout();
}

HFONT CreateSerialEditFont() {
    return CreateTahoma(kEditFont);
}
