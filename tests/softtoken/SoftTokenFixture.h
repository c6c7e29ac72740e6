// Drives tolvane11.dll the way a program does: LoadLibrary, then the
// function list. Every test gets its own store folder with one token in
// slot 0 (user PIN kUserPin, factory SO PIN) and the module initialised.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "SoftTokenControl.h"
#include "support/TestFiles.h"
#include "support/TokenStore.h"

using Bytes = std::vector<unsigned char>;


constexpr char kUserPin[] = "123456";
constexpr char kSoPin[] = "tolvane";

class SoftTokenTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A token in `slot` with the given label and serial (user PIN kUserPin
    // unless `userPin` is null).
    void MakeToken(CK_SLOT_ID slot, const char* label, const char* serial,
                   const char* userPin = kUserPin, CK_ULONG capacity = 0);

    CK_SESSION_HANDLE Open(CK_SLOT_ID slot = 0, bool readWrite = true);
    CK_RV Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, const std::string& pin);
    CK_TOKEN_INFO TokenInfo(CK_SLOT_ID slot = 0);
    CK_STATE State(CK_SESSION_HANDLE session);

    // A data object; token and private as asked.
    CK_RV CreateData(CK_SESSION_HANDLE session, const std::string& label, bool token,
                     bool isPrivate, CK_OBJECT_HANDLE* object, size_t valueSize = 16);
    // Handles of the objects whose label is `label` (all objects for "").
    std::vector<CK_OBJECT_HANDLE> FindByLabel(CK_SESSION_HANDLE session, const std::string& label);
    Bytes Attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type,
                    CK_RV* rv = nullptr);
    CK_ULONG UlongAttribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type);
    bool BoolAttribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type);

    // The slot-event state (SoftToken_GetSlotEventState), and waiting until
    // `done` holds for it (true) or 5 s have passed (false).
    static SlotEventState SlotEvents() { return CurrentSlotEventState(); }
    static bool WaitForSlotEvents(const std::function<bool(const SlotEventState&)>& done) {
        return WaitForSlotEventState(done);
    }
    // Until a caller blocks in C_WaitForSlotEvent: idle at two looks running.
    static bool WaitUntilAWaiterBlocks();

    // The store in the form a Windows path and a `--store` argument take.
    const std::wstring& StorePath() const { return store_->Path(); }
    // Runs softtoken.exe on this test's store; its exit code.
    DWORD RunTool(const std::wstring& arguments);

    static VendorFunctionList* p11;
    // The management and fault functions, as every test finds them.
    static const SoftTokenFunctions& control;

private:
    static bool Load();
    TempFolder* store_ = nullptr;
};

// Text of a Cryptoki character field without its blank padding.
std::string Unpadded(const CK_UTF8CHAR* field, size_t size);
