#include "admin/TokenText.h"

#include "admin/PinEntry.h"

namespace {

// ISO 8859-1: each character up to U+00FF is the byte of the same value,
// which is how the run-time library's conversion has always sent PINs.
constexpr UINT kLatin1CodePage = 28591;

struct RefusalMessage {
    TokenTextForm form;
    TextRefusal refusal;
    const wchar_t* caption;
    const wchar_t* text;
};

const RefusalMessage kRefusalMessages[] = {
    {TokenTextForm::Pin, TextRefusal::Unsendable, L"Invalid pincode",
     L"The pincode contains characters that cannot be sent to the token.\nPlease use only the letters, digits "
     L"and signs of an English keyboard.\r\n"},
    {TokenTextForm::Label, TextRefusal::Unsendable, L"Invalid token label",
     L"The token label contains characters that cannot be sent to the token.\r\n"},
    {TokenTextForm::Label, TextRefusal::TooLong, L"Invalid token label",
     L"The token label is too long.\nIt may take at most 32 bytes in UTF-8: 32 letters of the English "
     L"alphabet, fewer of other alphabets.\r\n"},
};

const RefusalMessage* MessageFor(TokenTextForm form, TextRefusal refusal) {
    for (const RefusalMessage& message : kRefusalMessages)
        if (message.form == form && message.refusal == refusal)
            return &message;
    return nullptr;
}

}  // namespace

bool ConvertPinText(const wchar_t* wide, char* bytes, size_t size) {
    BOOL usedDefault = FALSE;
    // No best fit: it would send "A" for "\u0100", a PIN the user never typed.
    const int written = WideCharToMultiByte(kLatin1CodePage, WC_NO_BEST_FIT_CHARS, wide, -1, bytes,
                                            static_cast<int>(size), nullptr, &usedDefault);
    if (written > 0 && !usedDefault)
        return true;
    SecureZeroMemory(bytes, size);
    return false;
}

bool RefuseUnsendableText(HWND dialog, std::initializer_list<TokenTextEdit> edits) {
    for (const TokenTextEdit& edit : edits) {
        PinText text(edit.form);
        text.ReadEdit(dialog, edit.id);
        const RefusalMessage* message = MessageFor(edit.form, text.Refusal());
        if (!message)
            continue;
        MessageBoxW(dialog, message->text, message->caption, MB_ICONERROR);
        SetFocus(GetDlgItem(dialog, edit.id));
        return true;
    }
    return false;
}
