// A request for a new key pair, a certificate for it from a test CA made
// with openssl, and that certificate imported by the program's certificate
// import: it must get the key pair's CKA_ID. Three CTest steps share a
// token kept in the work folder:
//   softpke_tests         ChainRequest: the key pair and chain.pem, chain.id
//   softpke_openssl       issues chain_cert.pem, compares its key identifier
//   softpke_import_issued IssuedCertificate: the import
#include "PkeFixture.h"

#include "app/AppState.h"
#include "cryptoki/ModuleLoader.h"
#include "import/ImportCertificate.h"

#include <fstream>

namespace {

std::wstring ChainStore() {
    return WorkFolder() + L"\\store";
}

// The token of the work folder, with the module loaded on it.
void OpenChainToken(TokenStore& store, bool create) {
    const SoftTokenFunctions& control = TokenStore::Control();
    ASSERT_FALSE(WorkFolder().empty()) << "SOFTPKE_WORK is not set";
    ASSERT_EQ(control.SetStorePath(ChainStore().c_str()), CKR_OK);
    if (create) {
        CreateDirectoryW(ChainStore().c_str(), nullptr);
        ASSERT_EQ(control.InitStore(1), CKR_OK);
        ASSERT_TRUE(store.AddToken(0, "Chain token", "CHAIN0001"));
    }
    ASSERT_TRUE(store.LoadModule());
    ASSERT_TRUE(store.OpenSession(0));
}

TEST(ChainRequest, NewKeyPairForTheTestCa) {
    TokenStore store;
    ASSERT_NO_FATAL_FAILURE(OpenChainToken(store, true));
    PkeLibrary pke;
    ASSERT_TRUE(pke.Load());
    ASSERT_EQ(pke.Ready(), 0);
    CsrInput input;
    input.subject = {{0, "SE"}, {1, "Chain Test"}};
    input.keyBits = 2048;
    input.keyUsage = "digitalSignature, keyEncipherment";
    input.extendedKeyUsage = "clientAuth";
    const CsrOutput out = CallExGenCsr(pke.Handle(), input);
    pke.Unload();
    ASSERT_EQ(out.status, 0);
    ASSERT_EQ(out.auxiliary.size(), 40u);
    const std::string base = Narrow(WorkFolder()) + "\\";
    std::ofstream(base + "chain.pem", std::ios::binary) << out.pem;
    std::ofstream(base + "chain.id", std::ios::binary) << out.auxiliary << "\n";
}

TEST(IssuedCertificate, ImportGivesItTheKeyPairsId) {
    TokenStore store;
    ASSERT_NO_FATAL_FAILURE(OpenChainToken(store, false));
    CK_FUNCTION_LIST_PTR f = Cryptoki.FunctionList;
    const CK_SESSION_HANDLE session = SessionTable[0];
    ASSERT_EQ(f->C_Login(session, CKU_USER, (CK_UTF8CHAR_PTR)kTestUserPin, 4), CKR_OK);
    ASSERT_EQ(ImportCertificate(0, (WorkFolder() + L"\\chain_cert.pem").c_str(), nullptr, nullptr),
              kCertificateStored);

    // The certificate's ID, as the import made it; then the keys with it.
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
    CK_ATTRIBUTE byClass = {CKA_CLASS, &certificateClass, sizeof certificateClass};
    CK_OBJECT_HANDLE certificate = 0;
    CK_ULONG count = 0;
    ASSERT_EQ(f->C_FindObjectsInit(session, &byClass, 1), CKR_OK);
    f->C_FindObjects(session, &certificate, 1, &count);
    f->C_FindObjectsFinal(session);
    ASSERT_EQ(count, 1u);
    unsigned char id[64];
    CK_ATTRIBUTE idAttribute = {CKA_ID, id, sizeof id};
    ASSERT_EQ(f->C_GetAttributeValue(session, certificate, &idAttribute, 1), CKR_OK);
    ASSERT_EQ(idAttribute.ulValueLen, 20u);

    for (CK_OBJECT_CLASS keyClass : {CKO_PRIVATE_KEY, CKO_PUBLIC_KEY}) {
        CK_ATTRIBUTE templ[] = {{CKA_CLASS, &keyClass, sizeof keyClass}, {CKA_ID, id, 20}};
        CK_OBJECT_HANDLE keys[4];
        ASSERT_EQ(f->C_FindObjectsInit(session, templ, 2), CKR_OK);
        f->C_FindObjects(session, keys, 4, &count);
        f->C_FindObjectsFinal(session);
        EXPECT_EQ(count, 1u) << "key class " << keyClass << " with the certificate's ID";
    }
}

}  // namespace
