#include "admin/PinEntry.h"

#include <cstring>
#include <cwchar>

#include "admin/AdminDialog.h"
#include "cryptoki/SessionTable.h"

PinText::~PinText() {
    Wipe();
}

void PinText::Wipe() {
    SecureZeroMemory(wide_, sizeof wide_);
    SecureZeroMemory(bytes_, sizeof bytes_);
    wideLength_ = 0;
    length_ = 0;
    refusal_ = TextRefusal::None;
}

void PinText::ReadEdit(HWND dialog, int id) {
    wchar_t text[kPinEditLimit + 1] = {};
    GetDlgItemTextW(dialog, id, text, kPinEditLimit + 1);
    SetWide(text);
    SecureZeroMemory(text, sizeof text);
}

void PinText::SetWide(const wchar_t* text) {
    Wipe();
    wcsncpy(wide_, text, kPinEditLimit);
    wideLength_ = wcslen(wide_);
    if (form_ == TokenTextForm::Pin) {
        if (!ConvertPinText(wide_, bytes_, sizeof bytes_))
            refusal_ = TextRefusal::Unsendable;
    } else {
        // A lone surrogate has no UTF-8 form; Windows would send U+FFFD.
        const int written = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide_, -1, bytes_,
                                                static_cast<int>(sizeof bytes_), nullptr, nullptr);
        if (written <= 0)
            refusal_ = TextRefusal::Unsendable;
        else if (static_cast<size_t>(written - 1) > kTokenLabelBytes)
            refusal_ = TextRefusal::TooLong;
        if (refusal_ != TextRefusal::None)
            SecureZeroMemory(bytes_, sizeof bytes_);
    }
    length_ = strlen(bytes_);
}

bool PinText::SameBytes(const PinText& other) const {
    return length_ == other.length_ && memcmp(bytes_, other.bytes_, length_) == 0;
}

bool PassesNewPinChecks(HWND dialog, const PinText& newPin, const PinText& confirmation,
                        const PinText& lengthChecked, const wchar_t* tooShortText) {
    if (!newPin.SameBytes(confirmation)) {
        MessageBoxW(dialog, L"Pincode mismatch.\r\n", L"Pincode mismatch", MB_ICONERROR);
        return false;
    }
    if (lengthChecked.Length() < kMinPinLength) {
        MessageBoxW(dialog, tooShortText, L"Invalid user pincode", MB_ICONERROR);
        return false;
    }
    return true;
}

int DialogSlot(HWND dialog) {
    return DialogCommand(dialog).slot;
}

BOOL OpenOnBoundToken(HWND dialog, int firstEditId) {
    SetFocus(GetDlgItem(dialog, firstEditId));
    if (DialogSlot(dialog) < 0)
        EndDialog(dialog, 0);
    return FALSE;
}

CK_SESSION_HANDLE DialogSession(HWND dialog) {
    return SessionTable[DialogSlot(dialog)];
}
