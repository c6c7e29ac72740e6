#include "app/TokenTip.h"

#include "cryptoki/ModuleLoader.h"
#include "objects/ObjectText.h"

namespace {

// A fixed-width field without its trailing blanks.
size_t TrimmedLength(const CK_UTF8CHAR* field, size_t size) {
    while (size > 0 && (field[size - 1] == ' ' || field[size - 1] == '\0'))
        --size;
    return size;
}

std::wstring FieldText(const CK_UTF8CHAR* field, size_t size) {
    return LabelText(field, TrimmedLength(field, size));
}

std::wstring AmountText(CK_ULONG value) {
    if (value == CK_UNAVAILABLE_INFORMATION)
        return L"unknown";
    return std::to_wstring(value);
}

std::wstring MemoryLine(const wchar_t* name, CK_ULONG free, CK_ULONG total) {
    return std::wstring(name) + L" memory: " + AmountText(free) + L" of " + AmountText(total) + L" bytes free";
}

// What the user PIN still needs before the token is of use.
const wchar_t* UserPinDuty(CK_FLAGS flags) {
    if (!(flags & CKF_USER_PIN_INITIALIZED))
        return L"User PIN: not initialised yet";
    if (flags & CKF_USER_PIN_TO_BE_CHANGED)
        return L"User PIN: must be changed";
    return nullptr;
}

}  // namespace

const wchar_t* PinStateText(CK_FLAGS flags, CK_FLAGS countLow, CK_FLAGS finalTry, CK_FLAGS locked) {
    if (flags & locked)
        return L"locked";
    if (flags & finalTry)
        return L"final try";
    if (flags & countLow)
        return L"count low";
    return L"OK";
}

std::wstring TokenTipText(const CK_TOKEN_INFO& info) {
    std::wstring tip = L"Label: " + FieldText(info.label, sizeof info.label);
    tip += L"\r\nSerial: " + FieldText(info.serialNumber, sizeof info.serialNumber);
    tip += L"\r\nUser PIN state: ";
    tip += PinStateText(info.flags, CKF_USER_PIN_COUNT_LOW, CKF_USER_PIN_FINAL_TRY, CKF_USER_PIN_LOCKED);
    tip += L"\r\nSO PIN state: ";
    tip += PinStateText(info.flags, CKF_SO_PIN_COUNT_LOW, CKF_SO_PIN_FINAL_TRY, CKF_SO_PIN_LOCKED);
    if (const wchar_t* duty = UserPinDuty(info.flags)) {
        tip += L"\r\n";
        tip += duty;
    }
    tip += L"\r\n" + MemoryLine(L"Public", info.ulFreePublicMemory, info.ulTotalPublicMemory);
    tip += L"\r\n" + MemoryLine(L"Private", info.ulFreePrivateMemory, info.ulTotalPrivateMemory);
    return tip;
}

std::wstring ReadTokenTip(int slot) {
    CK_TOKEN_INFO info = {};
    if (slot < 0 || !Cryptoki.FunctionList ||
        Cryptoki.FunctionList->C_GetTokenInfo(static_cast<CK_SLOT_ID>(slot), &info) != CKR_OK)
        return std::wstring();
    return TokenTipText(info);
}
