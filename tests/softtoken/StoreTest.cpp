// The store: persistence, damaged files, slots, tokens taken out and put
// back, slot events (also from another process) and the tool.
#include "SoftTokenFixture.h"

#include "Store.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

class StoreTest : public SoftTokenTest {
protected:
    std::wstring TokenFile(CK_SLOT_ID slot) { return StorePath() + L"\\slot" + std::to_wstring(slot) + L".token"; }
    // The token of `slot` as its file holds it now.
    softtoken::TokenData StoredToken(CK_SLOT_ID slot) {
        Bytes file;
        softtoken::TokenData data;
        EXPECT_TRUE(ReadFileBytes(TokenFile(slot), &file));
        EXPECT_TRUE(softtoken::DecodeToken(file, &data));
        return data;
    }
    // Writes `data` as the token of `slot`, with a right checksum, the way
    // another process on the store does: under the slot's lock, telling
    // every process that the slot changed.
    void WriteToken(CK_SLOT_ID slot, const softtoken::TokenData& data) {
        softtoken::Store store(StorePath());
        softtoken::SlotLock lock(store, slot);
        ASSERT_TRUE(softtoken::WriteFileAtomically(store.TokenPath(slot), softtoken::EncodeToken(data)));
        store.BumpContent(slot);
    }
    std::vector<CK_SLOT_ID> Slots(bool present) {
        CK_ULONG count = 0;
        EXPECT_EQ(CKR_OK, p11->C_GetSlotList(present, nullptr, &count));
        std::vector<CK_SLOT_ID> slots(count);
        EXPECT_EQ(CKR_OK, p11->C_GetSlotList(present, slots.data(), &count));
        slots.resize(count);
        return slots;
    }
};

TEST_F(StoreTest, EverythingSurvivesARestart) {
    CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(CKR_OK, Login(session, CKU_USER, kUserPin));
    CK_OBJECT_HANDLE object = 0;
    ASSERT_EQ(CKR_OK, CreateData(session, "kept", true, true, &object));
    ASSERT_EQ(CKR_OK, CreateData(session, "session only", false, false, &object));
    ASSERT_EQ(CKR_OK, p11->C_Logout(session));
    EXPECT_EQ(CKR_PIN_INCORRECT, Login(session, CKU_USER, "999999"));
    ASSERT_EQ(CKR_OK, p11->C_Finalize(nullptr));
    ASSERT_EQ(CKR_OK, p11->C_Initialize(nullptr));

    EXPECT_NE(0u, TokenInfo().flags & CKF_USER_PIN_COUNT_LOW) << "the failure count is kept";
    session = Open();
    EXPECT_TRUE(FindByLabel(session, "kept").empty()) << "private until login";
    ASSERT_EQ(CKR_OK, Login(session, CKU_USER, kUserPin));
    std::vector<CK_OBJECT_HANDLE> kept = FindByLabel(session, "kept");
    ASSERT_EQ(1u, kept.size());
    EXPECT_EQ(Bytes(16, 'v'), Attribute(session, kept[0], CKA_VALUE));
    EXPECT_TRUE(FindByLabel(session, "session only").empty());
}

TEST_F(StoreTest, DamagedOrTruncatedFilesAreNotRecognised) {
    MakeToken(1, "Damaged", "0000000011");
    MakeToken(2, "Truncated", "0000000012");
    ASSERT_EQ(CKR_OK, p11->C_Finalize(nullptr));
    Bytes file;
    ASSERT_TRUE(ReadFileBytes(TokenFile(1), &file));
    file[file.size() / 2] ^= 0x40;
    ASSERT_TRUE(WriteFileBytes(TokenFile(1), file));
    ASSERT_TRUE(ReadFileBytes(TokenFile(2), &file));
    file.resize(file.size() - 40);
    ASSERT_TRUE(WriteFileBytes(TokenFile(2), file));
    // A write that died half way leaves only its temporary file behind.
    ASSERT_TRUE(WriteFileBytes(TokenFile(0) + L".tmp999-1", Bytes(100, 0xee)));
    ASSERT_EQ(CKR_OK, p11->C_Initialize(nullptr));

    for (CK_SLOT_ID slot : {1, 2}) {
        CK_TOKEN_INFO info;
        EXPECT_EQ(CKR_TOKEN_NOT_RECOGNIZED, p11->C_GetTokenInfo(slot, &info)) << slot;
        CK_SESSION_HANDLE session = 0;
        EXPECT_EQ(CKR_TOKEN_NOT_RECOGNIZED, p11->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session));
        CK_SLOT_INFO slotInfo;
        ASSERT_EQ(CKR_OK, p11->C_GetSlotInfo(slot, &slotInfo));
        EXPECT_NE(0u, slotInfo.flags & CKF_TOKEN_PRESENT);
    }
    EXPECT_EQ("Test Token", Unpadded(TokenInfo(0).label, 32));
}

// Values the store never writes are damage, as a bad checksum is, even in
// a file whose checksum is right; the limits themselves are accepted.
TEST_F(StoreTest, ValuesTheStoreNeverWritesAreDamage) {
    using softtoken::TokenData;
    MakeToken(1, "Values", "0000000021");
    const TokenData good = StoredToken(1);
    const CK_ULONG most = softtoken::kMaxPinIterations;
    const struct {
        const char* what;
        void (*change)(TokenData& data);
        CK_RV rv;
    } rows[] = {
        {"user PIN of 0xFFFFFFFF iterations", [](TokenData& d) { d.userPin.iterations = 0xFFFFFFFF; },
         CKR_TOKEN_NOT_RECOGNIZED},
        {"SO PIN one iteration beyond the most", [](TokenData& d) { d.soPin.iterations = most + 1; },
         CKR_TOKEN_NOT_RECOGNIZED},
        {"user PIN of no iterations", [](TokenData& d) { d.userPin.iterations = 0; }, CKR_TOKEN_NOT_RECOGNIZED},
        {"user PIN hash of 1 byte", [](TokenData& d) { d.userPin.hash.resize(1); }, CKR_TOKEN_NOT_RECOGNIZED},
        {"SO PIN hash of 64 bytes", [](TokenData& d) { d.soPin.hash.resize(64, 0x11); }, CKR_TOKEN_NOT_RECOGNIZED},
        {"at most 0 failed logins", [](TokenData& d) { d.policy.maxFailed = 0; }, CKR_TOKEN_NOT_RECOGNIZED},
        {"at most 16 failed logins", [](TokenData& d) { d.policy.maxFailed = 16; }, CKR_TOKEN_NOT_RECOGNIZED},
        {"the most iterations", [](TokenData& d) { d.userPin.iterations = most; }, CKR_OK},
        {"at most 15 failed logins", [](TokenData& d) { d.policy.maxFailed = 15; }, CKR_OK},
        {"at most 1 failed login", [](TokenData& d) { d.policy.maxFailed = 1; }, CKR_OK},
        {"no user PIN", [](TokenData& d) { d.userPin = softtoken::PinRecord(); }, CKR_OK},
    };
    for (const auto& row : rows) {
        TokenData changed = good;
        row.change(changed);
        WriteToken(1, changed);
        CK_TOKEN_INFO info;
        EXPECT_EQ(row.rv, p11->C_GetTokenInfo(1, &info)) << row.what;
    }
    EXPECT_EQ("Test Token", Unpadded(TokenInfo(0).label, 32)) << "the other slots are not touched";
}

// A PIN record asking for 0xFFFFFFFF iterations would hold C_Login, and the
// module's lock with it, for hours. Written while a session is open, the
// token is dropped with its sessions and the login is answered at once.
TEST_F(StoreTest, ALoginNeverRunsADamagedPinRecord) {
    const CK_SESSION_HANDLE session = Open();
    softtoken::TokenData data = StoredToken(0);
    data.userPin.iterations = 0xFFFFFFFF;
    WriteToken(0, data);

    const Clock::time_point start = Clock::now();
    const CK_RV rv = Login(session, CKU_USER, kUserPin);
    const double elapsed = MillisecondsBetween(start, Clock::now());
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, rv);
    EXPECT_LT(elapsed, 5000.0) << "C_Login took " << elapsed << " ms";
    CK_TOKEN_INFO info;
    EXPECT_EQ(CKR_TOKEN_NOT_RECOGNIZED, p11->C_GetTokenInfo(0, &info));
    CK_SESSION_HANDLE another = 0;
    EXPECT_EQ(CKR_TOKEN_NOT_RECOGNIZED, p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &another));
}

TEST_F(StoreTest, SlotListsFollowTheRules) {
    MakeToken(2, "Second", "0000000021");
    EXPECT_EQ((std::vector<CK_SLOT_ID>{0, 1, 2, 3}), Slots(false));
    EXPECT_EQ((std::vector<CK_SLOT_ID>{0, 2}), Slots(true));
    CK_SLOT_ID list[1];
    CK_ULONG count = 1;
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, p11->C_GetSlotList(CK_TRUE, list, &count));
    EXPECT_EQ(2u, count);
    CK_SLOT_INFO info;
    ASSERT_EQ(CKR_OK, p11->C_GetSlotInfo(1, &info));
    EXPECT_EQ(CKF_REMOVABLE_DEVICE | CKF_HW_SLOT, info.flags);
    ASSERT_EQ(CKR_OK, p11->C_GetSlotInfo(2, &info));
    EXPECT_EQ(CKF_TOKEN_PRESENT | CKF_REMOVABLE_DEVICE | CKF_HW_SLOT, info.flags);
    CK_TOKEN_INFO tokenInfo;
    EXPECT_EQ(CKR_TOKEN_NOT_PRESENT, p11->C_GetTokenInfo(1, &tokenInfo));
}

TEST_F(StoreTest, RemovingTheTokenEndsItsSessions) {
    CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(CKR_OK, Login(session, CKU_USER, kUserPin));
    CK_OBJECT_HANDLE object = 0;
    ASSERT_EQ(CKR_OK, CreateData(session, "travels", true, false, &object));
    ASSERT_EQ(CKR_OK, control.RemoveToken(0));
    CK_SESSION_INFO info;
    const CK_RV rv = p11->C_GetSessionInfo(session, &info);
    EXPECT_TRUE(rv == CKR_SESSION_HANDLE_INVALID || rv == CKR_DEVICE_REMOVED) << std::hex << rv;
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, p11->C_GetSessionInfo(session, &info));
    CK_TOKEN_INFO tokenInfo;
    EXPECT_EQ(CKR_TOKEN_NOT_PRESENT, p11->C_GetTokenInfo(0, &tokenInfo));
    EXPECT_TRUE(Slots(true).empty());

    ASSERT_EQ(CKR_OK, control.InsertToken(0));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, p11->C_GetSessionInfo(session, &info));
    session = Open();
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, State(session)) << "the login went with the token";
    EXPECT_EQ(1u, FindByLabel(session, "travels").size()) << "the data came back";
}

TEST_F(StoreTest, EventsAreQueuedAndWaitedFor) {
    CK_SLOT_ID slot = 99;
    EXPECT_EQ(CKR_NO_EVENT, p11->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_WaitForSlotEvent(CKF_DONT_BLOCK, nullptr, nullptr));

    std::atomic<double> latency{-1};
    std::atomic<CK_SLOT_ID> woken{99};
    Clock::time_point changed;
    std::thread waiter([&] {
        CK_SLOT_ID got = 99;
        if (p11->C_WaitForSlotEvent(0, &got, nullptr) == CKR_OK) {
            latency = MillisecondsBetween(changed, Clock::now());
            woken = got;
        }
    });
    EXPECT_TRUE(WaitUntilAWaiterBlocks());
    changed = Clock::now();
    ASSERT_EQ(CKR_OK, control.RemoveToken(0));
    waiter.join();
    EXPECT_EQ(0u, woken.load());
    EXPECT_LT(latency.load(), 100.0);
    EXPECT_GE(latency.load(), 0.0);

    MakeToken(3, "New", "0000000031");
    ASSERT_TRUE(WaitForSlotEvents([](const SlotEventState& s) { return s.pending == 1; }));
    ASSERT_EQ(CKR_OK, p11->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr));
    EXPECT_EQ(3u, slot);
    EXPECT_EQ(CKR_NO_EVENT, p11->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr));
}

// The store takes a token out in steps under the slot's lock: the file is
// moved, then the presence is counted. Here the steps are 60 ms apart, time
// for several looks of the watcher, and the removal is still one event: a
// second one would make a program handle the same removal twice (or an
// insertion twice, opening a second session on the token).
TEST_F(StoreTest, AChangeMadeInStepsIsOneEvent) {
    CK_SLOT_ID slot = 99;
    const CK_ULONG start = SlotEvents().looks;
    ASSERT_TRUE(WaitForSlotEvents([start](const SlotEventState& s) { return s.looks >= start + 2; }));
    while (p11->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr) == CKR_OK) {
    }
    softtoken::Store store(StorePath());
    {
        softtoken::SlotLock lock(store, 0);
        ASSERT_TRUE(MoveFileExW(store.TokenPath(0).c_str(), store.RemovedPath(0).c_str(), MOVEFILE_REPLACE_EXISTING));
        std::this_thread::sleep_for(std::chrono::milliseconds(60));  // real time: several looks between the steps
        store.BumpContent(0);
        store.BumpPresence(0);
    }
    // Real time is what this checks: no second event comes within 200 ms.
    std::vector<CK_SLOT_ID> events;
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(200);
    while (Clock::now() < until) {
        if (p11->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr) == CKR_OK)
            events.push_back(slot);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(std::vector<CK_SLOT_ID>{0}, events);
    EXPECT_EQ(0u, Slots(true).size()) << "the token is out";
}

// The watcher takes a slot's lock only when the slot looks changed: a slot
// held under its lock for long (another process writing a large token)
// holds up neither the events of the other slots nor, a hundred times a
// second, every process of the store.
TEST_F(StoreTest, ALockedSlotDoesNotHoldUpTheEventsOfOthers) {
    MakeToken(1, "Other", "0000000011");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    CK_SLOT_ID slot = 99;
    while (p11->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr) == CKR_OK) {
    }
    softtoken::Store store(StorePath());
    softtoken::SlotLock lock(store, 0);
    ASSERT_EQ(CKR_OK, control.RemoveToken(1));
    std::vector<CK_SLOT_ID> events;
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(2000);
    while (Clock::now() < until && events.empty()) {
        if (p11->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr) == CKR_OK)
            events.push_back(slot);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(std::vector<CK_SLOT_ID>{1}, events) << "slot 0 is still locked";
}

TEST_F(StoreTest, FinalizeWakesABlockedWait) {
    std::atomic<CK_RV> rv{CKR_OK};
    std::thread waiter([&] {
        CK_SLOT_ID slot = 0;
        rv = p11->C_WaitForSlotEvent(0, &slot, nullptr);
    });
    EXPECT_TRUE(WaitUntilAWaiterBlocks());
    ASSERT_EQ(CKR_OK, p11->C_Finalize(nullptr));
    waiter.join();
    EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, rv.load());
    ASSERT_EQ(CKR_OK, p11->C_Initialize(nullptr));
}

// The tool changes the store from its own process; the wait here sees the
// change within 100 ms of the file changing (timed by watching the file,
// not the tool's start-up).
TEST_F(StoreTest, AChangeByTheToolInAnotherProcessWakesTheWait) {
    std::atomic<bool> stop{false};
    std::atomic<bool> fileGone{false};
    Clock::time_point goneAt;
    const std::wstring file = TokenFile(0);
    std::thread watcher([&] {
        while (!stop && GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES)
            Sleep(1);
        goneAt = Clock::now();
        fileGone = true;
    });
    std::atomic<double> wokenAt{-1};
    CK_SLOT_ID slot = 99;
    Clock::time_point start = Clock::now();
    std::thread waiter([&] {
        if (p11->C_WaitForSlotEvent(0, &slot, nullptr) == CKR_OK)
            wokenAt = MillisecondsBetween(start, Clock::now());
    });
    EXPECT_EQ(0u, RunTool(L"remove 0"));
    waiter.join();
    stop = true;
    watcher.join();
    ASSERT_TRUE(fileGone.load());
    EXPECT_EQ(0u, slot);
    const double latency = wokenAt.load() - MillisecondsBetween(start, goneAt);
    EXPECT_LT(latency, 100.0) << "woken " << wokenAt.load() << " ms after the start";
    RecordProperty("tool_change_latency_ms", static_cast<int>(latency));
}

TEST_F(StoreTest, TheToolMakesTokensAsAsked) {
    ASSERT_EQ(0u, RunTool(L"create 1 --label \"Made by tool\" --serial 0123456789 "
                          L"--manufacturer \"Tolvane Manufacturing Compan 30\" --model \"Key 2\" "
                          L"--hw 3.0 --fw 1.12 --capacity 32768 --user-pin 4711"));
    ASSERT_EQ(0u, RunTool(L"policy 1 2 4 4 8"));
    ASSERT_EQ(0u, RunTool(L"add-data 1 --label note --value hello"));
    ASSERT_EQ(0u, RunTool(L"add-cert 1 \"" + FixturePath(L"cn_simple.pem") + L"\" --label cert --id 0a0b"));
    ASSERT_EQ(0u, RunTool(L"genkey 1 --bits 1024 --label key --id 0a0b"));
    EXPECT_NE(0u, RunTool(L"policy 1 9 4 4 8")) << "a refused change fails the tool";
    EXPECT_NE(0u, RunTool(L"frobnicate"));

    const CK_TOKEN_INFO info = TokenInfo(1);
    EXPECT_EQ("Made by tool", Unpadded(info.label, 32));
    EXPECT_EQ("Tolvane Manufacturing Compan 30", Unpadded(info.manufacturerID, 32));
    EXPECT_EQ(std::string("0123456789      "), std::string(reinterpret_cast<const char*>(info.serialNumber), 16));
    EXPECT_EQ("Key 2", Unpadded(info.model, 16));
    EXPECT_EQ(3, info.hardwareVersion.major);
    EXPECT_EQ(0, info.hardwareVersion.minor);
    EXPECT_EQ(1, info.firmwareVersion.major);
    EXPECT_EQ(12, info.firmwareVersion.minor);
    EXPECT_EQ(32768u, info.ulTotalPublicMemory);
    EXPECT_EQ(8u, info.ulMaxPinLen);
    EXPECT_EQ(CKF_RNG | CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED, info.flags);

    CK_SESSION_HANDLE session = Open(1);
    ASSERT_EQ(CKR_OK, Login(session, CKU_USER, "4711"));
    std::vector<CK_OBJECT_HANDLE> cert = FindByLabel(session, "cert");
    ASSERT_EQ(1u, cert.size());
    EXPECT_EQ(ReadFixture(L"cn_simple.der"), Attribute(session, cert[0], CKA_VALUE));
    EXPECT_EQ((Bytes{0x0a, 0x0b}), Attribute(session, cert[0], CKA_ID));
    EXPECT_EQ(2u, FindByLabel(session, "key").size());
    EXPECT_EQ(1u, FindByLabel(session, "note").size());

    ASSERT_EQ(0u, RunTool(L"remove 1"));
    CK_ULONG state = 0;
    ASSERT_EQ(CKR_OK, control.GetSlotState(1, &state));
    EXPECT_EQ(SOFTTOKEN_SLOT_REMOVED, state);
}

}  // namespace
