#include <gtest/gtest.h>

#include <vector>

#include "cryptoki/ModuleLoader.h"
#include "support/TestFiles.h"

namespace {

struct InitializeRecord {
    long calls = 0;
    long firstHadArgs = -1;
    unsigned long firstFlags = 0;
    long lastHadArgs = -1;
};

std::wstring ProbePath(const wchar_t* variant) {
    return BinFolder() + L"\\probes\\probe_" + variant + L".dll";
}

// The record a probe module kept of the C_Initialize calls it saw.
InitializeRecord ReadRecord(const wchar_t* variant) {
    InitializeRecord record;
    HMODULE module = GetModuleHandleW(ProbePath(variant).c_str());
    using GetRecord = void (*)(long*, long*, unsigned long*, long*);
    auto get = reinterpret_cast<GetRecord>(
        reinterpret_cast<void*>(GetProcAddress(module, "Probe_GetInitializeRecord")));
    if (get)
        get(&record.calls, &record.firstHadArgs, &record.firstFlags, &record.lastHadArgs);
    return record;
}

bool IsLoaded(const wchar_t* variant) {
    return GetModuleHandleW(ProbePath(variant).c_str()) != nullptr;
}

class ModuleLoaderTest : public testing::Test {
protected:
    void SetUp() override { Cryptoki = CryptokiModuleRecord(); }
};

TEST_F(ModuleLoaderTest, MissingModuleGivesOne) {
    EXPECT_EQ(LoadCryptokiModuleFrom(L"no_such_cryptoki_module.dll"), kModuleNotFound);
    EXPECT_EQ(Cryptoki.FunctionList, nullptr);
}

TEST_F(ModuleLoaderTest, ModuleWithoutGetFunctionListGivesTwoAndIsUnloaded) {
    EXPECT_EQ(LoadCryptokiModuleFrom(ProbePath(L"no_entry").c_str()), kNoGetFunctionList);
    EXPECT_FALSE(IsLoaded(L"no_entry"));
    EXPECT_EQ(Cryptoki.FunctionList, nullptr);
}

TEST_F(ModuleLoaderTest, FailingGetFunctionListGivesThreeAndIsUnloaded) {
    EXPECT_EQ(LoadCryptokiModuleFrom(ProbePath(L"list_fails").c_str()), kGetFunctionListFailed);
    EXPECT_FALSE(IsLoaded(L"list_fails"));
    EXPECT_EQ(Cryptoki.FunctionList, nullptr);
}

TEST_F(ModuleLoaderTest, FailingInitializeGivesFourAndStaysLoaded) {
    EXPECT_EQ(LoadCryptokiModuleFrom(ProbePath(L"init_fails").c_str()), kInitializeFailed);
    EXPECT_TRUE(IsLoaded(L"init_fails"));
    EXPECT_NE(Cryptoki.Handle, nullptr);
}

TEST_F(ModuleLoaderTest, WorkingModuleIsInitialisedForOsLocking) {
    ASSERT_EQ(LoadCryptokiModuleFrom(ProbePath(L"works").c_str()), kModuleLoaded);
    ASSERT_NE(Cryptoki.FunctionList, nullptr);
    EXPECT_EQ(Cryptoki.Handle, GetModuleHandleW(ProbePath(L"works").c_str()));
    InitializeRecord record = ReadRecord(L"works");
    EXPECT_EQ(record.calls, 1);
    EXPECT_EQ(record.firstHadArgs, 1);
    EXPECT_EQ(record.firstFlags, static_cast<unsigned long>(CKF_OS_LOCKING_OK));
}

TEST_F(ModuleLoaderTest, ModuleThatCannotLockIsInitialisedAgainWithoutArguments) {
    ASSERT_EQ(LoadCryptokiModuleFrom(ProbePath(L"cant_lock").c_str()), kModuleLoaded);
    InitializeRecord record = ReadRecord(L"cant_lock");
    EXPECT_EQ(record.calls, 2);
    EXPECT_EQ(record.firstHadArgs, 1);
    EXPECT_EQ(record.lastHadArgs, 0);
    EXPECT_NE(Cryptoki.FunctionList, nullptr);
}

// The vendor entries come only from a list that has them: read from the
// module's image and pointing to its code. Whatever else follows the
// standard entries is no entry, and the copy holds null there.
TEST_F(ModuleLoaderTest, VendorEntriesAreTakenOnlyFromTheModulesOwnCode) {
    const struct {
        const wchar_t* variant;
        bool kept;
    } rows[] = {
        {L"no_vendor", false},     // a heap pointer and a made-up value follow the list
        {L"heap_list", false},     // real entries, but the list is not in the module
        {L"data_entries", false},  // entries pointing to the module's data
        {L"works", false},         // null entries stay null
        {L"vendor", true},         // the module's own functions
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.variant);
        Cryptoki = CryptokiModuleRecord();
        ASSERT_EQ(LoadCryptokiModuleFrom(ProbePath(row.variant).c_str()), kModuleLoaded);
        ASSERT_NE(Cryptoki.FunctionList, nullptr);
        EXPECT_EQ(Cryptoki.FunctionList->C_SetUserPinPolicy != nullptr, row.kept);
        EXPECT_EQ(Cryptoki.FunctionList->C_GetUserPinPolicy != nullptr, row.kept);
        EXPECT_NE(Cryptoki.FunctionList->C_Initialize, nullptr) << "the standard entries are copied";
    }
    // The kept entries are the module's: its getter answers its own values.
    CK_ULONG policy[4] = {};
    ASSERT_NE(Cryptoki.FunctionList->C_GetUserPinPolicy, nullptr);
    EXPECT_EQ(Cryptoki.FunctionList->C_GetUserPinPolicy(0, 1, &policy[0], &policy[1], &policy[2], &policy[3]),
              CKR_OK);
    EXPECT_EQ(std::vector<CK_ULONG>(policy, policy + 4), (std::vector<CK_ULONG>{4, 9, 6, 20}));
}

// PATH set for one test and put back after it.
class ScopedPath {
public:
    explicit ScopedPath(const std::wstring& value) {
        wchar_t old[32767];
        const DWORD length = GetEnvironmentVariableW(L"PATH", old, 32767);
        had_ = length > 0 && length < 32767;
        if (had_)
            old_.assign(old, length);
        SetEnvironmentVariableW(L"PATH", value.c_str());
    }
    ~ScopedPath() { SetEnvironmentVariableW(L"PATH", had_ ? old_.c_str() : nullptr); }

private:
    std::wstring old_;
    bool had_ = false;
};

// A DLL left in the working folder is never taken for the module: not by
// the search, not through a PATH that names the current folder, relatively
// or in full.
TEST_F(ModuleLoaderTest, ModulePlantedInTheCurrentFolderIsNotLoaded) {
    TempFolder folder;
    ASSERT_TRUE(CopyFileW(ProbePath(L"works").c_str(), folder.File(L"planted_cryptoki.dll").c_str(),
                          FALSE));
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(folder.Path().c_str());
    const int plain = LoadCryptokiModuleFrom(L"planted_cryptoki.dll");
    int throughPath = 0;
    {
        ScopedPath path(L".;" + folder.Path() + L"\\;" + std::wstring(previous));
        throughPath = LoadCryptokiModuleFrom(L"planted_cryptoki.dll");
    }
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(plain, kModuleNotFound);
    EXPECT_EQ(throughPath, kModuleNotFound);
}

// A module installed in a folder on PATH is found by its plain name, as
// the normal search finds it.
TEST_F(ModuleLoaderTest, ModuleInAFolderOnPathIsFound) {
    TempFolder folder;
    ASSERT_TRUE(CopyFileW(ProbePath(L"works").c_str(), folder.File(L"installed_cryptoki.dll").c_str(), FALSE));
    int result = 0;
    {
        ScopedPath path(L"relative\\folder;\"" + folder.Path() + L"\"");
        result = LoadCryptokiModuleFrom(L"installed_cryptoki.dll");
    }
    EXPECT_EQ(result, kModuleLoaded);
    EXPECT_EQ(Cryptoki.Handle, GetModuleHandleW(folder.File(L"installed_cryptoki.dll").c_str()));
}

}  // namespace

namespace {

// The plain module name is found in the program's own folder (here the test
// executable's, where the build puts the software token).
TEST(LoadCryptokiModule, FindsTheModuleBesideTheProgram) {
    Cryptoki = CryptokiModuleRecord();
    TempFolder store;
    SetEnvironmentVariableW(L"TOLVANE_SOFTTOKEN_STORE", store.Path().c_str());
    ASSERT_EQ(LoadCryptokiModule(), kModuleLoaded);
    ASSERT_NE(Cryptoki.FunctionList, nullptr);
    EXPECT_EQ(Cryptoki.Handle, GetModuleHandleW((BinFolder() + L"\\tolvane11.dll").c_str()));
    CK_INFO info = {};
    EXPECT_EQ(Cryptoki.FunctionList->C_GetInfo(&info), CKR_OK);
    // The software token has the vendor extension, and the program keeps it.
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(
        reinterpret_cast<void*>(GetProcAddress(Cryptoki.Handle, "C_GetFunctionList")));
    ASSERT_NE(getList, nullptr);
    CK_FUNCTION_LIST_PTR moduleList = nullptr;
    ASSERT_EQ(getList(&moduleList), CKR_OK);
    const auto* vendorList = static_cast<const VendorFunctionList*>(moduleList);
    EXPECT_NE(Cryptoki.FunctionList->C_SetUserPinPolicy, nullptr);
    EXPECT_EQ(Cryptoki.FunctionList->C_SetUserPinPolicy, vendorList->C_SetUserPinPolicy);
    EXPECT_EQ(Cryptoki.FunctionList->C_GetUserPinPolicy, vendorList->C_GetUserPinPolicy);
    EXPECT_EQ(Cryptoki.FunctionList->C_Finalize(nullptr), CKR_OK);
    SetEnvironmentVariableW(L"TOLVANE_SOFTTOKEN_STORE", nullptr);
    Cryptoki = CryptokiModuleRecord();
}

}  // namespace
