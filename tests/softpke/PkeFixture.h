// The build's vexpke.dll on a software token, called the way the token
// manager calls it: the module loaded and initialised by the program's
// code first, with the program's own session on slot 0, then the library.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "cryptoki/Cryptoki.h"
#include "support/TokenStore.h"

using Bytes = std::vector<unsigned char>;

// The library, loaded from the bin folder by full path; its working entry
// points and its test control, found by name.
class PkeLibrary {
public:
    bool Load();
    void Unload();
    HMODULE Handle() const { return module_; }

    int InitPke();
    int SetCryptoki(const char* module = "tolvane11.dll", const char* configuration = "");
    int Login(int slotIndex, const char* pin, int userType = 1);
    int SetSignMech(int scheme = 1, int format = 0, int hash = 1, unsigned int word = 0);
    // initPKE, setCryptoki, login (user PIN) and setSignMech; the first
    // non-zero status.
    int Ready(int slotIndex = 0);

    int SetFault(const char* entry, int nth, int status, bool repeat = false);
    // Calls are recorded from Load on, until this.
    int StopRecording();
    int CallCount(const char* entry);
    std::string LastArguments(const char* entry);

private:
    template <typename T>
    T Entry(const char* name) const {
        return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }
    HMODULE module_ = nullptr;
};

// What exGenCSR is given, field by field.
struct CsrInput {
    std::string keyId;                         // "" for a new key pair
    std::map<int, std::string> subject;        // position -> UTF-8
    std::map<int, std::string> altNames;       // position -> UTF-8
    int keyBits = 1024;
    std::string keyUsage;
    std::string extendedKeyUsage;
};

struct CsrOutput {
    int status = -1;
    std::string pem;        // the CSR buffer up to its NUL
    std::string auxiliary;  // the auxiliary buffer up to its NUL
    bool buffersUntouched = false;  // both still all zero
};

CsrOutput CallExGenCsr(HMODULE library, const CsrInput& input);

class PkeTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    CsrOutput Generate(const CsrInput& input) { return CallExGenCsr(pke_.Handle(), input); }

    // The program's session on slot 0 and its function list.
    CK_SESSION_HANDLE Session() const;
    CK_FUNCTION_LIST_PTR Functions() const;
    CK_STATE SessionState() const;

    // Handles of the token objects matching class (and ID, when given).
    std::vector<CK_OBJECT_HANDLE> Objects(CK_OBJECT_CLASS objectClass, const Bytes* id = nullptr) const;
    size_t ObjectCount() const;  // every object the session sees
    Bytes Attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const;
    // A key pair made by the token's tool, with this ID (1024 bits unless told).
    void AddKeyPair(const Bytes& id, CK_ULONG bits = 1024, const char* label = "Existing key");

    // Saves a CSR for the openssl step, with the lines openssl must show.
    static void SaveForOpenssl(const std::string& name, const std::string& pem,
                               const std::vector<std::string>& expected);

    TokenStore store_;
    PkeLibrary pke_;
};

Bytes FromHex(const std::string& hex);
std::string ToHex(const Bytes& bytes);

// The request's DER from its PEM text (platform base64 decoder).
Bytes PemToDer(const std::string& pem);
// The public key of a request, taken apart by the platform's decoders:
// big-endian modulus and the SHA-1 of the key's bit-string contents.
bool RequestPublicKey(const Bytes& request, Bytes* modulus, Bytes* keyIdentifier);

// A folder named by an environment variable (a Linux path from CTest).
std::wstring WorkFolder();
std::string Narrow(const std::wstring& wide);
