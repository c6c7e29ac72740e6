// One object of a listing: the attributes read from the token and the eight
// cells of its row in the object list.
#pragma once

#include <array>
#include <string>

#include "cryptoki/Cryptoki.h"

// Attribute values of one object, reset before each object: numbers 0,
// booleans false, buffers zero, lengths back to their buffer sizes.
struct ObjectAttributes {
    CK_OBJECT_CLASS objectClass = 0;
    CK_BBOOL isPrivate = CK_FALSE;
    unsigned char label[100] = {};
    CK_ULONG labelLength = sizeof label;
    unsigned char id[100] = {};
    CK_ULONG idLength = sizeof id;
    bool idRead = false;  // the class is one whose ID the listing reads
    CK_KEY_TYPE keyType = 0;
    CK_BBOOL extractable = CK_FALSE;
    CK_ULONG modulusBits = 0;
    unsigned char ecParams[20] = {};
    CK_ULONG ecParamsLength = sizeof ecParams;
    CK_ULONG valueLength = 0;
    CK_ULONG ecKeySize = 0;
};

constexpr int kObjectColumnCount = 8;
using ObjectRowCells = std::array<std::wstring, kObjectColumnCount>;

// Reads the attributes the list shows, in the listing's fixed order. Answers
// CKR_OK, or the first code other than CKR_ATTRIBUTE_TYPE_INVALID (which
// only means that the object lacks some of the attributes asked for).
CK_RV ReadObjectAttributes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle,
                           ObjectAttributes* object);

// The row's cells: handle, type, certificate name, private, label, ID,
// extractable, key length.
ObjectRowCells BuildObjectRow(CK_OBJECT_HANDLE handle, const ObjectAttributes& object,
                              const std::wstring& certificateName);

// The hexadecimal ID of a key row, empty for every other row.
std::string KeyIdTextOf(const ObjectAttributes& object);
