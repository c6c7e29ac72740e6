#include "CsrFixture.h"
#include "PkeControl.h"

#include <commctrl.h>

#include <cstdio>

#include "app/AppState.h"
#include "app/ControlIds.h"
#include "cryptoki/ModuleLoader.h"
#include "csr/CsrRequest.h"
#include "csr/PkeLibrary.h"
#include "support/DirectListing.h"
#include "support/TestFiles.h"
#include "support/TokenStore.h"

namespace {

const unsigned char kKeyId[] = {0x0A, 0xFF};

}  // namespace

void CsrTest::SetUp() {
    PkeControl::Reset();
    ASSERT_TRUE(window_.AddToken(kCsrSlot, "CSR token", "CSR0001"));
    ASSERT_EQ(0, window_.Start());
    window_.ClickTokenRow(kCsrSlot);
}

void CsrTest::TearDown() {
    // A run that stopped before the worker leaves the library loaded; the
    // next test starts without it.
    unloadPkeLibrary();
    PkeControl::Reset();
}

void CsrTest::AddKeyAndCertificate(CK_ULONG bits) {
    const SoftTokenFunctions& token = TokenStore::Control();
    ASSERT_EQ(CKR_OK, token.GenerateKeyPair(kCsrSlot, bits, "CSR key", kKeyId, sizeof kKeyId));

    std::vector<unsigned char> der = ReadFixture(L"cn_simple.der");
    ASSERT_FALSE(der.empty());
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE x509 = CKC_X_509;
    CK_BBOOL yes = CK_TRUE;
    char label[] = "CSR certificate";
    CK_ATTRIBUTE certificate[] = {
        {CKA_CLASS, &certificateClass, sizeof certificateClass},
        {CKA_CERTIFICATE_TYPE, &x509, sizeof x509},
        {CKA_TOKEN, &yes, sizeof yes},
        {CKA_LABEL, label, sizeof label - 1},
        {CKA_ID, const_cast<unsigned char*>(kKeyId), sizeof kKeyId},
        {CKA_VALUE, der.data(), static_cast<CK_ULONG>(der.size())},
    };
    const CK_ATTRIBUTE* templates[] = {certificate};
    const CK_ULONG counts[] = {sizeof certificate / sizeof certificate[0]};
    ASSERT_EQ(CKR_OK, token.AddObjects(kCsrSlot, templates, counts, 1));
    ListObjects();
}

void CsrTest::ListObjects() {
    VendorFunctionList* api = Cryptoki.FunctionList;
    const CK_SESSION_HANDLE session = SessionTable[kCsrSlot];
    CK_UTF8CHAR pin[] = "1234";
    ASSERT_EQ(CKR_OK, api->C_Login(session, CKU_USER, pin, 4));  // private keys are listed only then
    SendMessageW(AppState.ObjectListView, LVM_DELETEALLITEMS, 0, 0);
    EXPECT_EQ(0, ListTokenObjectsHere(AppState.ObjectListView, kCsrSlot));
    ASSERT_EQ(CKR_OK, api->C_Logout(session));
    window_.Pump();
}

int CsrTest::ObjectRow(const std::wstring& type) {
    const int rows = MainWindowFixture::RowCount(AppState.ObjectListView);
    for (int row = 0; row < rows; ++row)
        if (MainWindowFixture::CellText(AppState.ObjectListView, row, 1) == type)
            return row;
    return -1;
}

void CsrTest::RunCsr(UiDriver& driver) {
    window_.Click(kGenerateCsrCommand);
    std::string why;
    EXPECT_TRUE(driver.WaitDone(&why)) << why << "; seen: " << Captions(driver.Seen());
    EXPECT_EQ(Captions(driver.Unexpected()), "");
    window_.Pump();
}

DialogStep CsrTest::CsrDialog(ControlTexts texts, std::vector<int> boxes, int button,
                              std::function<void(HWND)> inspect) {
    DialogStep step;
    step.caption = kCsrCaption;
    step.edits = std::move(texts);
    step.button = button;
    step.inspect = [boxes, inspect](HWND dialog) {
        for (int box : boxes)
            SendMessageW(GetDlgItem(dialog, box), BM_SETCHECK, BST_CHECKED, 0);
        if (inspect)
            inspect(dialog);
    };
    return step;
}

DialogStep CsrTest::Box(const std::wstring& caption, std::function<void(HWND)> inspect) {
    DialogStep step;
    step.caption = caption;
    step.inspect = std::move(inspect);
    step.button = IDOK;
    return step;
}

DialogStep CsrTest::SaveAs(const std::wstring& path) {
    DialogStep step;
    step.caption = L"Save As";
    step.edits = {{kFileNameBox, path}};
    step.button = IDOK;
    return step;
}

std::string CsrTest::KeyModulusLine() {
    VendorFunctionList* api = Cryptoki.FunctionList;
    const CK_SESSION_HANDLE session = SessionTable[kCsrSlot];
    CK_OBJECT_CLASS publicKey = CKO_PUBLIC_KEY;
    CK_ATTRIBUTE search[] = {
        {CKA_CLASS, &publicKey, sizeof publicKey},
        {CKA_ID, const_cast<unsigned char*>(kKeyId), sizeof kKeyId},
    };
    CK_OBJECT_HANDLE key = 0;
    CK_ULONG found = 0;
    if (api->C_FindObjectsInit(session, search, 2) != CKR_OK)
        return "no key search";
    api->C_FindObjects(session, &key, 1, &found);
    api->C_FindObjectsFinal(session);
    unsigned char modulus[1024] = {};
    CK_ATTRIBUTE value = {CKA_MODULUS, modulus, sizeof modulus};
    if (found != 1 || api->C_GetAttributeValue(session, key, &value, 1) != CKR_OK)
        return "no key modulus";
    std::string line = "Modulus=";
    char digits[3];
    for (CK_ULONG i = 0; i < value.ulValueLen; ++i) {
        snprintf(digits, sizeof digits, "%02X", modulus[i]);
        line += digits;
    }
    return line;
}

std::string CsrTest::RegeneratedCsr() {
    if (loadPkeLibrary() != kPkeLoaded)
        return "library not loaded";
    int status = 0;
    pkeLogin(1, 0, kTestUserPin, &status);
    if (status != 0)
        return "login " + std::to_string(status);
    unsigned int block[3] = {};
    pkeSetSignMech(1, 0, 1, block, &status);
    std::vector<char> auxiliary(kPkeOutputSize), csr(kPkeOutputSize);
    const PkeCsrArguments arguments = {CsrRequest.keyIdText,   CsrRequest.subjectFields, CsrRequest.altNameFields,
                                       CsrRequest.keyBits,     CsrRequest.keyUsageText,  CsrRequest.extKeyUsageText,
                                       auxiliary.data(),       csr.data()};
    if (status == 0)
        pkeExGenCsr(arguments, &status);
    Cryptoki.FunctionList->C_Logout(SessionTable[kCsrSlot]);
    unloadPkeLibrary();
    return status != 0 ? "status " + std::to_string(status) : std::string(csr.data());
}

CK_STATE CsrTest::SessionState() {
    CK_SESSION_INFO info = {};
    if (Cryptoki.FunctionList->C_GetSessionInfo(SessionTable[kCsrSlot], &info) != CKR_OK)
        return static_cast<CK_STATE>(-1);
    return info.state;
}

std::wstring CsrTest::RowStatus() {
    return MainWindowFixture::CellText(AppState.TokenListView, kCsrSlot, 1);
}

std::wstring CsrTest::VerifiedCsrFolder() {
    return FolderFromEnvironment(L"CSR_VERIFY_DIR");
}

void ExpectBox(const SeenWindow& seen, const std::wstring& caption, const std::wstring& text) {
    EXPECT_EQ(Narrow(seen.caption), Narrow(caption));
    EXPECT_EQ(Narrow(seen.text), Narrow(text));
    EXPECT_EQ(seen.owner, nullptr) << Narrow(caption) << " has an owner window";
}

bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i) {
        if (done())
            return true;
        Sleep(10);
    }
    return done();
}

std::wstring DialogText(HWND dialog, int id) {
    return ControlText(dialog, id);
}

bool DialogEnabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

std::string ReadText(const std::wstring& path) {
    std::vector<unsigned char> bytes;
    if (!ReadFileBytes(path, &bytes))
        return std::string();
    return std::string(bytes.begin(), bytes.end());
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
