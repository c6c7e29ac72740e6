// The program's main window on a token in slot 0 with the user logged in,
// for the object commands: export, viewing and deletion. Objects are put on
// the token through the software token's store and listed with the
// "Display objects" command, as a user would.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "cryptoki/Cryptoki.h"
#include "support/MainWindowFixture.h"
#include "support/UiDriver.h"

using Bytes = std::vector<unsigned char>;

constexpr int kObjectsSlot = 0;

class ObjectsWindowTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Token objects, stored without a login. A null label stores none.
    void AddCertificate(const char* label, size_t labelLength, const Bytes& der);
    void AddCertificate(const std::string& label, const Bytes& der) {
        AddCertificate(label.data(), label.size(), der);
    }
    void AddDataObject(const std::string& label);
    void AddKeyPair(const char* label);

    // "Display objects", then pumps until the listing has ended.
    void ListObjects();
    // Pumps messages until no worker runs and the token list is usable
    // again. False after 10 s.
    bool WaitForWorker();

    int ObjectRows();
    // The row whose "Label" cell reads `label`, or -1.
    int RowLabelled(const std::wstring& label);
    std::vector<std::wstring> Labels();  // "Label" cells, in row order
    // Selects exactly these object rows (the list allows several).
    void SelectObjectRows(const std::vector<int>& rows);
    // A double-click of the mouse on object row `row` (selected first).
    void DoubleClickObjectRow(int row);

    // Token objects of any class, through the session of slot 0.
    size_t TokenObjectCount();
    CK_SESSION_HANDLE Session();

    // Enabled states of the nine main buttons and of the token list.
    std::vector<bool> SessionControlStates();

    MainWindowFixture window_;
};

// For the object's lifetime, a function list whose CKA_VALUE length query
// answers a length that no certificate buffer is made for; every other
// call goes to the module.
class HugeValueLength {
public:
    HugeValueLength();
    ~HugeValueLength();
    HugeValueLength(const HugeValueLength&) = delete;
    HugeValueLength& operator=(const HugeValueLength&) = delete;

private:
    static CK_RV GetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                                   CK_ATTRIBUTE_PTR attributes, CK_ULONG count);

    VendorFunctionList* original_;
    VendorFunctionList patched_;
};

