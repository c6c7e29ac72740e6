// What every PIN dialog does the same way: reading a PIN or label edit,
// turning it into the 8-bit text that Cryptoki takes, keeping it in a buffer
// that is wiped when it goes, and finding the token the dialog works on.
#pragma once

#include <windows.h>

#include <cstddef>

#include "admin/TokenText.h"
#include "cryptoki/Cryptoki.h"

// An edit is read up to this many characters; the rest is ignored.
constexpr int kPinEditLimit = 32;
// The 8-bit form may take this many bytes: a label's UTF-8 form needs up to
// three bytes a character. The buffer keeps a terminator beyond.
constexpr size_t kPinBytesLimit = 3 * kPinEditLimit;
// Fewer characters than this make a PIN too short.
constexpr size_t kMinPinLength = 4;

// One PIN or label as read from an edit, wide and as 8-bit text. Both forms
// are overwritten with zeros when the object goes.
class PinText {
public:
    explicit PinText(TokenTextForm form = TokenTextForm::Pin) : form_(form) {}
    ~PinText();
    PinText(const PinText&) = delete;
    PinText& operator=(const PinText&) = delete;

    // Reads control `id` of `dialog` and converts it (see SetWide).
    void ReadEdit(HWND dialog, int id);
    // Takes at most kPinEditLimit characters of `text` and converts them to
    // the text's form. A text that cannot be sent unchanged has an empty
    // 8-bit form and a Refusal(): the dialogs refuse it before any Cryptoki
    // call (RefuseUnsendableText).
    void SetWide(const wchar_t* text);
    void Wipe();

    const wchar_t* Wide() const { return wide_; }
    size_t WideLength() const { return wideLength_; }
    // The 8-bit form, NUL-terminated, and its length in bytes.
    const char* Bytes() const { return bytes_; }
    CK_UTF8CHAR_PTR CkBytes() { return reinterpret_cast<CK_UTF8CHAR_PTR>(bytes_); }
    CK_ULONG Length() const { return static_cast<CK_ULONG>(length_); }
    TextRefusal Refusal() const { return refusal_; }

    // Byte-wise comparison of the 8-bit forms.
    bool SameBytes(const PinText& other) const;

private:
    wchar_t wide_[kPinEditLimit + 1] = {};
    char bytes_[kPinBytesLimit + 1] = {};
    size_t wideLength_ = 0;
    size_t length_ = 0;
    TokenTextForm form_;
    TextRefusal refusal_ = TextRefusal::None;
};

// The local checks of the dialogs that set a new PIN, before any Cryptoki
// call: a confirmation that differs from the new PIN ("Pincode mismatch"),
// then `lengthChecked` shorter than kMinPinLength bytes (`tooShortText`
// under "Invalid user pincode"). Boxes are owned by `dialog`; false after one.
bool PassesNewPinChecks(HWND dialog, const PinText& newPin, const PinText& confirmation,
                        const PinText& lengthChecked, const wchar_t* tooShortText);

// The token the open dialog `dialog` works on: the one selected when its
// command began (-1 for none), whatever the selection does meanwhile.
int DialogSlot(HWND dialog);

// The opening of most PIN dialogs: focuses edit `firstEditId` and ends the
// dialog at once when its command bound no token. The result is
// WM_INITDIALOG's: FALSE, the focus is set.
BOOL OpenOnBoundToken(HWND dialog, int firstEditId);

// The session of the dialog's token, read anew at each use: the slot
// monitor and Clear token replace entries of the session table.
CK_SESSION_HANDLE DialogSession(HWND dialog);
