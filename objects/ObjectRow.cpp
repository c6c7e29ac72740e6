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

// Certificates and keys: ID, key type and extractable, then the key size.
CK_RV ReadKeyAttributes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle, ObjectAttributes* o) {
    CK_ATTRIBUTE idTemplate[] = {
        {CKA_ID, o->id, sizeof o->id},
        {CKA_KEY_TYPE, &o->keyType, sizeof o->keyType},
        {CKA_EXTRACTABLE, &o->extractable, sizeof o->extractable},
    };
    CK_RV rv = GetAttributes(session, handle, idTemplate, 3);
    o->idRead = true;
    o->idLength = idTemplate[0].ulValueLen;
    // A certificate has no key size to read (its key type stays at 0, which
    // is also CKK_RSA's value).
    if (rv != CKR_OK || !IsAvailable(o->idLength) || !IsKey(o->objectClass))
        return rv;
    if (o->keyType == CKK_RSA) {
        CK_ATTRIBUTE bits = {CKA_MODULUS_BITS, &o->modulusBits, sizeof o->modulusBits};
        return GetAttributes(session, handle, &bits, 1);
    }
    if (o->keyType == CKK_EC) {
        CK_ATTRIBUTE params = {CKA_EC_PARAMS, o->ecParams, sizeof o->ecParams};
        rv = GetAttributes(session, handle, &params, 1);
        o->ecParamsLength = params.ulValueLen;
        if (rv == CKR_OK)
            EcKeySizeFromParams(o->ecParams, o->ecParamsLength, &o->ecKeySize);
    }
    return rv;
}

CK_RV ReadSecretKeyAttributes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle,
                              ObjectAttributes* o) {
    CK_ATTRIBUTE secretTemplate[] = {
        {CKA_ID, o->id, sizeof o->id},
        {CKA_KEY_TYPE, &o->keyType, sizeof o->keyType},
        {CKA_EXTRACTABLE, &o->extractable, sizeof o->extractable},
        {CKA_VALUE_LEN, &o->valueLength, sizeof o->valueLength},
    };
    CK_RV rv = GetAttributes(session, handle, secretTemplate, 4);
    o->idRead = true;
    o->idLength = secretTemplate[0].ulValueLen;
    return rv;
}

std::wstring YesNo(CK_BBOOL value) {
    return value ? L"Yes" : L"No";
}

std::wstring IdCell(const ObjectAttributes& o) {
    if (o.objectClass == CKO_DATA)
        return L"N/A";
    if (!o.idRead || !IsAvailable(o.idLength))
        return std::wstring();
    const CK_ULONG length = o.idLength < sizeof o.id ? o.idLength : sizeof o.id;
    const std::string hex = HexText(o.id, length);
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

CK_RV ReadObjectAttributes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle,
                           ObjectAttributes* o) {
    CK_ATTRIBUTE common[] = {
        {CKA_CLASS, &o->objectClass, sizeof o->objectClass},
        {CKA_PRIVATE, &o->isPrivate, sizeof o->isPrivate},
        {CKA_LABEL, o->label, sizeof o->label},
    };
    CK_RV rv = GetAttributes(session, handle, common, 3);
    o->labelLength = common[2].ulValueLen;
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
    if (IsAvailable(o.labelLength))
        cells[4] = LabelText(o.label, o.labelLength < sizeof o.label ? o.labelLength : sizeof o.label);
    cells[5] = IdCell(o);
    cells[6] = ExtractableCell(o);
    cells[7] = KeyLengthCell(o);
    return cells;
}

std::string KeyIdTextOf(const ObjectAttributes& o) {
    if (!IsKey(o.objectClass) || !IsAvailable(o.idLength))
        return std::string();
    const CK_ULONG length = o.idLength < sizeof o.id ? o.idLength : sizeof o.id;
    return HexText(o.id, length);
}
