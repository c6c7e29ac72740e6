#include "app/InfoTips.h"

#include "app/AppState.h"
#include "app/TokenTip.h"
#include "objects/CertificateTip.h"
#include "objects/ObjectListSelection.h"
#include "objects/ObjectTables.h"

namespace {

// Wide enough for the longest line of a certificate's subject; longer
// lines wrap.
constexpr int kTipWidth = 480;
// A tip stays while the user reads it.
constexpr int kTipShowMs = 30000;
// The own tooltip waits longer than the list view's before it shows, so
// that a list view with tips of its own asks first and switches it off.
constexpr UINT kExtraInitialDelayMs = 300;

struct OwnTip {
    HWND Owner = nullptr;   // the main window; the tooltip is made on first use
    HWND Window = nullptr;
    // A copy of the tooltip's font as created, for the system DPI: a
    // tooltip may delete the font it holds when it is given another.
    HFONT OwnFont = nullptr;
    HFONT ListFont = nullptr;  // the lists' font away from the system DPI
    std::wstring Text;  // the text being shown; read again at every request
    HWND HoverList = nullptr;
    int HoverRow = -1;
};
OwnTip g_tip;

int RowAt(HWND list, POINT client) {
    LVHITTESTINFO hit = {};
    hit.pt = client;
    const int row = static_cast<int>(SendMessageW(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    return (hit.flags & LVHT_ONITEM) ? row : -1;
}

int RowUnderCursor(HWND list) {
    POINT point = {};
    GetCursorPos(&point);
    ScreenToClient(list, &point);
    return RowAt(list, point);
}

void AddTool(HWND mainWindow, HWND list) {
    TTTOOLINFOW tool = {};
    tool.cbSize = sizeof tool;
    // Mouse input comes from the message loop (RelayInfoTipInput): a
    // subclassed list would pay for every message the listing sends it.
    tool.uFlags = TTF_IDISHWND;
    tool.hwnd = mainWindow;
    tool.uId = reinterpret_cast<UINT_PTR>(list);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    SendMessageW(g_tip.Window, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void EnableInfoTipStyle(HWND list) {
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_INFOTIP, LVS_EX_INFOTIP);
}

// The tooltip itself, made the first time the mouse comes over a list:
// start-up pays for every window it makes, and most runs never need this
// one early.
HWND EnsureOwnTip() {
    if (g_tip.Window || !g_tip.Owner)
        return g_tip.Window;
    g_tip.Window = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, g_tip.Owner, nullptr,
                                   nullptr, nullptr);
    if (!g_tip.Window)
        return nullptr;
    LOGFONTW font = {};
    if (GetObjectW(reinterpret_cast<HFONT>(SendMessageW(g_tip.Window, WM_GETFONT, 0, 0)), sizeof font, &font))
        g_tip.OwnFont = CreateFontIndirectW(&font);
    if (g_tip.ListFont)
        SendMessageW(g_tip.Window, WM_SETFONT, reinterpret_cast<WPARAM>(g_tip.ListFont), FALSE);
    // Lines break at "\r\n" only once the tip has a width.
    SendMessageW(g_tip.Window, TTM_SETMAXTIPWIDTH, 0, kTipWidth);
    SendMessageW(g_tip.Window, TTM_SETDELAYTIME, TTDT_AUTOPOP, kTipShowMs);
    SendMessageW(g_tip.Window, TTM_SETDELAYTIME, TTDT_INITIAL, GetDoubleClickTime() + kExtraInitialDelayMs);
    AddTool(g_tip.Owner, AppState.TokenListView);
    AddTool(g_tip.Owner, AppState.ObjectListView);
    return g_tip.Window;
}

}  // namespace

void CreateInfoTips(HWND mainWindow) {
    EnableInfoTipStyle(AppState.TokenListView);
    EnableInfoTipStyle(AppState.ObjectListView);
    if (g_tip.OwnFont)
        DeleteObject(g_tip.OwnFont);
    g_tip = OwnTip();
    g_tip.Owner = mainWindow;
}

std::wstring InfoTipText(HWND list, int row) {
    if (row < 0)
        return std::wstring();
    if (list == AppState.TokenListView)
        return ReadTokenTip(row);  // row = slot ID
    // A listing worker uses the session: its rows get their tips after it.
    if (list != AppState.ObjectListView || AppState.Busy || !IsCertificateRow(list, row))
        return std::wstring();
    return ReadCertificateTip(AppState.CurrentSlot, ObjectHandleAt(row));
}

void OnGetInfoTip(NMLVGETINFOTIPW& request) {
    // The list view shows tips itself: the own tooltip would show a second.
    if (g_tip.Window)
        SendMessageW(g_tip.Window, TTM_ACTIVATE, FALSE, 0);
    if (!request.pszText || request.cchTextMax <= 0)
        return;
    const std::wstring text = InfoTipText(request.hdr.hwndFrom, request.iItem);
    const size_t room = static_cast<size_t>(request.cchTextMax) - 1;
    const size_t length = text.size() < room ? text.size() : room;
    text.copy(request.pszText, length);
    request.pszText[length] = L'\0';
}

bool OnInfoTipNotify(const NMHDR& header) {
    if (!g_tip.Window || header.hwndFrom != g_tip.Window)
        return false;
    if (header.code == TTN_GETDISPINFOW) {
        auto& request = const_cast<NMTTDISPINFOW&>(reinterpret_cast<const NMTTDISPINFOW&>(header));
        HWND list = reinterpret_cast<HWND>(header.idFrom);
        g_tip.Text = InfoTipText(list, RowUnderCursor(list));
        request.lpszText = const_cast<wchar_t*>(g_tip.Text.c_str());
        request.hinst = nullptr;
    }
    return true;
}

void RelayInfoTipInput(const MSG& message) {
    if (!g_tip.Owner || message.message < WM_MOUSEFIRST || message.message > WM_MOUSELAST)
        return;
    HWND list = message.hwnd;
    if (!list || (list != AppState.TokenListView && list != AppState.ObjectListView) || !EnsureOwnTip())
        return;
    if (message.message == WM_MOUSEMOVE) {
        // The tooltip asks for a text only when it appears: moving to
        // another row hides it, so that it asks again for that row.
        const POINT point = {static_cast<short>(LOWORD(message.lParam)), static_cast<short>(HIWORD(message.lParam))};
        const int row = RowAt(list, point);
        if (list != g_tip.HoverList || row != g_tip.HoverRow) {
            g_tip.HoverList = list;
            g_tip.HoverRow = row;
            SendMessageW(g_tip.Window, TTM_POP, 0, 0);
        }
    }
    MSG relayed = message;
    SendMessageW(g_tip.Window, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
}

void SetInfoTipFont(HFONT font) {
    g_tip.ListFont = font;
    if (g_tip.Window && (font || g_tip.OwnFont))
        SendMessageW(g_tip.Window, WM_SETFONT, reinterpret_cast<WPARAM>(font ? font : g_tip.OwnFont), FALSE);
}

HWND InfoTipWindow() {
    return EnsureOwnTip();
}
