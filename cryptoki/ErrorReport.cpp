#include "cryptoki/ErrorReport.h"

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

struct CkrNameEntry {
    CK_RV value;
    const char* name;
};

// The return codes reported by name; every other value gets the fallback.
const CkrNameEntry kCkrNames[] = {
    {0x0, "CKR_OK"},
    {0x1, "CKR_CANCEL"},
    {0x2, "CKR_HOST_MEMORY"},
    {0x3, "CKR_SLOT_ID_INVALID"},
    {0x5, "CKR_GENERAL_ERROR"},
    {0x6, "CKR_FUNCTION_FAILED"},
    {0x7, "CKR_ARGUMENTS_BAD"},
    {0x8, "CKR_NO_EVENT"},
    {0x9, "CKR_NEED_TO_CREATE_THREADS"},
    {0xa, "CKR_CANT_LOCK"},
    {0x10, "CKR_ATTRIBUTE_READ_ONLY"},
    {0x11, "CKR_ATTRIBUTE_SENSITIVE"},
    {0x12, "CKR_ATTRIBUTE_TYPE_INVALID"},
    {0x13, "CKR_ATTRIBUTE_VALUE_INVALID"},
    {0x20, "CKR_DATA_INVALID"},
    {0x21, "CKR_DATA_LEN_RANGE"},
    {0x30, "CKR_DEVICE_ERROR"},
    {0x31, "CKR_DEVICE_MEMORY"},
    {0x32, "CKR_DEVICE_REMOVED"},
    {0x40, "CKR_ENCRYPTED_DATA_INVALID"},
    {0x41, "CKR_ENCRYPTED_DATA_LEN_RANGE"},
    {0x50, "CKR_FUNCTION_CANCELED"},
    {0x51, "CKR_FUNCTION_NOT_PARALLEL"},
    {0x54, "CKR_FUNCTION_NOT_SUPPORTED"},
    {0x60, "CKR_KEY_HANDLE_INVALID"},
    {0x62, "CKR_KEY_SIZE_RANGE"},
    {0x63, "CKR_KEY_TYPE_INCONSISTENT"},
    {0x64, "CKR_KEY_NOT_NEEDED"},
    {0x70, "CKR_MECHANISM_INVALID"},
    {0x71, "CKR_MECHANISM_PARAM_INVALID"},
    {0x82, "CKR_OBJECT_HANDLE_INVALID"},
    {0x90, "CKR_OPERATION_ACTIVE"},
    {0x91, "CKR_OPERATION_NOT_INITIALIZED"},
    {0xa0, "CKR_PIN_INCORRECT"},
    {0xa1, "CKR_PIN_INVALID"},
    {0xa2, "CKR_PIN_LEN_RANGE"},
    {0xa3, "CKR_PIN_EXPIRED"},
    {0xa4, "CKR_PIN_LOCKED"},
    {0xb0, "CKR_SESSION_CLOSED"},
    {0xb1, "CKR_SESSION_COUNT"},
    {0xb3, "CKR_SESSION_HANDLE_INVALID"},
    {0xb5, "CKR_SESSION_READ_ONLY"},
    {0xb6, "CKR_SESSION_EXISTS"},
    {0xb7, "CKR_SESSION_READ_ONLY_EXISTS"},
    {0xb8, "CKR_SESSION_READ_WRITE_SO_EXISTS"},
    {0xc0, "CKR_SIGNATURE_INVALID"},
    {0xc1, "CKR_SIGNATURE_LEN_RANGE"},
    {0xd0, "CKR_TEMPLATE_INCOMPLETE"},
    {0xd1, "CKR_TEMPLATE_INCONSISTENT"},
    {0xe0, "CKR_TOKEN_NOT_PRESENT"},
    {0xe1, "CKR_TOKEN_NOT_RECOGNIZED"},
    {0xf0, "CKR_UNWRAPPING_KEY_HANDLE_INVALID"},
    {0xf1, "CKR_UNWRAPPING_KEY_SIZE_RANGE"},
    {0xf2, "CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT"},
    {0x100, "CKR_USER_ALREADY_LOGGED_IN"},
    {0x101, "CKR_USER_NOT_LOGGED_IN"},
    {0x102, "CKR_USER_PIN_NOT_INITIALIZED"},
    {0x103, "CKR_USER_TYPE_INVALID"},
    {0x104, "CKR_USER_ANOTHER_ALREADY_LOGGED_IN"},
    {0x105, "CKR_USER_TOO_MANY_TYPES"},
    {0x110, "CKR_WRAPPED_KEY_INVALID"},
    {0x112, "CKR_WRAPPED_KEY_LEN_RANGE"},
    {0x113, "CKR_WRAPPING_KEY_HANDLE_INVALID"},
    {0x130, "CKR_DOMAIN_PARAMS_INVALID"},
    {0x150, "CKR_BUFFER_TOO_SMALL"},
    {0x170, "CKR_INFORMATION_SENSITIVE"},
    {0x190, "CKR_CRYPTOKI_NOT_INITIALIZED"},
    {0x191, "CKR_CRYPTOKI_ALREADY_INITIALIZED"},
    {0x1a0, "CKR_MUTEX_BAD"},
    {0x1a1, "CKR_MUTEX_NOT_LOCKED"},
};
static_assert(sizeof(kCkrNames) / sizeof(kCkrNames[0]) == 70, "70 named return codes");

const char kReportFormatA[] = "An error occured due to %s\r\n%s";
const wchar_t kReportFormatW[] = L"An error occured due to %ls\r\n%ls";

// Cuts `text` to the report length without splitting a surrogate pair.
void CutToReportLength(std::wstring& text) {
    if (text.size() <= kMaxReportLength)
        return;
    size_t length = kMaxReportLength;
    if (IS_HIGH_SURROGATE(text[length - 1]))
        --length;
    text.resize(length);
}

std::wstring FormatWide(const wchar_t* format, va_list args) {
    std::vector<wchar_t> buffer(256);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        int written = vswprintf(buffer.data(), buffer.size(), format, copy);
        va_end(copy);
        // Runtimes differ on overflow: some answer -1, some the full length.
        if (written >= 0 && static_cast<size_t>(written) < buffer.size())
            return std::wstring(buffer.data(), static_cast<size_t>(written));
        if (buffer.size() >= (1u << 24))
            return std::wstring();  // a format this large is a programming error
        buffer.resize(buffer.size() * 4);
    }
}

std::wstring FormatWideL(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = FormatWide(format, args);
    va_end(args);
    return text;
}

}  // namespace

std::string GetCkrName(CK_RV rv) {
    char text[200];
    const char* name = nullptr;
    for (const CkrNameEntry& entry : kCkrNames) {
        if (entry.value == rv) {
            name = entry.name;
            break;
        }
    }
    if (name)
        snprintf(text, sizeof text, "%s 0x%lx", name, static_cast<unsigned long>(rv));
    else
        snprintf(text, sizeof text, "Unknown return code 0x%lX", static_cast<unsigned long>(rv));
    return text;
}

std::string ComposeCkErrorA(CK_RV rv, const char* context) {
    char text[kMaxReportLength + 1];
    snprintf(text, sizeof text, kReportFormatA, GetCkrName(rv).c_str(), context ? context : "");
    return text;
}

std::wstring ComposeCkErrorW(CK_RV rv, const wchar_t* context) {
    // Every name is ASCII, so widening byte by byte is exact.
    const std::string name = GetCkrName(rv);
    const std::wstring wideName(name.begin(), name.end());
    std::wstring text = FormatWideL(kReportFormatW, wideName.c_str(), context ? context : L"");
    CutToReportLength(text);
    return text;
}

int ShowCkErrorA(CK_RV rv, const char* caption, const char* context, UINT type) {
    const std::string text = ComposeCkErrorA(rv, context);
    return MessageBoxA(nullptr, text.c_str(), caption, type);
}

int ShowCkErrorW(CK_RV rv, const wchar_t* caption, const wchar_t* context) {
    const std::wstring text = ComposeCkErrorW(rv, context);
    return MessageBoxW(nullptr, text.c_str(), caption, MB_ICONERROR);
}

// Allocates nothing of its own: it runs when an allocation has just failed.
void ShowOutOfMemory() {
    MessageBoxW(nullptr, L"Error in allocating memory", L"", MB_ICONERROR);
}

int FormatTextWV(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args) {
    if (!buffer || capacity == 0)
        return 0;
    std::wstring text = FormatWide(format, args);
    const size_t length = text.size() < capacity - 1 ? text.size() : capacity - 1;
    wmemcpy(buffer, text.data(), length);
    buffer[length] = L'\0';
    return static_cast<int>(length);
}

int FormatTextWN(wchar_t* buffer, size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    int written = FormatTextWV(buffer, capacity, format, args);
    va_end(args);
    return written;
}
