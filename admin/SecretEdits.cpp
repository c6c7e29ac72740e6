#include "admin/SecretEdits.h"

#include <commctrl.h>

#include <cwchar>

namespace {

constexpr UINT_PTR kSecretEditSubclassId = 0x5EC7;

LRESULT CALLBACK SecretEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR) {
    switch (message) {
    case WM_COPY:
    case WM_CUT:
        return 0;  // nothing is copied, nothing is cut
    case WM_NCDESTROY:
        RemoveWindowSubclass(edit, SecretEditProc, id);
        break;
    default:
        break;
    }
    return DefSubclassProc(edit, message, wParam, lParam);
}

BOOL CALLBACK GuardIfSecret(HWND child, LPARAM) {
    wchar_t className[16] = {};
    GetClassNameW(child, className, 16);
    if (_wcsicmp(className, L"Edit") == 0 && (GetWindowLongW(child, GWL_STYLE) & ES_PASSWORD))
        SetWindowSubclass(child, SecretEditProc, kSecretEditSubclassId, 0);
    return TRUE;
}

}  // namespace

void GuardSecretEdits(HWND dialog) {
    EnumChildWindows(dialog, GuardIfSecret, 0);
}
