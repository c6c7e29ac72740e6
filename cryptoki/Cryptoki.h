// PKCS#11 types and the vendor's function list.
//
// The vendor's module hands out the standard Cryptoki v2 function list with
// two extra entries after C_WaitForSlotEvent: the user-PIN policy setter
// (entry 68) and getter (entry 69). The list is packed to 1 byte on Windows,
// like every other Cryptoki structure.
#pragma once

#include <p11-kit/pkcs11.h>

// Stores the user-PIN policy of a token. The SO must be logged in on
// `session`. Answers CKR_ARGUMENTS_BAD for values out of range.
typedef CK_RV (*CK_C_SetUserPinPolicy)(CK_SLOT_ID slotID, CK_SESSION_HANDLE session,
                                       CK_ULONG complexityLevel, CK_ULONG maxFailedLogins,
                                       CK_ULONG minPinLength, CK_ULONG maxPinLength);

// Reads the user-PIN policy of a token. `which` is always 1 (the user PIN).
typedef CK_RV (*CK_C_GetUserPinPolicy)(CK_SLOT_ID slotID, CK_ULONG which,
                                       CK_ULONG_PTR complexityLevel, CK_ULONG_PTR maxFailedLogins,
                                       CK_ULONG_PTR minPinLength, CK_ULONG_PTR maxPinLength);

#pragma pack(push, 1)
struct VendorFunctionList : CK_FUNCTION_LIST {
    CK_C_SetUserPinPolicy C_SetUserPinPolicy;  // entry 68
    CK_C_GetUserPinPolicy C_GetUserPinPolicy;  // entry 69
};
#pragma pack(pop)

static_assert(sizeof(VendorFunctionList) == sizeof(CK_FUNCTION_LIST) + 2 * sizeof(void*),
              "the vendor entries follow the standard list without padding");
static_assert(sizeof(CK_FUNCTION_LIST) == sizeof(CK_VERSION) + 68 * sizeof(void*),
              "68 standard entries, C_Initialize to C_WaitForSlotEvent");

// The module's file name: a plain name, found by the normal DLL search
// (the program's own folder first), the current folder left out.
constexpr wchar_t kCryptokiModuleName[] = L"tolvane11.dll";
constexpr char kCryptokiModuleNameA[] = "tolvane11.dll";
