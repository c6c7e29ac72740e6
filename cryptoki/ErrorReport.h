// Names of Cryptoki return codes and the one form in which every Cryptoki
// failure is reported to the user:
//   "An error occured due to <NAME 0xvalue>\r\n<context>"
// The functions keep no shared buffers, so any thread may call them.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstddef>
#include <new>
#include <string>

#include "cryptoki/Cryptoki.h"

// Longest report, in characters, without the terminator.
constexpr size_t kMaxReportLength = 399;

// "CKR_PIN_INCORRECT 0xa0", or "Unknown return code 0xE2" for a value that
// is not in the table. Never longer than 199 characters.
std::string GetCkrName(CK_RV rv);

// The report text, cut at kMaxReportLength characters.
std::string ComposeCkErrorA(CK_RV rv, const char* context);
std::wstring ComposeCkErrorW(CK_RV rv, const wchar_t* context);

// Shows the report in a message box without owner window; returns the box's
// answer. Every caller passes MB_ICONERROR as `type`.
int ShowCkErrorA(CK_RV rv, const char* caption, const char* context, UINT type);
int ShowCkErrorW(CK_RV rv, const wchar_t* caption, const wchar_t* context);

// The report of an allocation that failed, "Error in allocating memory", in
// a message box without owner window.
void ShowOutOfMemory();

// Runs `action`. An allocation that fails inside it ends the action and is
// reported (ShowOutOfMemory) instead of escaping to the caller: used at the
// edge of each command, slot event and dialog handler, below which a
// std::bad_alloc would otherwise cross Windows' own code. True when the
// action ran to its end.
template <typename Action>
bool RunReportingOutOfMemory(Action&& action) {
    try {
        action();
        return true;
    } catch (const std::bad_alloc&) {
        ShowOutOfMemory();
        return false;
    }
}

// printf-style formatting of wide text into `buffer` of `capacity`
// characters; always terminated, text that does not fit is cut. Wide string
// arguments are passed with "%ls" (portable between the C runtimes).
// Returns the number of characters written.
int FormatTextWV(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args);
int FormatTextWN(wchar_t* buffer, size_t capacity, const wchar_t* format, ...);

// The same for a fixed array: the capacity is the array's.
template <size_t N, typename... Args>
int FormatTextW(wchar_t (&buffer)[N], const wchar_t* format, Args... args) {
    return FormatTextWN(buffer, N, format, args...);
}
