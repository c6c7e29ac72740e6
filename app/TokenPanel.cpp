#include "app/TokenPanel.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/AppState.h"
#include "app/UiRecord.h"
#include "objects/ObjectText.h"

namespace {

constexpr size_t kLabelBytes = sizeof(CK_TOKEN_INFO::label);  // 32
constexpr size_t kPanelValueBytes = 40;
constexpr int kPanelRowCount = 6;

// Labels of the information panel rows; only the text of each record is used.
const UiRecord kPanelLabels[kPanelRowCount] = {
    {"Slot ID:", 0, 0, 0, 0, 0},
    {"Manufacturer:", 0, 0, 0, 0, 0},
    {"Serial:", 0, 0, 0, 0, 0},
    {"Model:", 0, 0, 0, 0, 0},
    {"HW Version:", 0, 0, 0, 0, 0},
    {"FW Version:", 0, 0, 0, 0, 0},
};

enum ButtonAction : unsigned char { kKeep, kEnable, kDisable };

// What a session state does to each main button.
struct ButtonRule {
    ButtonAction User;   // state 3, CKS_RW_USER_FUNCTIONS
    ButtonAction So;     // state 4, CKS_RW_SO_FUNCTIONS
    ButtonAction Other;  // every other state: nobody logged in
};

const ButtonRule kButtonRules[kMainButtonCount] = {
    {kEnable, kEnable, kEnable},     // Login / Log out (caption set below)
    {kDisable, kEnable, kKeep},      // Set default user pincode: only for the SO
    {kEnable, kEnable, kEnable},     // Change pincode
    {kEnable, kKeep, kEnable},       // Display objects
    {kEnable, kDisable, kDisable},   // Delete: only for the user
    {kEnable, kDisable, kEnable},    // Import Cert/PFX
    {kKeep, kDisable, kKeep},        // Export certificate: else the object-list rule decides
    {kEnable, kDisable, kEnable},    // Generate CSR (invisible button, menu entries follow it)
    {kKeep, kKeep, kKeep},           // spare
};

ButtonAction ActionFor(const ButtonRule& rule, CK_STATE state) {
    if (state == CKS_RW_USER_FUNCTIONS)
        return rule.User;
    if (state == CKS_RW_SO_FUNCTIONS)
        return rule.So;
    return rule.Other;
}

void InsertOrRenameRow(HWND list, const wchar_t* text, int row, bool insert) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.pszText = const_cast<wchar_t*>(text);
    if (insert) {
        // Appended after the last row.
        item.iItem = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        return;
    }
    item.iSubItem = 0;
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void SetCellText(HWND list, int row, int column, const wchar_t* text) {
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text);
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

// The value of panel row `row` as 8-bit text in `value` (cleared beforehand).
void ComposePanelValue(int row, CK_SLOT_ID slot, const CK_TOKEN_INFO& info,
                       char (&value)[kPanelValueBytes]) {
    switch (row) {
    case 0:
        snprintf(value, sizeof value, "%lu", static_cast<unsigned long>(slot));
        break;
    case 1:
        memcpy(value, info.manufacturerID, sizeof info.manufacturerID);
        break;
    case 2:
        memcpy(value, info.serialNumber, sizeof info.serialNumber);
        break;
    case 3:
        memcpy(value, info.model, sizeof info.model);
        break;
    case 4:
        snprintf(value, sizeof value, "%u.%u", info.hardwareVersion.major, info.hardwareVersion.minor);
        break;
    default:
        snprintf(value, sizeof value, "%u.%u", info.firmwareVersion.major, info.firmwareVersion.minor);
        break;
    }
}

}  // namespace

UiText WidenUiText(const UiRecord& record) {
    UiText text;
    WidenBytes(reinterpret_cast<const unsigned char*>(record.Text), kUiTextBytes, text.Chars,
               kUiTextBytes + 1);
    return text;
}

void WidenBytes(const unsigned char* bytes, size_t maxBytes, wchar_t* out, size_t outChars) {
    if (outChars == 0)
        return;
    size_t i = 0;
    for (; i < maxBytes && i + 1 < outChars && bytes[i] != 0; ++i)
        out[i] = static_cast<wchar_t>(bytes[i]);
    out[i] = L'\0';
}

void TrimTrailingBlanks(unsigned char* field, size_t size) {
    for (size_t i = size; i > 0; --i) {
        unsigned char& byte = field[i - 1];
        if (byte == 0)
            continue;
        if (byte != ' ')
            break;
        byte = 0;
    }
}

int UpdateButtonsForState(CK_STATE state) {
    if (AppState.Busy)
        return 0;
    for (HWND button : AppState.AdminButtons)
        if (button)
            EnableWindow(button, TRUE);
    for (int i = 0; i < kMainButtonCount; ++i) {
        const ButtonAction action = ActionFor(kButtonRules[i], state);
        if (action != kKeep)
            EnableWindow(AppState.MainButtons[i], action == kEnable);
    }
    // The caption is set after the button is enabled.
    const bool loggedIn = state == CKS_RW_USER_FUNCTIONS || state == CKS_RW_SO_FUNCTIONS;
    SetWindowTextW(AppState.MainButtons[kLoginButton], loggedIn ? kLogoutCaption : kLoginCaption);
    return 0;
}

// Labels are UTF-8; bytes that are not (a token written by a tool that
// knew no better) are widened one by one, as the object list does.
int SetTokenRowName(CK_UTF8CHAR* label, int row, bool insert) {
    std::wstring name;
    if (label) {
        TrimTrailingBlanks(label, kLabelBytes);
        name = LabelText(label, strnlen(reinterpret_cast<const char*>(label), kLabelBytes));
    }
    InsertOrRenameRow(AppState.TokenListView, name.c_str(), row, insert);
    return 0;
}

void SetTokenRowText(const wchar_t* text, int row, bool insert) {
    InsertOrRenameRow(AppState.TokenListView, text, row, insert);
}

int SetTokenRowStatus(CK_STATE state, int row) {
    const wchar_t* text = kNotLoggedInText;
    if (state == kNoTokenState)
        text = L"";
    else if (state == CKS_RW_USER_FUNCTIONS)
        text = kLoggedInText;
    else if (state == CKS_RW_SO_FUNCTIONS)
        text = kSoLoggedInText;
    SetCellText(AppState.TokenListView, row, 1, text);
    return 0;
}

int FillTokenInfoPanel(CK_SLOT_ID slot, const CK_TOKEN_INFO& tokenInfo) {
    HWND panel = AppState.TokenInfoView;
    for (int n = 0; n < kPanelRowCount; ++n) {
        UiText label = WidenUiText(kPanelLabels[n]);
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(SendMessageW(panel, LVM_GETITEMCOUNT, 0, 0));
        item.pszText = label.Chars;
        const int row = static_cast<int>(SendMessageW(panel, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        if (row < 0)
            continue;

        char value[kPanelValueBytes] = {};
        ComposePanelValue(n, slot, tokenInfo, value);
        TrimTrailingBlanks(reinterpret_cast<unsigned char*>(value), sizeof value);
        wchar_t text[kPanelValueBytes + 1];
        WidenBytes(reinterpret_cast<const unsigned char*>(value), sizeof value, text, kPanelValueBytes + 1);
        SetCellText(panel, row, 1, text);
    }
    return 0;
}
