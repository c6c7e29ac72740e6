#include "SoftTokenFixture.h"

VendorFunctionList* SoftTokenTest::p11 = nullptr;
const SoftTokenFunctions& SoftTokenTest::control = TokenStore::Control();

namespace {

template <typename T>
void Find(HMODULE dll, const char* name, T* function) {
    *function = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

}  // namespace

// The DLL stays loaded for the whole run, as it does in the program.
bool SoftTokenTest::Load() {
    if (p11)
        return true;
    HMODULE dll = LoadLibraryW((BinFolder() + L"\\tolvane11.dll").c_str());
    if (!dll)
        return false;
    CK_C_GetFunctionList getList = nullptr;
    Find(dll, "C_GetFunctionList", &getList);
    CK_FUNCTION_LIST_PTR list = nullptr;
    if (!getList || getList(&list) != CKR_OK)
        return false;
    p11 = static_cast<VendorFunctionList*>(list);
    return control.SetStorePath && control.ClearStoreFaults && control.CreateToken;
}

void SoftTokenTest::SetUp() {
    ASSERT_TRUE(Load()) << "tolvane11.dll or one of its exports is missing";
    store_ = new TempFolder();
    ASSERT_EQ(CKR_OK, control.SetStorePath(store_->Path().c_str()));
    ASSERT_EQ(CKR_OK, control.InitStore(4));
    MakeToken(0, "Test Token", "0000000001");
    ASSERT_EQ(CKR_OK, p11->C_Initialize(nullptr));
}

void SoftTokenTest::TearDown() {
    if (p11)
        p11->C_Finalize(nullptr);
    if (control.ClearFaults)
        control.ClearFaults();
    if (control.SetStorePath)
        control.SetStorePath(nullptr);
    delete store_;
    store_ = nullptr;
}

void SoftTokenTest::MakeToken(CK_SLOT_ID slot, const char* label, const char* serial,
                              const char* userPin, CK_ULONG capacity) {
    SoftTokenParams params = {};
    params.label = label;
    params.serial = serial;
    params.userPin = userPin;
    params.capacity = capacity;
    ASSERT_EQ(CKR_OK, control.CreateToken(slot, &params));
}

CK_SESSION_HANDLE SoftTokenTest::Open(CK_SLOT_ID slot, bool readWrite) {
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    const CK_FLAGS flags = CKF_SERIAL_SESSION | (readWrite ? CKF_RW_SESSION : 0);
    EXPECT_EQ(CKR_OK, p11->C_OpenSession(slot, flags, nullptr, nullptr, &session));
    return session;
}

CK_RV SoftTokenTest::Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, const std::string& pin) {
    return p11->C_Login(session, user, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin.data())),
                        static_cast<CK_ULONG>(pin.size()));
}

CK_TOKEN_INFO SoftTokenTest::TokenInfo(CK_SLOT_ID slot) {
    CK_TOKEN_INFO info = {};
    EXPECT_EQ(CKR_OK, p11->C_GetTokenInfo(slot, &info));
    return info;
}

CK_STATE SoftTokenTest::State(CK_SESSION_HANDLE session) {
    CK_SESSION_INFO info = {};
    EXPECT_EQ(CKR_OK, p11->C_GetSessionInfo(session, &info));
    return info.state;
}

CK_RV SoftTokenTest::CreateData(CK_SESSION_HANDLE session, const std::string& label, bool token,
                                bool isPrivate, CK_OBJECT_HANDLE* object, size_t valueSize) {
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL tokenFlag = token ? CK_TRUE : CK_FALSE;
    CK_BBOOL privateFlag = isPrivate ? CK_TRUE : CK_FALSE;
    std::string value(valueSize, 'v');
    CK_ATTRIBUTE templ[] = {
        {CKA_CLASS, &dataClass, sizeof dataClass},
        {CKA_TOKEN, &tokenFlag, sizeof tokenFlag},
        {CKA_PRIVATE, &privateFlag, sizeof privateFlag},
        {CKA_LABEL, const_cast<char*>(label.data()), static_cast<CK_ULONG>(label.size())},
        {CKA_VALUE, &value[0], static_cast<CK_ULONG>(value.size())},
    };
    return p11->C_CreateObject(session, templ, 5, object);
}

std::vector<CK_OBJECT_HANDLE> SoftTokenTest::FindByLabel(CK_SESSION_HANDLE session, const std::string& label) {
    CK_ATTRIBUTE templ = {CKA_LABEL, const_cast<char*>(label.data()), static_cast<CK_ULONG>(label.size())};
    EXPECT_EQ(CKR_OK, p11->C_FindObjectsInit(session, &templ, label.empty() ? 0 : 1));
    std::vector<CK_OBJECT_HANDLE> found;
    CK_OBJECT_HANDLE batch[7];
    CK_ULONG count = 0;
    while (p11->C_FindObjects(session, batch, 7, &count) == CKR_OK && count > 0)
        found.insert(found.end(), batch, batch + count);
    EXPECT_EQ(CKR_OK, p11->C_FindObjectsFinal(session));
    return found;
}

Bytes SoftTokenTest::Attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type,
                               CK_RV* rv) {
    CK_ATTRIBUTE query = {type, nullptr, 0};
    CK_RV result = p11->C_GetAttributeValue(session, object, &query, 1);
    Bytes value;
    if (result == CKR_OK) {
        value.resize(query.ulValueLen);
        query.pValue = value.data();
        result = p11->C_GetAttributeValue(session, object, &query, 1);
    }
    if (rv)
        *rv = result;
    else
        EXPECT_EQ(CKR_OK, result) << "attribute 0x" << std::hex << type;
    return value;
}

CK_ULONG SoftTokenTest::UlongAttribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                                       CK_ATTRIBUTE_TYPE type) {
    Bytes value = Attribute(session, object, type);
    CK_ULONG result = CK_UNAVAILABLE_INFORMATION;
    if (value.size() == sizeof result)
        memcpy(&result, value.data(), sizeof result);
    return result;
}

bool SoftTokenTest::BoolAttribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
    Bytes value = Attribute(session, object, type);
    EXPECT_EQ(1u, value.size());
    return value.size() == 1 && value[0] != CK_FALSE;
}

DWORD SoftTokenTest::RunTool(const std::wstring& arguments) {
    const std::wstring command =
        L"\"" + BinFolder() + L"\\softtoken.exe\" --store \"" + StorePath() + L"\" " + arguments;
    ProcessResult result = RunProcess(command, {}, 30000);
    EXPECT_TRUE(result.started) << "softtoken.exe did not start";
    EXPECT_FALSE(result.timedOut);
    return result.started ? result.exitCode : 255;
}

std::string Unpadded(const CK_UTF8CHAR* field, size_t size) {
    std::string text(reinterpret_cast<const char*>(field), size);
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

bool SoftTokenTest::WaitUntilAWaiterBlocks() {
    const CK_ULONG from = SlotEvents().looks;
    return WaitForSlotEvents([from](const SlotEventState& s) { return s.idleLook >= from + 2 && s.idleLook == s.looks; });
}
