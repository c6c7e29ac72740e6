#include "ImportTestSupport.h"

#include "app/AppState.h"
#include "cryptoki/ModuleLoader.h"
#include "import/PfxImportState.h"
#include "objects/CertificateName.h"
#include "support/TestFiles.h"

Bytes FromHex(const std::string& hex) {
    Bytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string ToHex(const Bytes& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char b : bytes) {
        hex.push_back(digits[b >> 4]);
        hex.push_back(digits[b & 15]);
    }
    return hex;
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

Bytes FromText(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

std::string FixtureLine(const std::wstring& name) {
    const Bytes bytes = ReadFixture(name);
    std::string text(bytes.begin(), bytes.end());
    const size_t end = text.find_first_of("\r\n");
    return end == std::string::npos ? text : text.substr(0, end);
}

FixtureCertificate::FixtureCertificate(const std::wstring& name) {
    const Bytes der = ReadFixture(name);
    context_ = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
}

FixtureCertificate::~FixtureCertificate() {
    if (context_)
        CertFreeCertificateContext(context_);
}

Bytes FixtureCertificate::Subject() const {
    const CERT_NAME_BLOB& subject = context_->pCertInfo->Subject;
    return Bytes(subject.pbData, subject.pbData + subject.cbData);
}

void ImportTokenTest::SetUp() {
    ASSERT_TRUE(store_.AddToken(kImportSlot, "Import", "I0001"));
    ASSERT_TRUE(store_.LoadModule());
    ASSERT_TRUE(store_.OpenSession(kImportSlot));
    PfxImportState.DialogSlot = kImportSlot;
}

void TokenReader::LoginUser() {
    CK_UTF8CHAR pin[] = {'1', '2', '3', '4'};
    ASSERT_EQ(Cryptoki.FunctionList->C_Login(Session(), CKU_USER, pin, sizeof pin), CKR_OK);
}

CK_SESSION_HANDLE TokenReader::Session() {
    return SessionTable[kImportSlot];
}

std::vector<CK_OBJECT_HANDLE> TokenReader::Objects(CK_OBJECT_CLASS objectClass) {
    std::vector<CK_OBJECT_HANDLE> found;
    CK_ATTRIBUTE query = {CKA_CLASS, &objectClass, sizeof objectClass};
    CK_FUNCTION_LIST* f = Cryptoki.FunctionList;
    if (f->C_FindObjectsInit(Session(), &query, 1) != CKR_OK)
        return found;
    CK_OBJECT_HANDLE handle = 0;
    CK_ULONG count = 0;
    while (f->C_FindObjects(Session(), &handle, 1, &count) == CKR_OK && count == 1)
        found.push_back(handle);
    f->C_FindObjectsFinal(Session());
    return found;
}

namespace {

// An attribute of any length: a length query, then the value.
CK_RV ReadAttributeBytes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle, CK_ATTRIBUTE_TYPE type, Bytes* value) {
    CK_ATTRIBUTE attribute = {type, nullptr, 0};
    CK_RV rv = Cryptoki.FunctionList->C_GetAttributeValue(session, handle, &attribute, 1);
    if (rv != CKR_OK)
        return rv;
    if (attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION)
        return CKR_ATTRIBUTE_TYPE_INVALID;
    value->assign(attribute.ulValueLen, 0);
    if (value->empty())
        return CKR_OK;
    attribute.pValue = value->data();
    rv = Cryptoki.FunctionList->C_GetAttributeValue(session, handle, &attribute, 1);
    if (rv == CKR_OK)
        value->resize(attribute.ulValueLen);
    return rv;
}

}  // namespace

Bytes TokenReader::Read(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, bool* present) {
    Bytes value;
    const CK_RV rv = ReadAttributeBytes(Session(), object, type, &value);
    if (present)
        *present = rv == CKR_OK;
    else
        EXPECT_EQ(rv, CKR_OK) << "attribute 0x" << std::hex << type;
    return value;
}

bool TokenReader::ReadFlag(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
    const Bytes value = Read(object, type);
    return value.size() == 1 && value[0] == CK_TRUE;
}
