// Several threads at once, and every fault mode.
#include "SoftTokenFixture.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

class ThreadTest : public SoftTokenTest {};

// Four workers, 1,000 mixed operations each, beside a thread blocked in
// the slot wait: no call may fail.
TEST_F(ThreadTest, FourWorkersAndAMonitorRunWithoutAFailure) {
    CK_SESSION_HANDLE shared = Open();
    ASSERT_EQ(CKR_OK, Login(shared, CKU_USER, kUserPin));
    std::atomic<int> failures{0};
    std::atomic<CK_RV> monitorRv{CKR_OK};
    std::thread monitor([&] {
        CK_SLOT_ID slot = 0;
        monitorRv = p11->C_WaitForSlotEvent(0, &slot, nullptr);
    });
    auto work = [&](int worker) {
        CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
        if (p11->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) != CKR_OK) {
            ++failures;
            return;
        }
        const std::string label = "worker" + std::to_string(worker);
        for (int i = 0; i < 1000; ++i) {
            CK_RV rv = CKR_OK;
            CK_OBJECT_HANDLE object = 0;
            switch (i % 5) {
            case 0: rv = CreateData(session, label, i % 100 == 0, i % 2 == 0, &object); break;
            case 1: {
                CK_ATTRIBUTE templ = {CKA_LABEL, const_cast<char*>(label.data()), static_cast<CK_ULONG>(label.size())};
                CK_OBJECT_HANDLE found[64];
                CK_ULONG count = 0;
                rv = p11->C_FindObjectsInit(session, &templ, 1);
                if (rv == CKR_OK)
                    rv = p11->C_FindObjects(session, found, 64, &count);
                if (rv == CKR_OK)
                    rv = p11->C_FindObjectsFinal(session);
                for (CK_ULONG j = 0; rv == CKR_OK && j < count; ++j)
                    rv = p11->C_DestroyObject(session, found[j]);
                break;
            }
            case 2: {
                CK_TOKEN_INFO info;
                rv = p11->C_GetTokenInfo(0, &info);
                break;
            }
            case 3: {
                CK_BYTE random[16];
                rv = p11->C_GenerateRandom(session, random, sizeof random);
                break;
            }
            default: {
                CK_SESSION_INFO info;
                rv = p11->C_GetSessionInfo(session, &info);
                if (rv == CKR_OK && info.state != CKS_RW_USER_FUNCTIONS)
                    rv = CKR_GENERAL_ERROR;
            }
            }
            if (rv != CKR_OK && failures++ < 5)
                ADD_FAILURE() << "worker " << worker << " step " << i << ": 0x" << std::hex << rv;
        }
        p11->C_CloseSession(session);
    };
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w)
        workers.emplace_back(work, w);
    for (std::thread& t : workers)
        t.join();
    EXPECT_EQ(0, failures.load());
    ASSERT_EQ(CKR_OK, p11->C_Finalize(nullptr));
    monitor.join();
    EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, monitorRv.load());
    ASSERT_EQ(CKR_OK, p11->C_Initialize(nullptr));
}

TEST_F(ThreadTest, InitializeArgumentsAndOrder) {
    EXPECT_EQ(CKR_CRYPTOKI_ALREADY_INITIALIZED, p11->C_Initialize(nullptr));
    ASSERT_EQ(CKR_OK, p11->C_Finalize(nullptr));
    CK_INFO info;
    EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, p11->C_GetInfo(&info));
    EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, p11->C_Finalize(nullptr));
    CK_C_INITIALIZE_ARGS args = {};
    args.flags = CKF_OS_LOCKING_OK;
    ASSERT_EQ(CKR_OK, p11->C_Initialize(&args));
    ASSERT_EQ(CKR_OK, p11->C_GetInfo(&info));
    EXPECT_EQ(2, info.cryptokiVersion.major);
    ASSERT_EQ(CKR_OK, p11->C_Finalize(nullptr));
    args.pReserved = &args;
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_Initialize(&args));
    ASSERT_EQ(CKR_OK, p11->C_Initialize(nullptr));
}

// The slot-event state that tests wait on instead of guessing a time: a
// change is queued at a later look until it is taken; a caller that found
// nothing is idle at the look it asked at, and one that blocks is idle at
// every look until it leaves.
TEST_F(ThreadTest, SlotEventStateTellsWhenEveryChangeIsTaken) {
    CK_ULONG looks = 0, pending = 0, idle = 0;
    EXPECT_EQ(CKR_ARGUMENTS_BAD, control.GetSlotEventState(nullptr, &pending, &idle));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, control.WaitSlotEventState(&looks, nullptr, &idle, 0));
    const CK_ULONG start = SlotEvents().looks;
    ASSERT_TRUE(WaitForSlotEvents([start](const SlotEventState& s) { return s.looks >= start + 2; }))
        << "the watcher keeps looking";
    EXPECT_EQ(0u, SlotEvents().pending);

    ASSERT_EQ(CKR_OK, control.RemoveToken(0));
    ASSERT_TRUE(WaitForSlotEvents([](const SlotEventState& s) { return s.pending == 1; })) << "the removal is queued";
    SlotEventState state = SlotEvents();
    EXPECT_LT(state.idleLook, state.looks) << "nobody has asked since";
    CK_SLOT_ID slot = 99;
    ASSERT_EQ(CKR_OK, p11->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr));
    EXPECT_EQ(0u, slot);
    state = SlotEvents();
    EXPECT_EQ(0u, state.pending);
    const CK_ULONG beforeAsking = state.looks;
    EXPECT_EQ(CKR_NO_EVENT, p11->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr));
    ASSERT_EQ(CKR_OK, control.GetSlotEventState(&looks, &pending, &idle));
    EXPECT_GE(idle, beforeAsking) << "idle at the look of its CKR_NO_EVENT";
    EXPECT_LE(idle, looks);

    std::atomic<CK_RV> waited{CKR_GENERAL_ERROR};
    std::thread waiter([&] {
        CK_SLOT_ID changed = 99;
        waited = p11->C_WaitForSlotEvent(0, &changed, nullptr);
    });
    EXPECT_TRUE(WaitUntilAWaiterBlocks()) << "idle at every look while it blocks";
    EXPECT_EQ(CKR_OK, control.InsertToken(0));
    waiter.join();
    EXPECT_EQ(CKR_OK, waited.load());
    const CK_ULONG left = SlotEvents().idleLook;
    EXPECT_TRUE(WaitForSlotEvents([left](const SlotEventState& s) { return s.looks >= left + 2; }));
    state = SlotEvents();
    EXPECT_EQ(left, state.idleLook) << "no longer idle once it took the insertion and left";
    EXPECT_EQ(0u, state.pending);
}

class FaultTest : public SoftTokenTest {
protected:
    CK_RV Find(CK_SESSION_HANDLE session) {
        CK_OBJECT_HANDLE found[4];
        CK_ULONG count = 0;
        return p11->C_FindObjects(session, found, 4, &count);
    }
};

TEST_F(FaultTest, TheNthCallFailsOnce) {
    CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(CKR_OK, p11->C_FindObjectsInit(session, nullptr, 0));
    ASSERT_EQ(CKR_OK, control.SetFault("C_FindObjects", 3, CKR_DEVICE_ERROR));
    const CK_RV expected[] = {CKR_OK, CKR_OK, CKR_DEVICE_ERROR, CKR_OK, CKR_OK};
    for (CK_RV rv : expected)
        EXPECT_EQ(rv, Find(session));
}

TEST_F(FaultTest, RepeatFailsEveryCallFromTheNthUntilCleared) {
    CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(CKR_OK, control.SetFaultEx("C_GetSessionInfo", 2, CKR_DEVICE_REMOVED, SOFTTOKEN_FAULT_REPEAT));
    CK_SESSION_INFO info;
    EXPECT_EQ(CKR_OK, p11->C_GetSessionInfo(session, &info));
    EXPECT_EQ(CKR_DEVICE_REMOVED, p11->C_GetSessionInfo(session, &info));
    EXPECT_EQ(CKR_DEVICE_REMOVED, p11->C_GetSessionInfo(session, &info));
    ASSERT_EQ(CKR_OK, control.ClearFaults());
    EXPECT_EQ(CKR_OK, p11->C_GetSessionInfo(session, &info));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, control.SetFault("C_Login", 0, CKR_OK));
}

// A removal fault pulls the token before the n-th call of any entry point:
// the calls before it work, the n-th runs on a token that is gone, and the
// fault does not come back.
TEST_F(FaultTest, ARemovalPullsTheTokenBeforeTheNthCallOfAnyEntry) {
    CK_SESSION_HANDLE session = Open();
    EXPECT_EQ(CKR_ARGUMENTS_BAD,
              control.SetFaultEx("*", 1, 0, SOFTTOKEN_FAULT_REMOVE_TOKEN | SOFTTOKEN_FAULT_REPEAT));
    ASSERT_EQ(CKR_OK, control.SetFaultEx("*", 3, 0, SOFTTOKEN_FAULT_REMOVE_TOKEN));
    CK_SESSION_INFO info;
    EXPECT_EQ(CKR_OK, p11->C_GetSessionInfo(session, &info));
    EXPECT_EQ(CKR_OK, p11->C_FindObjectsInit(session, nullptr, 0));
    CK_ULONG pending = 0;
    ASSERT_EQ(CKR_OK, control.PendingFaults(&pending));
    EXPECT_EQ(1u, pending) << "two calls ran; the removal waits for the third";
    CK_ULONG state = 0;
    ASSERT_EQ(CKR_OK, control.GetSlotState(0, &state));
    EXPECT_EQ(SOFTTOKEN_SLOT_PRESENT, state) << "two calls ran on the token";
    const CK_RV rv = Find(session);
    EXPECT_TRUE(rv == CKR_SESSION_HANDLE_INVALID || rv == CKR_DEVICE_REMOVED) << std::hex << rv;
    ASSERT_EQ(CKR_OK, control.GetSlotState(0, &state));
    EXPECT_EQ(SOFTTOKEN_SLOT_REMOVED, state);
    ASSERT_EQ(CKR_OK, control.PendingFaults(&pending));
    EXPECT_EQ(0u, pending);
    char last[32] = {};
    ASSERT_EQ(CKR_OK, control.LastFaultFunction(last, sizeof last));
    EXPECT_STREQ("C_FindObjects", last);
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, control.LastFaultFunction(last, 5));

    ASSERT_EQ(CKR_OK, control.InsertToken(0));
    session = Open();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(CKR_OK, p11->C_GetSessionInfo(session, &info)) << "a removal happens once";
    EXPECT_EQ(CKR_ARGUMENTS_BAD, control.AddStoreFault("*", 1, 0, SOFTTOKEN_FAULT_REMOVE_TOKEN))
        << "removals are for this process only";
}

TEST_F(FaultTest, TheBlockingWaitCanBeRefusedWhilePollingWorks) {
    ASSERT_EQ(CKR_OK, control.SetFaultEx("C_WaitForSlotEvent:blocking", 1, CKR_FUNCTION_NOT_SUPPORTED,
                                         SOFTTOKEN_FAULT_REPEAT));
    CK_SLOT_ID slot = 0;
    EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, p11->C_WaitForSlotEvent(0, &slot, nullptr));
    EXPECT_EQ(CKR_NO_EVENT, p11->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr));
    ASSERT_EQ(CKR_OK, control.SetFaultEx("C_WaitForSlotEvent:nonblocking", 1, CKR_GENERAL_ERROR,
                                         SOFTTOKEN_FAULT_REPEAT));
    EXPECT_EQ(CKR_GENERAL_ERROR, p11->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr));
    EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, p11->C_WaitForSlotEvent(0, &slot, nullptr));
}

TEST_F(FaultTest, ThePolicyEntriesCanFail) {
    ASSERT_EQ(CKR_OK, control.SetFaultEx("C_GetUserPinPolicy", 1, CKR_FUNCTION_FAILED, SOFTTOKEN_FAULT_REPEAT));
    ASSERT_EQ(CKR_OK, control.SetFault("C_SetUserPinPolicy", 1, CKR_DEVICE_ERROR));
    CK_ULONG v = 0;
    EXPECT_EQ(CKR_FUNCTION_FAILED, p11->C_GetUserPinPolicy(0, 1, &v, &v, &v, &v));
    CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(CKR_OK, Login(session, CKU_SO, kSoPin));
    EXPECT_EQ(CKR_DEVICE_ERROR, p11->C_SetUserPinPolicy(0, session, 2, 5, 4, 32));
    EXPECT_EQ(CKR_OK, p11->C_SetUserPinPolicy(0, session, 2, 5, 4, 32));
}

// A fault set with the tool reaches this running process through the
// control file.
TEST_F(FaultTest, FaultsFromTheToolReachRunningProcesses) {
    CK_ULONG count = 0;
    ASSERT_EQ(CKR_OK, p11->C_GetSlotList(CK_FALSE, nullptr, &count));
    ASSERT_EQ(0u, RunTool(L"fault C_GetSlotList 2 0x30"));
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_EQ(CKR_OK, p11->C_GetSlotList(CK_FALSE, nullptr, &count));
    EXPECT_EQ(CKR_DEVICE_ERROR, p11->C_GetSlotList(CK_FALSE, nullptr, &count));
    EXPECT_EQ(CKR_OK, p11->C_GetSlotList(CK_FALSE, nullptr, &count));
    ASSERT_EQ(0u, RunTool(L"fault C_GetTokenInfo 1 0xE0 --repeat"));
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    CK_TOKEN_INFO info;
    EXPECT_EQ(CKR_TOKEN_NOT_PRESENT, p11->C_GetTokenInfo(0, &info));
    EXPECT_EQ(CKR_TOKEN_NOT_PRESENT, p11->C_GetTokenInfo(0, &info));
    ASSERT_EQ(0u, RunTool(L"clear-faults"));
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_EQ(CKR_OK, p11->C_GetTokenInfo(0, &info));
}

}  // namespace
