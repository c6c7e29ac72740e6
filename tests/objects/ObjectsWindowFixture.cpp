#include "ObjectsWindowFixture.h"

#include <commctrl.h>

#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/TokenPanel.h"
#include "cryptoki/ModuleLoader.h"

namespace {

CK_OBJECT_CLASS kCertificateClass = CKO_CERTIFICATE, kDataClass = CKO_DATA;
CK_CERTIFICATE_TYPE kX509 = CKC_X_509;
CK_BBOOL kTrue = CK_TRUE, kFalse = CK_FALSE;

CK_ATTRIBUTE Attr(CK_ATTRIBUTE_TYPE type, const void* value, size_t length) {
    return {type, const_cast<void*>(value), static_cast<CK_ULONG>(length)};
}

void AddObject(std::vector<CK_ATTRIBUTE> attributes) {
    const CK_ATTRIBUTE* templates[] = {attributes.data()};
    const CK_ULONG counts[] = {static_cast<CK_ULONG>(attributes.size())};
    ASSERT_EQ(TokenStore::Control().AddObjects(kObjectsSlot, templates, counts, 1), CKR_OK);
}

VendorFunctionList* moduleFunctions = nullptr;

}  // namespace

HugeValueLength::HugeValueLength() : original_(Cryptoki.FunctionList), patched_(*Cryptoki.FunctionList) {
    moduleFunctions = original_;
    patched_.C_GetAttributeValue = GetAttributeValue;
    Cryptoki.FunctionList = &patched_;
}

HugeValueLength::~HugeValueLength() {
    Cryptoki.FunctionList = original_;
}

CK_RV HugeValueLength::GetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                                         CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
    if (count == 1 && attributes[0].type == CKA_VALUE && !attributes[0].pValue) {
        attributes[0].ulValueLen = 0x7FFFFFF0;
        return CKR_OK;
    }
    return moduleFunctions->C_GetAttributeValue(session, object, attributes, count);
}

void ObjectsWindowTest::SetUp() {
    ASSERT_TRUE(window_.AddToken(kObjectsSlot, "Objects", "O0001"));
    ASSERT_EQ(window_.Start(), 0);
    ASSERT_EQ(MainWindowFixture::SelectedRow(AppState.TokenListView), kObjectsSlot);
    CK_UTF8CHAR pin[] = {'1', '2', '3', '4'};
    ASSERT_EQ(Cryptoki.FunctionList->C_Login(Session(), CKU_USER, pin, sizeof pin), CKR_OK);
    window_.ClickTokenRow(kObjectsSlot);  // the buttons follow the login
    ASSERT_TRUE(window_.ButtonEnabled(kDeleteButton));
}

void ObjectsWindowTest::TearDown() {
    EXPECT_TRUE(WaitForWorker());
    TokenStore::Control().ClearFaults();
}

void ObjectsWindowTest::AddCertificate(const char* label, size_t labelLength, const Bytes& der) {
    ASSERT_FALSE(der.empty());
    std::vector<CK_ATTRIBUTE> attributes = {
        Attr(CKA_CLASS, &kCertificateClass, sizeof kCertificateClass),
        Attr(CKA_CERTIFICATE_TYPE, &kX509, sizeof kX509), Attr(CKA_TOKEN, &kTrue, sizeof kTrue),
        Attr(CKA_PRIVATE, &kFalse, sizeof kFalse), Attr(CKA_VALUE, der.data(), der.size())};
    if (label)
        attributes.push_back(Attr(CKA_LABEL, label, labelLength));
    AddObject(attributes);
}

void ObjectsWindowTest::AddDataObject(const std::string& label) {
    AddObject({Attr(CKA_CLASS, &kDataClass, sizeof kDataClass), Attr(CKA_TOKEN, &kTrue, sizeof kTrue),
               Attr(CKA_LABEL, label.data(), label.size()), Attr(CKA_VALUE, "x", 1)});
}

void ObjectsWindowTest::AddKeyPair(const char* label) {
    const unsigned char id[] = {0x4B, 0x45, 0x59};
    ASSERT_EQ(TokenStore::Control().GenerateKeyPair(kObjectsSlot, 1024, label, id, sizeof id), CKR_OK);
}

void ObjectsWindowTest::ListObjects() {
    window_.Click(kDisplayObjectsCommand);
    ASSERT_TRUE(WaitForWorker());
}

bool ObjectsWindowTest::WaitForWorker() {
    // The workers clear Busy, then restore the buttons and enable the token
    // list as their last step.
    return window_.PumpUntil([] { return !AppState.Busy && IsWindowEnabled(AppState.TokenListView); }, 10000);
}

int ObjectsWindowTest::ObjectRows() {
    return MainWindowFixture::RowCount(AppState.ObjectListView);
}

int ObjectsWindowTest::RowLabelled(const std::wstring& label) {
    for (int row = 0; row < ObjectRows(); ++row)
        if (MainWindowFixture::CellText(AppState.ObjectListView, row, 4) == label)
            return row;
    return -1;
}

std::vector<std::wstring> ObjectsWindowTest::Labels() {
    std::vector<std::wstring> labels;
    for (int row = 0; row < ObjectRows(); ++row)
        labels.push_back(MainWindowFixture::CellText(AppState.ObjectListView, row, 4));
    return labels;
}

void ObjectsWindowTest::SelectObjectRows(const std::vector<int>& rows) {
    window_.SelectObjectRows(rows);
}

void ObjectsWindowTest::DoubleClickObjectRow(int row) {
    window_.ClickObjectRow(row);
    RECT rect = {};
    rect.left = LVIR_LABEL;
    SendMessageW(AppState.ObjectListView, LVM_GETITEMRECT, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&rect));
    const LPARAM point = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    SendMessageW(AppState.ObjectListView, WM_LBUTTONDBLCLK, MK_LBUTTON, point);
    SendMessageW(AppState.ObjectListView, WM_LBUTTONUP, 0, point);
    window_.Pump();
}

size_t ObjectsWindowTest::TokenObjectCount() {
    CK_BBOOL token = CK_TRUE;
    CK_ATTRIBUTE onToken = {CKA_TOKEN, &token, sizeof token};
    CK_FUNCTION_LIST* p11 = Cryptoki.FunctionList;
    size_t count = 0;
    if (p11->C_FindObjectsInit(Session(), &onToken, 1) != CKR_OK)
        return static_cast<size_t>(-1);
    CK_OBJECT_HANDLE handles[64];
    CK_ULONG found = 0;
    while (p11->C_FindObjects(Session(), handles, 64, &found) == CKR_OK && found > 0)
        count += found;
    p11->C_FindObjectsFinal(Session());
    return count;
}

CK_SESSION_HANDLE ObjectsWindowTest::Session() {
    return SessionTable[kObjectsSlot];
}

std::vector<bool> ObjectsWindowTest::SessionControlStates() {
    std::vector<bool> states;
    for (HWND button : AppState.MainButtons)
        states.push_back(IsWindowEnabled(button) != FALSE);
    states.push_back(IsWindowEnabled(AppState.TokenListView) != FALSE);
    return states;
}
