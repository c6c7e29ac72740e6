// The record of the main window's user-interface tables (buttons, list
// columns, panel labels): an 8-bit text of up to 32 bytes, NUL-padded, and
// five 32-bit integers. Buttons use all five; columns only the width; the
// panel labels only the text.
#pragma once

#include <cstdint>

constexpr int kUiTextBytes = 32;

struct UiRecord {
    char Text[kUiTextBytes];
    int32_t Width;
    int32_t Height;
    int32_t X;
    int32_t Y;
    int32_t Id;
};

// The record's text widened to UTF-16 (at most 32 characters).
struct UiText {
    wchar_t Chars[kUiTextBytes + 1];
};
UiText WidenUiText(const UiRecord& record);
