// Secrets once an operation is done: the private-key blob a PFX import
// exports is zero before its memory goes back, whether the key objects were
// stored or not; and no PIN, old or new, right or wrong, reaches a file of
// the token's store in the clear.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "../import/ImportTestSupport.h"
#include "app/AppState.h"
#include "cryptoki/ModuleLoader.h"
#include "import/ImportPfx.h"
#include "import/PfxImportState.h"
#include "support/MemoryProbe.h"
#include "support/TestFiles.h"
#include "support/TokenStore.h"

namespace {

// A secret key part as the token was handed it: where it lay in the
// importer's blob, and its bytes.
struct SeenKeyPart {
    const unsigned char* where;
    Bytes value;
};

VendorFunctionList RealFunctions;
std::vector<SeenKeyPart> SeenKeyParts;

CK_RV RecordingCreateObject(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR attributes, CK_ULONG count,
                            CK_OBJECT_HANDLE_PTR object) {
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ATTRIBUTE& a = attributes[i];
        if (a.type == CKA_PRIME_1 || a.type == CKA_PRIVATE_EXPONENT) {
            const auto* bytes = static_cast<const unsigned char*>(a.pValue);
            SeenKeyParts.push_back({bytes, Bytes(bytes, bytes + a.ulValueLen)});
        }
    }
    return RealFunctions.C_CreateObject(session, attributes, count, object);
}

class KeyBlobWipeTest : public ImportTokenTest {
protected:
    void SetUp() override {
        ImportTokenTest::SetUp();
        LoginUser();
        RealFunctions = *Cryptoki.FunctionList;
        spy_ = RealFunctions;
        spy_.C_CreateObject = RecordingCreateObject;
        Cryptoki.FunctionList = &spy_;
        SeenKeyParts.clear();
    }
    void TearDown() override {
        // The store's teardown finalises the module through this list.
        if (Cryptoki.FunctionList == &spy_)
            Cryptoki.FunctionList = &RealFunctions;
    }

    long long ImportFixture(const wchar_t* name) {
        PfxImportState = PfxImportStateRecord();
        wcsncpy(PfxImportState.PfxFilePath, FixturePath(name).c_str(), kPfxPathCapacity - 1);
        PfxImportState.DialogSlot = kImportSlot;
        return ImportPfx(L"secret");
    }

    // The memory the key parts were read from no longer holds them. (The
    // blob is freed by then: reading it is what this check is about.)
    void ExpectKeyPartsGone(const char* when) {
        ASSERT_FALSE(SeenKeyParts.empty()) << when << ": the private key was handed to the token";
        for (const SeenKeyPart& part : SeenKeyParts) {
            ASSERT_TRUE(IsReadableMemory(part.where, part.value.size())) << when;
            EXPECT_NE(std::memcmp(part.where, part.value.data(), part.value.size()), 0)
                << when << ": a key part of " << part.value.size() << " bytes is still in the importer's memory";
        }
    }

    VendorFunctionList spy_;
};

TEST_F(KeyBlobWipeTest, BlobIsZeroAfterTheKeyIsStored) {
    ASSERT_EQ(ImportFixture(L"imp_modern.pfx"), kPfxImported);
    ASSERT_EQ(Objects(CKO_PRIVATE_KEY).size(), 1u);
    EXPECT_EQ(SeenKeyParts.size(), 2u) << "prime 1 and the private exponent";
    ExpectKeyPartsGone("after a stored key");
}

TEST_F(KeyBlobWipeTest, BlobIsZeroWhenTheTokenRefusesTheKey) {
    // Calls of C_CreateObject: certificate, public key, private key.
    ASSERT_EQ(TokenStore::Control().SetFault("C_CreateObject", 3, CKR_DEVICE_MEMORY), CKR_OK);
    ASSERT_EQ(ImportFixture(L"imp_legacy.pfx"), 10 + static_cast<int>(CKR_DEVICE_MEMORY));
    EXPECT_EQ(Objects(CKO_PRIVATE_KEY).size(), 0u);
    ExpectKeyPartsGone("after a refused key");
}

// Every file of a store folder, read whole.
std::vector<std::pair<std::wstring, Bytes>> StoreFiles(const std::wstring& folder) {
    std::vector<std::pair<std::wstring, Bytes>> files;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        Bytes bytes;
        ReadFileBytes(folder + L"\\" + found.cFileName, &bytes);
        files.emplace_back(found.cFileName, bytes);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return files;
}

bool Contains(const Bytes& haystack, const Bytes& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

// A text as 8-bit bytes and as UTF-16LE bytes.
std::vector<Bytes> Forms(const std::string& text) {
    Bytes wide;
    for (char c : text)
        wide.insert(wide.end(), {static_cast<unsigned char>(c), 0});
    return {Bytes(text.begin(), text.end()), wide};
}

CK_RV Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, const std::string& pin) {
    return Cryptoki.FunctionList->C_Login(session, user, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin.data())),
                                          static_cast<CK_ULONG>(pin.size()));
}

CK_RV SetPin(CK_SESSION_HANDLE session, const std::string& oldPin, const std::string& newPin) {
    return Cryptoki.FunctionList->C_SetPIN(
        session, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(oldPin.data())), static_cast<CK_ULONG>(oldPin.size()),
        reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(newPin.data())), static_cast<CK_ULONG>(newPin.size()));
}

TEST(StorePinTest, NoPinReachesAStoreFileInTheClear) {
    const std::string first = "Usr4PinFirst", changed = "Usr4PinChanged", wrong = "Usr4PinWrong",
                      initialised = "Usr4PinInitialised", newSo = "So4PinChanged";
    TokenStore store;
    ASSERT_TRUE(store.AddToken(0, "Pin store label", "PS0001", first.c_str()));
    ASSERT_TRUE(store.LoadModule());
    ASSERT_TRUE(store.OpenSession(0));
    const CK_SESSION_HANDLE session = SessionTable[0];
    VendorFunctionList* f = Cryptoki.FunctionList;

    // The user's PIN changes; a wrong one counts a failure, which is saved.
    ASSERT_EQ(Login(session, CKU_USER, first), CKR_OK);
    ASSERT_EQ(SetPin(session, first, changed), CKR_OK);
    ASSERT_EQ(f->C_Logout(session), CKR_OK);
    ASSERT_EQ(Login(session, CKU_USER, wrong), CKR_PIN_INCORRECT);
    // The security officer sets the user PIN and changes his own.
    ASSERT_EQ(Login(session, CKU_SO, "tolvane"), CKR_OK);
    ASSERT_EQ(f->C_InitPIN(session, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(initialised.data())),
                           static_cast<CK_ULONG>(initialised.size())),
              CKR_OK);
    ASSERT_EQ(SetPin(session, "tolvane", newSo), CKR_OK);
    ASSERT_EQ(f->C_Logout(session), CKR_OK);
    ASSERT_EQ(Login(session, CKU_USER, initialised), CKR_OK);

    const auto files = StoreFiles(store.Path());
    bool labelSeen = false;
    for (const auto& file : files) {
        // The search works: the token's label is stored in the clear.
        labelSeen = labelSeen || Contains(file.second, Forms("Pin store label")[0]);
        for (const std::string& pin : {first, changed, wrong, initialised, newSo, std::string("tolvane")})
            for (const Bytes& form : Forms(pin))
                EXPECT_FALSE(Contains(file.second, form)) << Narrow(file.first) << " holds the PIN " << pin;
    }
    EXPECT_TRUE(labelSeen) << "the token file was read";
}

}  // namespace
