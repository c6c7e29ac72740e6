#include "PkeFixture.h"

#include <wincrypt.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "app/AppState.h"
#include "cryptoki/ModuleLoader.h"
#include "support/TestFiles.h"

namespace {

constexpr size_t kFields = 150;
constexpr size_t kOutputSize = 10000;

using StatusCall = void (*)(int*);
using SetCryptokiCall = void (*)(const char*, const char*, int*);
using LoginCall = void (*)(int, int, const char*, int*);
using SetSignMechCall = void (*)(int, int, int, unsigned int*, int*);
using ExGenCsrCall = void (*)(const char*, const char* const*, const char* const*, int, int, int, int, const char*,
                              const char*, char*, char*, int*);
using SetFaultCall = int (*)(const char*, int, int, int);
using CallCountCall = int (*)(const char*);
using LastArgumentsCall = int (*)(const char*, char*, int);
using PlainCall = int (*)();

bool AllZero(const std::vector<char>& buffer) {
    for (char c : buffer)
        if (c)
            return false;
    return true;
}

}  // namespace

bool PkeLibrary::Load() {
    module_ = LoadLibraryW((BinFolder() + L"\\vexpke.dll").c_str());
    if (!module_)
        return false;
    Entry<PlainCall>("VexPke_ClearFaults")();
    return Entry<PlainCall>("VexPke_StartRecording")() == 0;
}

void PkeLibrary::Unload() {
    if (!module_)
        return;
    Entry<PlainCall>("VexPke_ClearFaults")();
    FreeLibrary(module_);
    module_ = nullptr;
}

int PkeLibrary::InitPke() {
    int status = -1;
    Entry<StatusCall>("initPKE")(&status);
    return status;
}

int PkeLibrary::SetCryptoki(const char* module, const char* configuration) {
    int status = -1;
    Entry<SetCryptokiCall>("setCryptoki")(module, configuration, &status);
    return status;
}

int PkeLibrary::Login(int slotIndex, const char* pin, int userType) {
    int status = -1;
    Entry<LoginCall>("login")(userType, slotIndex, pin, &status);
    return status;
}

int PkeLibrary::SetSignMech(int scheme, int format, int hash, unsigned int word) {
    unsigned int block[3] = {0, word, 0};
    int status = -1;
    Entry<SetSignMechCall>("setSignMech")(scheme, format, hash, block, &status);
    return status;
}

int PkeLibrary::Ready(int slotIndex) {
    int status = InitPke();
    if (status == 0)
        status = SetCryptoki();
    if (status == 0)
        status = Login(slotIndex, kTestUserPin);
    if (status == 0)
        status = SetSignMech();
    return status;
}

int PkeLibrary::SetFault(const char* entry, int nth, int status, bool repeat) {
    return Entry<SetFaultCall>("VexPke_SetFaultEx")(entry, nth, status, repeat ? 1 : 0);
}

int PkeLibrary::StopRecording() {
    return Entry<PlainCall>("VexPke_StopRecording")();
}

int PkeLibrary::CallCount(const char* entry) {
    return Entry<CallCountCall>("VexPke_CallCount")(entry);
}

std::string PkeLibrary::LastArguments(const char* entry) {
    char text[1024] = {};
    return Entry<LastArgumentsCall>("VexPke_LastArguments")(entry, text, sizeof text) >= 0 ? text : "(none)";
}

CsrOutput CallExGenCsr(HMODULE library, const CsrInput& input) {
    static const char* const kEmpty = "";
    std::vector<const char*> subject(kFields, kEmpty), altNames(kFields, kEmpty);
    for (const auto& field : input.subject)
        subject.at(field.first) = field.second.c_str();
    for (const auto& field : input.altNames)
        altNames.at(field.first) = field.second.c_str();
    std::vector<char> auxiliary(kOutputSize), csr(kOutputSize);
    CsrOutput output;
    auto exGenCsr = reinterpret_cast<ExGenCsrCall>(reinterpret_cast<void*>(GetProcAddress(library, "exGenCSR")));
    exGenCsr(input.keyId.c_str(), subject.data(), altNames.data(), input.keyBits, 0, 0, 0, input.keyUsage.c_str(),
             input.extendedKeyUsage.c_str(), auxiliary.data(), csr.data(), &output.status);
    output.buffersUntouched = AllZero(auxiliary) && AllZero(csr);
    output.pem.assign(csr.data(), strnlen(csr.data(), csr.size()));
    output.auxiliary.assign(auxiliary.data(), strnlen(auxiliary.data(), auxiliary.size()));
    return output;
}

void PkeTest::SetUp() {
    ASSERT_TRUE(store_.AddToken(0, "PKE token", "PKE0001"));
    ASSERT_TRUE(store_.LoadModule());
    ASSERT_TRUE(store_.OpenSession(0));
    ASSERT_TRUE(pke_.Load());
}

void PkeTest::TearDown() {
    pke_.Unload();
}

CK_SESSION_HANDLE PkeTest::Session() const {
    return SessionTable[0];
}

CK_FUNCTION_LIST_PTR PkeTest::Functions() const {
    return Cryptoki.FunctionList;
}

CK_STATE PkeTest::SessionState() const {
    CK_SESSION_INFO info = {};
    return Functions()->C_GetSessionInfo(Session(), &info) == CKR_OK ? info.state : ~0UL;
}

std::vector<CK_OBJECT_HANDLE> PkeTest::Objects(CK_OBJECT_CLASS objectClass, const Bytes* id) const {
    CK_ATTRIBUTE templ[] = {{CKA_CLASS, &objectClass, sizeof objectClass},
                            {CKA_ID, id ? const_cast<unsigned char*>(id->data()) : nullptr,
                             id ? static_cast<CK_ULONG>(id->size()) : 0}};
    std::vector<CK_OBJECT_HANDLE> found(64);
    CK_ULONG count = 0;
    if (Functions()->C_FindObjectsInit(Session(), templ, id ? 2 : 1) != CKR_OK)
        return {};
    Functions()->C_FindObjects(Session(), found.data(), static_cast<CK_ULONG>(found.size()), &count);
    Functions()->C_FindObjectsFinal(Session());
    found.resize(count);
    return found;
}

size_t PkeTest::ObjectCount() const {
    std::vector<CK_OBJECT_HANDLE> found(256);
    CK_ULONG count = 0;
    if (Functions()->C_FindObjectsInit(Session(), nullptr, 0) != CKR_OK)
        return ~size_t(0);
    Functions()->C_FindObjects(Session(), found.data(), static_cast<CK_ULONG>(found.size()), &count);
    Functions()->C_FindObjectsFinal(Session());
    return count;
}

Bytes PkeTest::Attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const {
    CK_ATTRIBUTE attribute = {type, nullptr, 0};
    if (Functions()->C_GetAttributeValue(Session(), object, &attribute, 1) != CKR_OK)
        return {};
    Bytes value(attribute.ulValueLen);
    attribute.pValue = value.data();
    if (Functions()->C_GetAttributeValue(Session(), object, &attribute, 1) != CKR_OK)
        return {};
    return value;
}

void PkeTest::AddKeyPair(const Bytes& id, CK_ULONG bits, const char* label) {
    ASSERT_EQ(TokenStore::Control().GenerateKeyPair(0, bits, label, id.data(), static_cast<CK_ULONG>(id.size())),
              CKR_OK);
}

void PkeTest::SaveForOpenssl(const std::string& name, const std::string& pem,
                             const std::vector<std::string>& expected) {
    const std::wstring folder = WorkFolder();
    ASSERT_FALSE(folder.empty()) << "SOFTPKE_WORK is not set";
    const std::string base = Narrow(folder) + "\\" + name;
    std::ofstream(base + ".pem", std::ios::binary) << pem;
    std::ofstream lines(base + ".expect", std::ios::binary);
    for (const std::string& line : expected)
        lines << line << "\n";
}

Bytes FromHex(const std::string& hex) {
    Bytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string ToHex(const Bytes& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

Bytes PemToDer(const std::string& pem) {
    const size_t begin = pem.find("-----\r\n");
    const size_t end = pem.find("-----END");
    if (begin == std::string::npos || end == std::string::npos || end < begin)
        return {};
    const std::string base64 = pem.substr(begin + 7, end - begin - 7);
    DWORD size = 0;
    if (!CryptStringToBinaryA(base64.c_str(), static_cast<DWORD>(base64.size()), CRYPT_STRING_BASE64, nullptr,
                              &size, nullptr, nullptr))
        return {};
    Bytes der(size);
    if (!CryptStringToBinaryA(base64.c_str(), static_cast<DWORD>(base64.size()), CRYPT_STRING_BASE64, der.data(),
                              &size, nullptr, nullptr))
        return {};
    der.resize(size);
    return der;
}

namespace {

template <typename T>
T* Decode(LPCSTR type, const BYTE* data, DWORD size) {
    T* decoded = nullptr;
    DWORD decodedSize = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, type, data, size, CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded,
                             &decodedSize))
        return nullptr;
    return decoded;
}

}  // namespace

namespace {

// One DER element: where its content starts and where the element ends.
struct DerElement {
    const BYTE* content = nullptr;
    const BYTE* end = nullptr;
};

// Reads the element at `at` (short and long length forms); false when it
// runs past `limit`.
bool ReadDerElement(const BYTE* at, const BYTE* limit, DerElement* element) {
    if (limit - at < 2)
        return false;
    const BYTE* p = at + 2;
    size_t length = at[1];
    if (length & 0x80) {
        const size_t bytes = length & 0x7F;
        if (bytes == 0 || bytes > 4 || static_cast<size_t>(limit - p) < bytes)
            return false;
        length = 0;
        for (size_t i = 0; i < bytes; ++i)
            length = (length << 8) | *p++;
    }
    if (static_cast<size_t>(limit - p) < length)
        return false;
    *element = {p, p + length};
    return true;
}

// The subjectPKInfo element of a CertificationRequestInfo: the third element
// of its sequence, after the version and the subject name. (Wine's crypt32
// has no decoder for the whole request body.)
bool FindSubjectPublicKeyInfo(const CRYPT_DER_BLOB& body, const BYTE** start, DWORD* size) {
    const BYTE* limit = body.pbData + body.cbData;
    DerElement sequence, element;
    if (!ReadDerElement(body.pbData, limit, &sequence))
        return false;
    const BYTE* at = sequence.content;
    for (int skipped = 0; skipped < 2; ++skipped) {
        if (!ReadDerElement(at, sequence.end, &element))
            return false;
        at = element.end;
    }
    if (!ReadDerElement(at, sequence.end, &element))
        return false;
    *start = at;
    *size = static_cast<DWORD>(element.end - at);
    return true;
}

}  // namespace

bool RequestPublicKey(const Bytes& request, Bytes* modulus, Bytes* keyIdentifier) {
    auto* signedContent = Decode<CERT_SIGNED_CONTENT_INFO>(X509_CERT, request.data(), static_cast<DWORD>(request.size()));
    if (!signedContent)
        return false;
    const BYTE* keyInfoDer = nullptr;
    DWORD keyInfoSize = 0;
    CERT_PUBLIC_KEY_INFO* keyInfo = nullptr;
    if (FindSubjectPublicKeyInfo(signedContent->ToBeSigned, &keyInfoDer, &keyInfoSize))
        keyInfo = Decode<CERT_PUBLIC_KEY_INFO>(X509_PUBLIC_KEY_INFO, keyInfoDer, keyInfoSize);
    bool taken = false;
    if (keyInfo) {
        const CRYPT_BIT_BLOB& key = keyInfo->PublicKey;
        auto* blob = Decode<BYTE>(RSA_CSP_PUBLICKEYBLOB, key.pbData, key.cbData);
        BYTE digest[20];
        DWORD digestSize = sizeof digest;
        if (blob && CryptHashCertificate(0, CALG_SHA1, 0, key.pbData, key.cbData, digest, &digestSize)) {
            const auto* rsa = reinterpret_cast<const RSAPUBKEY*>(blob + sizeof(BLOBHEADER));
            const BYTE* littleEndian = blob + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
            modulus->assign(std::reverse_iterator<const BYTE*>(littleEndian + rsa->bitlen / 8),
                            std::reverse_iterator<const BYTE*>(littleEndian));
            keyIdentifier->assign(digest, digest + digestSize);
            taken = true;
        }
        if (blob)
            LocalFree(blob);
        LocalFree(keyInfo);
    }
    LocalFree(signedContent);
    return taken;
}

std::wstring WorkFolder() {
    return FolderFromEnvironment(L"SOFTPKE_WORK");
}

std::string Narrow(const std::wstring& wide) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &text[0], size, nullptr, nullptr);
    return text;
}
