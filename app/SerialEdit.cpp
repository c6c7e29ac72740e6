#include "app/SerialEdit.h"

#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/MainWindowControls.h"

namespace {

constexpr int kSerialRow = 2;         // "Serial:" row of the panel
constexpr int kSerialTextChars = 18;  // at most 17 characters and the terminator
constexpr int kSelectionEnd = 50;
const wchar_t kEditFontProperty[] = L"TokenManager.SerialEditFont";

RECT LabelRect(HWND list, int row, int column) {
    RECT rect = {};
    rect.top = column;
    rect.left = LVIR_LABEL;
    SendMessageW(list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect));
    return rect;
}

void ReadSerialText(HWND list, wchar_t (&text)[kSerialTextChars]) {
    text[0] = L'\0';
    LVITEMW item = {};
    item.iSubItem = 1;
    item.pszText = text;
    item.cchTextMax = kSerialTextChars;
    SendMessageW(list, LVM_GETITEMTEXTW, kSerialRow, reinterpret_cast<LPARAM>(&item));
}

// Destroys the edit once: destroying the focused edit moves the focus and so
// sends it another WM_KILLFOCUS while it is being destroyed.
void CloseEdit(HWND edit) {
    if (GetPropW(edit, L"TokenManager.Closing"))
        return;
    SetPropW(edit, L"TokenManager.Closing", reinterpret_cast<HANDLE>(1));
    DestroyWindow(edit);
}

}  // namespace

void OnTokenInfoDoubleClick(const NMITEMACTIVATE& click) {
    if (click.iItem != kSerialRow || click.iSubItem < 1)
        return;
    HWND panel = AppState.TokenInfoView;
    wchar_t text[kSerialTextChars];
    ReadSerialText(panel, text);
    const RECT rect = LabelRect(panel, kSerialRow, click.iSubItem);

    HWND edit = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TRANSPARENT, L"EDIT", text, WS_CHILD | ES_AUTOHSCROLL,
                                rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, panel,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kSerialEditId)),
                                GetModuleHandleW(nullptr), nullptr);
    if (!edit)
        return;
    HFONT font = CreateSerialEditFont();
    SetPropW(edit, kEditFontProperty, font);
    SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    ShowWindow(edit, SW_SHOW);
    AppState.SerialEditOldProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SerialEditProc)));
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, kSelectionEnd);
}

LRESULT CALLBACK SerialEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_KILLFOCUS:
    case WM_CLOSE:
        CloseEdit(window);
        return 0;
    case WM_NCDESTROY: {
        // The edit's own font goes with it.
        HFONT font = static_cast<HFONT>(RemovePropW(window, kEditFontProperty));
        RemovePropW(window, L"TokenManager.Closing");
        LRESULT result = CallWindowProcW(AppState.SerialEditOldProc, window, message, wParam, lParam);
        if (font)
            DeleteObject(font);
        return result;
    }
    default:
        return CallWindowProcW(AppState.SerialEditOldProc, window, message, wParam, lParam);
    }
}
