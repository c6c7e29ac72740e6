#include "objects/ObjectRow.h"

#include "cryptoki/ModuleLoader.h"
#include "objects/ObjectText.h"

namespace {

bool IsKey(CK_OBJECT_CLASS objectClass) {
    return objectClass == CKO_PUBLIC_KEY || objectClass == CKO_PRIVATE_KEY;
}

bool IsAvailable(CK_ULONG length) {
    return length != CK_UNAVAILABLE_INFORMATION;
}

CK_RV GetAttributes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle, CK_ATTRIBUTE* attributes,
                    CK_ULONG count) {
    CK_RV rv = Cryptoki.FunctionList->C_GetAttributeValue(session, handle, attributes, count);
    return rv == CKR_ATTRIBUTE_TYPE_INVALID ? CKR_OK : rv;
}

// The length of the value behind `entry`, which a standard module does not
// tell in its CKR_BUFFER_TOO_SMALL answer (it says "unavailable"); a module
// that does tell it is spared the query.
CK_RV QueryLength(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle, const CK_ATTRIBUTE& entry,
                  CK_ULONG* length) {
    if (IsAvailable(entry.ulValueLen) && entry.ulValueLen > 0) {
        *length = entry.ulValueLen;
        return CKR_OK;
    }
    CK_ATTRIBUTE query = {entry.type, nullptr, 0};
    const CK_RV rv = GetAttributes(session, handle, &query, 1);
    *length = query.ulValueLen;
    return rv;
}

// Reads `attributes`, among them `*entry`, which reads `value` into its
// usual buffer. When the module answers that a buffer was too small and
// `value` is the one that does not fit, the whole template is read again
// with a buffer sized to the value. Any other cause of the answer (a
// fixed-size attribute, a length past every bound, lengths that contradict
// each other) stays a failure.
CK_RV GetAttributesWith(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle, CK_ATTRIBUTE* attributes,
                        CK_ULONG count, CK_ATTRIBUTE* entry, VariableValue* value) {
    CK_RV rv = GetAttributes(session, handle, attributes, count);
    value->length = entry->ulValueLen;
    if (rv != CKR_BUFFER_TOO_SMALL)
        return rv;
    CK_ULONG needed = 0;
    const CK_RV queried = QueryLength(session, handle, *entry, &needed);
    if (queried != CKR_OK)
        return queried;
    if (!IsAvailable(needed) || needed <= value->Capacity() || !value->Resize(needed))
        return rv;
    entry->pValue = value->Buffer();
    entry->ulValueLen = value->Capacity();
    rv = GetAttributes(session, handle, attributes, count);
    value->length = entry->ulValueLen;
    return rv;
}

// Certificates and keys: ID, key type and extractable, then the key size.
CK_RV ReadKeyAttributes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle, ObjectAttributes* o) {
    CK_ATTRIBUTE idTemplate[] = {
        {CKA_ID, o->id.Buffer(), o->id.Capacity()},
        {CKA_KEY_TYPE, &o->keyType, sizeof o->keyType},
        {CKA_EXTRACTABLE, &o->extractable, sizeof o->extractable},
    };
    CK_RV rv = GetAttributesWith(session, handle, idTemplate, 3, &idTemplate[0], &o->id);
    o->idRead = true;
    // A certificate has no key size to read (its key type stays at 0, which
    // is also CKK_RSA's value).
    if (rv != CKR_OK || !o->id.Available() || !IsKey(o->objectClass))
        return rv;
    if (o->keyType == CKK_RSA) {
        CK_ATTRIBUTE bits = {CKA_MODULUS_BITS, &o->modulusBits, sizeof o->modulusBits};
        return GetAttributes(session, handle, &bits, 1);
    }
    if (o->keyType == CKK_EC) {
        CK_ATTRIBUTE params = {CKA_EC_PARAMS, o->ecParams.Buffer(), o->ecParams.Capacity()};
        rv = GetAttributesWith(session, handle, &params, 1, &params, &o->ecParams);
        // Parameters longer than what was read (a module overstating their
        // length) match no curve.
        const CK_ULONG length = o->ecParams.length <= o->ecParams.Capacity() ? o->ecParams.length
                                                                              : CK_UNAVAILABLE_INFORMATION;
        if (rv == CKR_OK)
            EcKeySizeFromParams(o->ecParams.Buffer(), length, &o->ecKeySize);
    }
    return rv;
}

CK_RV ReadSecretKeyAttributes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle,
                              ObjectAttributes* o) {
    CK_ATTRIBUTE secretTemplate[] = {
        {CKA_ID, o->id.Buffer(), o->id.Capacity()},
        {CKA_KEY_TYPE, &o->keyType, sizeof o->keyType},
        {CKA_EXTRACTABLE, &o->extractable, sizeof o->extractable},
        {CKA_VALUE_LEN, &o->valueLength, sizeof o->valueLength},
    };
    CK_RV rv = GetAttributesWith(session, handle, secretTemplate, 4, &secretTemplate[0], &o->id);
    o->idRead = true;
    return rv;
}

std::wstring YesNo(CK_BBOOL value) {
    return value ? L"Yes" : L"No";
}

std::wstring IdCell(const ObjectAttributes& o) {
    if (o.objectClass == CKO_DATA)
        return L"N/A";
    if (!o.idRead || !o.id.Available())
        return std::wstring();
    const std::string hex = HexText(o.id.Buffer(), o.id.ReadSize());
    return std::wstring(hex.begin(), hex.end());
}

std::wstring ExtractableCell(const ObjectAttributes& o) {
    if (o.objectClass == CKO_CERTIFICATE || o.objectClass == CKO_PUBLIC_KEY)
        return L"N/A";
    return YesNo(o.extractable);
}

std::wstring KeyLengthCell(const ObjectAttributes& o) {
    if (IsKey(o.objectClass)) {
        if (o.keyType == CKK_RSA)
            return o.objectClass == CKO_PUBLIC_KEY ? std::to_wstring(o.modulusBits) : L"N/A";
        if (o.keyType == CKK_EC)
            return std::to_wstring(o.ecKeySize);
        return L"N/A";
    }
    if (o.objectClass == CKO_SECRET_KEY)
        return std::to_wstring(o.valueLength);
    return L"N/A";
}

}  // namespace

bool VariableValue::Resize(CK_ULONG size) {
    if (size > kMaxSize)
        return false;
    sized_.assign(size, 0);
    return true;
}

size_t VariableValue::ReadSize() const {
    if (!Available())
        return 0;
    return length < Capacity() ? length : Capacity();
}

CK_RV ReadObjectAttributes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle,
                           ObjectAttributes* o) {
    CK_ATTRIBUTE common[] = {
        {CKA_CLASS, &o->objectClass, sizeof o->objectClass},
        {CKA_PRIVATE, &o->isPrivate, sizeof o->isPrivate},
        {CKA_LABEL, o->label.Buffer(), o->label.Capacity()},
    };
    CK_RV rv = GetAttributesWith(session, handle, common, 3, &common[2], &o->label);
    if (rv != CKR_OK)
        return rv;
    if (o->objectClass == CKO_CERTIFICATE || IsKey(o->objectClass))
        return ReadKeyAttributes(session, handle, o);
    if (o->objectClass == CKO_SECRET_KEY)
        return ReadSecretKeyAttributes(session, handle, o);
    return CKR_OK;
}

ObjectRowCells BuildObjectRow(CK_OBJECT_HANDLE handle, const ObjectAttributes& o,
                              const std::wstring& certificateName) {
    ObjectRowCells cells;
    cells[0] = std::to_wstring(static_cast<unsigned long>(handle));
    cells[1] = WidenBytes(ObjectTypeText(o.objectClass, o.keyType));
    cells[2] = o.objectClass == CKO_CERTIFICATE ? certificateName : L"N/A";
    cells[3] = YesNo(o.isPrivate);
    if (o.label.Available())
        cells[4] = LabelText(o.label.Buffer(), o.label.ReadSize());
    cells[5] = IdCell(o);
    cells[6] = ExtractableCell(o);
    cells[7] = KeyLengthCell(o);
    return cells;
}

std::string KeyIdTextOf(const ObjectAttributes& o) {
    if (!IsKey(o.objectClass) || !o.id.Available())
        return std::string();
    return HexText(o.id.Buffer(), o.id.ReadSize());
}
