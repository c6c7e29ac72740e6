// The forms in which PINs and token labels reach the token, and the refusal
// of a text that cannot reach it unchanged.
#pragma once

#include <windows.h>

#include <cstddef>
#include <initializer_list>

// A token label's UTF-8 form fills at most this many bytes of the 32-byte
// blank-padded field of CK_TOKEN_INFO.
constexpr size_t kTokenLabelBytes = 32;

// How a text reaches the token. A PIN goes byte for byte as Latin-1, the
// code the program has always sent PINs in (a token set up earlier keeps
// its PIN); a token label goes as UTF-8, as PKCS#11 defines labels.
enum class TokenTextForm { Pin, Label };

// Why a text cannot be sent unchanged.
enum class TextRefusal {
    None,
    Unsendable,  // a character the form cannot express
    TooLong,     // a label whose UTF-8 form exceeds kTokenLabelBytes
};

// Converts the NUL-terminated `wide` to the 8-bit PIN form into `bytes` of
// `size` bytes (terminated). False, with `bytes` wiped, when a character
// has no Latin-1 byte: the PIN would otherwise reach the token changed (a
// default or best-fit character) or cut short.
bool ConvertPinText(const wchar_t* wide, char* bytes, size_t size);

// An edit of a dialog whose text goes to the token, and its form.
struct TokenTextEdit {
    int id;
    TokenTextForm form;
};

// Reads each edit of `edits` as it would be sent. At the first that cannot
// be sent unchanged, shows why (a box owned by `dialog`), focuses that edit
// and answers true: the dialog stays open and makes no Cryptoki call.
// Nothing read is kept.
bool RefuseUnsendableText(HWND dialog, std::initializer_list<TokenTextEdit> edits);
