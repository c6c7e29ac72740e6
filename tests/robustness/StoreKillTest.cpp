// The software token's store when its writer dies: a child process writes
// to two tokens without end (store_writer.exe, see StoreWritePlan.h) and is
// killed with TerminateProcess after a random delay, 200 times. After every
// kill both token files must load, and each token must be in its state
// from just before or just after the write the kill interrupted. The side
// files a killed writer leaves must go with the next write.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "HostileFiles.h"
#include "Store.h"
#include "StoreWritePlan.h"
#include "support/TestFiles.h"
#include "support/TokenStore.h"

namespace {

using namespace storewrite;
using Clock = std::chrono::steady_clock;

constexpr int kKills = 200;
constexpr uint64_t kSeed = 0x5EEDF00D0000C0DEull;
// Kills land anywhere from before the first write to a few dozen writes in.
constexpr size_t kMaxDelayMicroseconds = 30000;
// A filler object makes every save write some 24 KiB, as a token with a
// few certificates and keys does.
constexpr size_t kFillerSize = 24 * 1024;


// Adds a public data object to `slot` through the management functions.
bool AddDataObject(CK_SLOT_ID slot, const std::string& label, const Bytes& value) {
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    CK_ATTRIBUTE attributes[] = {
        {CKA_CLASS, &dataClass, sizeof dataClass},
        {CKA_TOKEN, &yes, sizeof yes},
        {CKA_PRIVATE, &no, sizeof no},
        {CKA_LABEL, const_cast<char*>(label.data()), static_cast<CK_ULONG>(label.size())},
        {CKA_VALUE, const_cast<unsigned char*>(value.data()), static_cast<CK_ULONG>(value.size())},
    };
    const CK_ATTRIBUTE* templates[] = {attributes};
    const CK_ULONG counts[] = {5};
    return TokenStore::Control().AddObjects(slot, templates, counts, 1) == CKR_OK;
}

// What a token file holds, in the terms of the write plan.
TokenState StateOf(const softtoken::TokenData& data) {
    TokenState state;
    for (const softtoken::ObjectPtr& object : data.objects) {
        const Bytes label = object->Value(CKA_LABEL);
        const std::string text(label.begin(), label.end());
        if (text == kCounterLabel)
            state.counter = object->Value(CKA_VALUE);
        else if (!text.empty() && text[0] == 'w')
            state.objects.insert(text);
    }
    return state;
}

std::string Describe(const TokenState& state) {
    std::string text = "counter " + std::to_string(state.counter.size()) + " bytes, objects";
    for (const std::string& label : state.objects)
        text += " " + label;
    return text;
}

// The side files a writer makes beside a token file while it saves.
int SideFiles(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*.token.tmp*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int count = 0;
    do
        ++count;
    while (FindNextFileW(search, &found));
    FindClose(search);
    return count;
}

class StoreKillTest : public testing::Test {
protected:
    void SetUp() override {
        for (CK_SLOT_ID slot = 0; slot < kSlots; ++slot) {
            SoftTokenParams params = {};
            params.label = "Killed writer";
            params.serial = slot == 0 ? "K0000" : "K0001";
            params.userPin = kUserPin;
            params.capacity = 1 << 20;
            ASSERT_TRUE(store_.AddToken(slot, params));
            ASSERT_TRUE(AddDataObject(slot, kCounterLabel, InitialCounterValue()));
            ASSERT_TRUE(AddDataObject(slot, "filler", Bytes(kFillerSize, 0x5A)));
        }
        const std::wstring name = L"Local\\StoreKillTest." + std::to_wstring(GetCurrentProcessId());
        mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Progress), name.c_str());
        ASSERT_TRUE(mapping_);
        progress_ = static_cast<Progress*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Progress)));
        ASSERT_TRUE(progress_);
        mappingName_ = name;
        ready_ = CreateEventW(nullptr, FALSE, FALSE, ReadyEventName(name).c_str());
        ASSERT_TRUE(ready_);
    }

    void TearDown() override {
        if (ready_)
            CloseHandle(ready_);
        if (progress_)
            UnmapViewOfFile(progress_);
        if (mapping_)
            CloseHandle(mapping_);
    }

    // Starts the writer from write `first` and kills it `delay` microseconds
    // after it reports ready. False when it could not be started or ended
    // on its own.
    bool RunAndKill(long first, size_t delay) {
        progress_->ready = 0;
        ResetEvent(ready_);
        progress_->attempted = first - 1;
        progress_->committed = first - 1;
        std::wstring command = L"\"" + BinFolder() + L"\\store_writer.exe\" \"" + store_.Path() + L"\" " +
                               mappingName_ + L" " + std::to_wstring(first);
        STARTUPINFOW startup = {sizeof startup};
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
            return false;
        bool ranUntilKilled = WaitUntilReady(process.hProcess);
        if (ranUntilKilled) {
            const Clock::time_point until = Clock::now() + std::chrono::microseconds(delay);
            while (Clock::now() < until)
                YieldProcessor();
            ranUntilKilled = WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT;
        }
        TerminateProcess(process.hProcess, kKilledExitCode);
        WaitForSingleObject(process.hProcess, 10000);
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        if (!ranUntilKilled)
            ADD_FAILURE() << "the writer ended on its own with " << exitCode;
        return ranUntilKilled;
    }

    // Ready, or false when the writer ended first (or took a minute).
    bool WaitUntilReady(HANDLE process) {
        const HANDLE either[] = {ready_, process};
        return WaitForMultipleObjects(2, either, FALSE, 60000) == WAIT_OBJECT_0 && progress_->ready != 0;
    }

    static constexpr DWORD kKilledExitCode = 0xDEAD;
    TokenStore store_{4};
    HANDLE mapping_ = nullptr;
    Progress* progress_ = nullptr;
    std::wstring mappingName_;
    HANDLE ready_ = nullptr;  // set by the writer once it is ready
};

TEST_F(StoreKillTest, EveryTokenIsBeforeOrAfterTheInterruptedWrite) {
    Random random(kSeed);
    long next = 0;
    int interrupted = 0, landed = 0, sideFilesSeen = 0;
    const Clock::time_point start = Clock::now();
    for (int kill = 0; kill < kKills && !HasFailure(); ++kill) {
        ASSERT_TRUE(RunAndKill(next, random.Below(kMaxDelayMicroseconds))) << "kill " << kill;
        const long attempted = progress_->attempted;
        const long committed = progress_->committed;
        const bool inFlight = attempted > committed;
        interrupted += inFlight ? 1 : 0;
        bool inFlightLanded = false;
        softtoken::Store files(store_.Path());
        for (int slot = 0; slot < kSlots; ++slot) {
            softtoken::TokenData data;
            ASSERT_EQ(files.Load(slot, &data), CKR_OK) << "kill " << kill << ": slot " << slot << " does not load";
            const TokenState state = StateOf(data);
            const int before = LastSlotWrite(slot, committed);
            if (state == ExpectedState(before))
                continue;
            const bool mayBeAfter = inFlight && PlanOf(attempted).slot == slot;
            EXPECT_TRUE(mayBeAfter && state == ExpectedState(before + 1))
                << "kill " << kill << ", slot " << slot << ", writes " << committed << " done, " << attempted
                << " under way: " << Describe(state);
            inFlightLanded = true;
        }
        landed += inFlightLanded ? 1 : 0;
        sideFilesSeen += SideFiles(store_.Path());
        next = inFlight && !inFlightLanded ? attempted : attempted + 1;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    printf("%d kills in %.1f s after %ld writes: %d inside a write (%d of those had landed), "
           "side files seen after kills: %d\n",
           kKills, seconds, next, interrupted, landed, sideFilesSeen);
    EXPECT_GT(interrupted, kKills / 4) << "the kills should often land inside a write";

    // The next save of each token sweeps what killed writers left beside it.
    for (CK_SLOT_ID slot = 0; slot < kSlots; ++slot)
        ASSERT_EQ(TokenStore::Control().SetCapacity(slot, 2 << 20), CKR_OK);
    EXPECT_EQ(SideFiles(store_.Path()), 0) << "side files of killed writers stayed in the store";
}

}  // namespace
