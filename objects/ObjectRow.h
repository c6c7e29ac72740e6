// One object of a listing: the attributes read from the token and the eight
// cells of its row in the object list.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "cryptoki/Cryptoki.h"

// A value whose length differs from object to object: the label, the ID,
// the EC parameters. It is read first into a buffer of its usual size,
// which holds every ordinary value without an allocation; a value that does
// not fit is read again into a buffer sized to it.
class VariableValue {
public:
    // The longest usual size.
    static constexpr CK_ULONG kMaxUsualSize = 100;
    // No value the list shows is longer; a module that claims more is not
    // given the memory.
    static constexpr CK_ULONG kMaxSize = 64 * 1024;

    explicit VariableValue(CK_ULONG usualSize) : length(usualSize), usualSize_(usualSize) {}

    unsigned char* Buffer() { return sized_.empty() ? usual_ : sized_.data(); }
    const unsigned char* Buffer() const { return sized_.empty() ? usual_ : sized_.data(); }
    CK_ULONG Capacity() const { return sized_.empty() ? usualSize_ : static_cast<CK_ULONG>(sized_.size()); }
    // A buffer of `size` bytes for the next read; false (and the buffer
    // unchanged) past kMaxSize.
    bool Resize(CK_ULONG size);

    // The length the module answered: the value's, or
    // CK_UNAVAILABLE_INFORMATION.
    CK_ULONG length;
    bool Available() const { return length != CK_UNAVAILABLE_INFORMATION; }
    // The bytes read: the whole value, or as much as the buffer holds when
    // a careless module answers a length beyond it; 0 when unavailable.
    size_t ReadSize() const;

private:
    unsigned char usual_[kMaxUsualSize] = {};
    CK_ULONG usualSize_;
    std::vector<unsigned char> sized_;
};

// Attribute values of one object, reset before each object: numbers 0,
// booleans false, buffers zero, lengths back to their buffer sizes.
struct ObjectAttributes {
    CK_OBJECT_CLASS objectClass = 0;
    CK_BBOOL isPrivate = CK_FALSE;
    VariableValue label{100};
    VariableValue id{100};
    bool idRead = false;  // the class is one whose ID the listing reads
    CK_KEY_TYPE keyType = 0;
    CK_BBOOL extractable = CK_FALSE;
    CK_ULONG modulusBits = 0;
    VariableValue ecParams{20};
    CK_ULONG valueLength = 0;
    CK_ULONG ecKeySize = 0;
};

constexpr int kObjectColumnCount = 8;
using ObjectRowCells = std::array<std::wstring, kObjectColumnCount>;

// Reads the attributes the list shows, in the listing's fixed order. Answers
// CKR_OK, or the first code other than CKR_ATTRIBUTE_TYPE_INVALID (which
// only means that the object lacks some of the attributes asked for). A
// variable value longer than its usual buffer costs a length query and a
// second read of its template; every other object costs no more calls.
CK_RV ReadObjectAttributes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle,
                           ObjectAttributes* object);

// The row's cells: handle, type, certificate name, private, label, ID,
// extractable, key length.
ObjectRowCells BuildObjectRow(CK_OBJECT_HANDLE handle, const ObjectAttributes& object,
                              const std::wstring& certificateName);

// The hexadecimal ID of a key row, empty for every other row.
std::string KeyIdTextOf(const ObjectAttributes& object);
