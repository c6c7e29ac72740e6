// The dialog templates: caption, and the controls in template order (which
// is also the tab order) with their kinds; every PIN edit hides its text.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "res/resource.h"
#include "support/UiDriver.h"

namespace {

INT_PTR CALLBACK InertDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

// "def:1" default push button, "push:2", "pin:1003" password edit,
// "edit:1004" plain edit, "radio:1013", "box" group box, "text" label.
std::string Describe(HWND control) {
    wchar_t className[32] = {};
    GetClassNameW(control, className, 32);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    const std::string id = std::to_string(GetDlgCtrlID(control));
    if (_wcsicmp(className, L"Edit") == 0)
        return ((style & ES_PASSWORD) ? "pin:" : "edit:") + id;
    if (_wcsicmp(className, L"Static") == 0)
        return "text";
    switch (style & BS_TYPEMASK) {
    case BS_DEFPUSHBUTTON:
        return "def:" + id;
    case BS_PUSHBUTTON:
        return "push:" + id;
    case BS_GROUPBOX:
        return "box";
    case BS_AUTORADIOBUTTON:
        return "radio:" + id;
    default:
        return "button:" + id;
    }
}

struct TemplateRow {
    int id;
    const wchar_t* caption;
    const char* controls;
};

const TemplateRow kTemplates[] = {
    {IDD_LOGIN, L"Login to token", "def:1 push:2 pin:1003 text box"},
    {IDD_CLEAR_TOKEN, L"Clear token", "push:2 def:1 pin:1003 text edit:1004 text box"},
    {IDD_CHANGE_PIN, L"Change pincode", "def:1 push:2 pin:1003 text pin:1006 text pin:1007 text box"},
    {IDD_UNBLOCK_PIN, L"Unblock user pincode", "box pin:1008 pin:1006 pin:1007 def:1 push:2 text text text"},
    {IDD_CHANGE_SO_PIN, L"Change SO pincode", "def:1 push:2 pin:1003 text pin:1006 text pin:1007 text box"},
    {IDD_PIN_POLICY, L"Set user pincode policy",
     "edit:1007 edit:1005 edit:1003 radio:1013 box box radio:1014 radio:1015 radio:1016 pin:1008 def:1 text box "
     "push:2 text text text box"},
};

TEST(DialogTemplateTest, CaptionsAndControlsInTemplateOrder) {
    for (const TemplateRow& row : kTemplates) {
        HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(row.id), nullptr,
                                         InertDialogProc, 0);
        ASSERT_NE(nullptr, dialog) << "template " << row.id;
        wchar_t caption[64] = {};
        GetWindowTextW(dialog, caption, 64);
        std::string controls;
        for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            controls += (controls.empty() ? "" : " ") + Describe(child);
        DestroyWindow(dialog);
        EXPECT_EQ(Narrow(row.caption), Narrow(caption)) << "template " << row.id;
        EXPECT_EQ(row.controls, controls) << "template " << row.id;
    }
}

}  // namespace
