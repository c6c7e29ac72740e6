#include "objects/Pkcs11Uri.h"

#include <cstring>
#include <vector>

#include "cryptoki/ModuleLoader.h"
#include "cryptoki/SessionTable.h"

namespace {

// RFC 7512: pk11-path-res-avail adds "&" to pk11-p-res-avail.
constexpr char kPathCharacters[] = ":[]@!$'()*+,=&";

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

void AppendPercentByte(std::string* out, unsigned char byte) {
    static const char kHex[] = "0123456789ABCDEF";
    out->push_back('%');
    out->push_back(kHex[byte >> 4]);
    out->push_back(kHex[byte & 0x0F]);
}

std::string TrimmedField(const CK_UTF8CHAR* field, size_t size) {
    size_t length = size;
    while (length > 0 && (field[length - 1] == ' ' || field[length - 1] == '\0'))
        --length;
    return std::string(reinterpret_cast<const char*>(field), length);
}

void AppendAttribute(std::string* uri, bool* first, const char* name, const std::string& value) {
    if (!*first)
        uri->push_back(';');
    *first = false;
    uri->append(name);
    uri->push_back('=');
    uri->append(value);
}

// One attribute of the object, its value whole whatever its length.
bool ReadAttribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle, CK_ATTRIBUTE_TYPE type,
                   std::string* value) {
    CK_ATTRIBUTE attribute = {type, nullptr, 0};
    VendorFunctionList* api = Cryptoki.FunctionList;
    CK_RV rv = api->C_GetAttributeValue(session, handle, &attribute, 1);
    if (rv == CKR_ATTRIBUTE_TYPE_INVALID || attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION) {
        value->clear();
        return true;
    }
    // The listing's bound on one value (a label or an ID) holds here too.
    if (rv != CKR_OK || attribute.ulValueLen > 64 * 1024)
        return false;
    std::vector<char> buffer(attribute.ulValueLen + 1);
    attribute.pValue = buffer.data();
    if (api->C_GetAttributeValue(session, handle, &attribute, 1) != CKR_OK)
        return false;
    value->assign(buffer.data(), attribute.ulValueLen);
    return true;
}

}  // namespace

Pkcs11UriFields TokenUriFields(const CK_TOKEN_INFO& info) {
    Pkcs11UriFields fields;
    fields.token = TrimmedField(info.label, sizeof info.label);
    fields.manufacturer = TrimmedField(info.manufacturerID, sizeof info.manufacturerID);
    fields.model = TrimmedField(info.model, sizeof info.model);
    fields.serial = TrimmedField(info.serialNumber, sizeof info.serialNumber);
    return fields;
}

const char* Pkcs11UriType(CK_OBJECT_CLASS objectClass) {
    switch (objectClass) {
    case CKO_CERTIFICATE:
        return "cert";
    case CKO_DATA:
        return "data";
    case CKO_PRIVATE_KEY:
        return "private";
    case CKO_PUBLIC_KEY:
        return "public";
    case CKO_SECRET_KEY:
        return "secret-key";
    default:
        return nullptr;
    }
}

std::string PercentEncodePathValue(const std::string& bytes) {
    std::string out;
    for (char c : bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (IsUnreserved(byte) || (byte != 0 && std::strchr(kPathCharacters, c)))
            out.push_back(c);
        else
            AppendPercentByte(&out, byte);
    }
    return out;
}

std::string BuildPkcs11Uri(const Pkcs11UriFields& fields) {
    std::string uri = "pkcs11:";
    bool first = true;
    AppendAttribute(&uri, &first, "token", PercentEncodePathValue(fields.token));
    AppendAttribute(&uri, &first, "manufacturer", PercentEncodePathValue(fields.manufacturer));
    AppendAttribute(&uri, &first, "model", PercentEncodePathValue(fields.model));
    AppendAttribute(&uri, &first, "serial", PercentEncodePathValue(fields.serial));
    if (!fields.hasObject)
        return uri;
    if (!fields.object.empty())
        AppendAttribute(&uri, &first, "object", PercentEncodePathValue(fields.object));
    if (fields.type)
        AppendAttribute(&uri, &first, "type", fields.type);
    if (!fields.id.empty()) {
        // Binary: every byte encoded, as the RFC's own examples write IDs.
        std::string id;
        for (char c : fields.id)
            AppendPercentByte(&id, static_cast<unsigned char>(c));
        AppendAttribute(&uri, &first, "id", id);
    }
    return uri;
}

std::wstring ReadPkcs11Uri(int slot, CK_OBJECT_HANDLE handle) {
    if (slot < 0 || slot >= kMaxSlots || !Cryptoki.FunctionList)
        return std::wstring();
    CK_TOKEN_INFO info = {};
    if (Cryptoki.FunctionList->C_GetTokenInfo(static_cast<CK_SLOT_ID>(slot), &info) != CKR_OK)
        return std::wstring();
    Pkcs11UriFields fields = TokenUriFields(info);
    if (handle != 0) {
        const CK_SESSION_HANDLE session = SessionTable[slot];
        CK_OBJECT_CLASS objectClass = 0;
        CK_ATTRIBUTE classAttribute = {CKA_CLASS, &objectClass, sizeof objectClass};
        if (Cryptoki.FunctionList->C_GetAttributeValue(session, handle, &classAttribute, 1) != CKR_OK)
            return std::wstring();
        fields.hasObject = true;
        fields.type = Pkcs11UriType(objectClass);
        if (!ReadAttribute(session, handle, CKA_LABEL, &fields.object) ||
            !ReadAttribute(session, handle, CKA_ID, &fields.id))
            return std::wstring();
    }
    // The URI is ASCII: percent-encoding leaves no other byte.
    const std::string uri = BuildPkcs11Uri(fields);
    return std::wstring(uri.begin(), uri.end());
}
