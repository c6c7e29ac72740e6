// The floor of the start-up benchmark: the token manager's window made by
// plain Win32 calls and nothing else. The same class with the same icon,
// the same common controls through the same manifest, the same lists,
// columns, group boxes, buttons and fonts, four token rows and the panel
// rows put in while the window is hidden, the first row selected, then
// shown. No module is loaded and no token is read. This is what any
// program showing this window pays on the system it runs on.
#include <windows.h>
#include <commctrl.h>

namespace {

constexpr int kIconId = 113;
constexpr int kTokens = 4;

struct Control {
    const wchar_t* ClassName;
    const wchar_t* Text;
    DWORD Style;
    int X, Y, Width, Height;
};

constexpr DWORD kListStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_EDITLABELS;
constexpr DWORD kGroupStyle = WS_CHILD | WS_VISIBLE | WS_GROUP | BS_GROUPBOX;
constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_TABSTOP | BS_USERBUTTON;

const Control kTokenList = {WC_LISTVIEWW, L"", kListStyle | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 20, 32, 260, 105};
const Control kPanel = {WC_LISTVIEWW, L"", kListStyle | LVS_NOCOLUMNHEADER, 300, 32, 210, 105};
const Control kObjectList = {WC_LISTVIEWW, L"", kListStyle | WS_DISABLED, 20, 200, 633, 240};
const Control kOthers[] = {
    {L"BUTTON", L"Token Management && Authentication ", kGroupStyle, 15, 15, 643, 130},
    {L"BUTTON", L"Object management", kGroupStyle, 15, 150, 643, 300},
    {L"BUTTON", L"Login", kButtonStyle, 529, 32, 125, 22},
    {L"BUTTON", L"Set default user pincode", kButtonStyle, 529, 75, 125, 22},
    {L"BUTTON", L"Change pincode", kButtonStyle, 529, 117, 125, 22},
    {L"BUTTON", L"Display objects", kButtonStyle, 20, 165, 125, 22},
    {L"BUTTON", L"Delete", kButtonStyle, 190, 165, 125, 22},
    {L"BUTTON", L"Import Cert/PFX", kButtonStyle, 360, 165, 125, 22},
    {L"BUTTON", L"Export certificate", kButtonStyle, 530, 165, 125, 22},
    {L"BUTTON", L"", kButtonStyle, 0, 0, 0, 0},
    {L"BUTTON", L"", kButtonStyle, 0, 0, 0, 0},
};

const wchar_t* const kTokenColumns[] = {L"Token Name", L"Login status"};
const int kTokenWidths[] = {130, 130};
const wchar_t* const kPanelColumns[] = {L"Field", L"Field"};
const int kPanelWidths[] = {85, 120};
const wchar_t* const kObjectColumns[] = {L"Handle", L"Type",  L"Certificate Name", L"Private",
                                         L"Label",  L"ID",    L"Extractable",      L"Key length"};
const int kObjectWidths[] = {70, 120, 250, 100, 225, 205, 85, 95};
const wchar_t* const kPanelRows[][2] = {{L"Slot ID:", L"0"},        {L"Manufacturer:", L"Bench"},
                                        {L"Serial:", L"B0"},         {L"Model:", L"Bench"},
                                        {L"HW Version:", L"1.0"},    {L"FW Version:", L"1.0"}};

HWND Make(HWND parent, const Control& control) {
    return CreateWindowExW(0, control.ClassName, control.Text, control.Style, control.X, control.Y, control.Width,
                           control.Height, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
}

HWND MakeList(HWND parent, const Control& control, const wchar_t* const* columns, const int* widths, int count,
              int format, DWORD extendedStyle) {
    HWND list = Make(parent, control);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, extendedStyle);
    for (int i = 0; i < count; ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        column.fmt = format;
        column.cx = widths[i];
        column.pszText = const_cast<wchar_t*>(columns[i]);
        SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
    }
    return list;
}

void AddRow(HWND list, int row, const wchar_t* first, const wchar_t* second) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(first);
    SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    item.iSubItem = 1;
    item.pszText = const_cast<wchar_t*>(second);
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

HFONT Tahoma() {
    return CreateFontW(13, 0, 0, 10, 500, FALSE, FALSE, FALSE, 0, 5, 15, 4, 0, L"tahoma");
}

HWND g_tokenList = nullptr;

void MakeControls(HWND window) {
    g_tokenList = MakeList(window, kTokenList, kTokenColumns, kTokenWidths, 2, LVCFMT_CENTER,
                           LVS_EX_FULLROWSELECT | LVS_EX_SNAPTOGRID | LVS_EX_INFOTIP);
    HWND panel = MakeList(window, kPanel, kPanelColumns, kPanelWidths, 2, LVCFMT_LEFT, LVS_EX_FULLROWSELECT);
    SendMessageW(panel, WM_SETFONT, reinterpret_cast<WPARAM>(Tahoma()), FALSE);
    MakeList(window, kObjectList, kObjectColumns, kObjectWidths, 8, LVCFMT_CENTER,
             LVS_EX_FULLROWSELECT | LVS_EX_SNAPTOGRID | LVS_EX_INFOTIP);
    HFONT groupFont = Tahoma();
    HFONT buttonFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    for (const Control& control : kOthers)
        SendMessageW(Make(window, control), WM_SETFONT,
                     reinterpret_cast<WPARAM>((control.Style & BS_GROUPBOX) ? groupFont : buttonFont), FALSE);

    SendMessageW(g_tokenList, WM_SETREDRAW, FALSE, 0);
    SendMessageW(panel, WM_SETREDRAW, FALSE, 0);
    const wchar_t* const names[kTokens] = {L"Bench token 0", L"Bench token 1", L"Bench token 2", L"Bench token 3"};
    for (int row = 0; row < kTokens; ++row)
        AddRow(g_tokenList, row, names[row], L"Not logged in");
    for (int row = 0; row < 6; ++row)
        AddRow(panel, row, kPanelRows[row][0], kPanelRows[row][1]);
    LVITEMW selected = {};
    selected.stateMask = selected.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(g_tokenList, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&selected));
    SendMessageW(g_tokenList, WM_SETREDRAW, TRUE, 0);
    SendMessageW(panel, WM_SETREDRAW, TRUE, 0);
}

LRESULT CALLBACK FloorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        MakeControls(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_COOL_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = FloorWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconId));
    windowClass.hIconSm = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_MENU + 1));
    windowClass.lpszClassName = L"Floor Window";
    if (!RegisterClassExW(&windowClass))
        return 1;
    HWND window = CreateWindowExW(0, L"Floor Window", L"Floor window", WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 400,
                                  200, 682, 490, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, show);
    SetFocus(g_tokenList);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
