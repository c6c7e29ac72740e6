#include "app/SlotMonitor.h"

#include <atomic>

#include "app/Workers.h"
#include "cryptoki/ModuleLoader.h"

namespace {

constexpr DWORD kPassPauseMs = 15;
const wchar_t kWaitFailed[] = L"Wait for slot is failed with unkown error";

std::atomic<bool> StopRequested{false};
HANDLE MonitorThread = nullptr;

// A failure of the waiting: reported on the window thread, unless the
// program is closing (finalising the module ends a blocking wait with an
// error), then the monitor ends with `result`.
DWORD Failed(HWND window, CK_RV rv, const wchar_t* context, SlotMonitorResult result) {
    if (StopRequested)
        return kMonitorStopped;
    const SlotMonitorFailure failure = {rv, context};
    SendMessageW(window, kSlotMonitorFailedMessage, 0, reinterpret_cast<LPARAM>(&failure));
    return result;
}

// Waits for the next event: 0 with the slot, otherwise the thread's result.
DWORD WaitForEvent(HWND window, CK_SLOT_ID* slot) {
    VendorFunctionList* api = Cryptoki.FunctionList;
    for (;;) {
        CK_RV rv = api->C_WaitForSlotEvent(0, slot, nullptr);
        if (rv == CKR_OK)
            return 0;
        if (rv != CKR_FUNCTION_NOT_SUPPORTED)
            return Failed(window, rv, kWaitFailed, kMonitorBlockingWaitFailed);
        // The module cannot block: poll.
        rv = api->C_WaitForSlotEvent(CKF_DONT_BLOCK, slot, nullptr);
        if (rv == CKR_OK)
            return 0;
        if (rv == CKR_NO_EVENT) {
            Sleep(kPassPauseMs);
            if (StopRequested)
                return kMonitorStopped;
            continue;
        }
        if (rv == CKR_FUNCTION_NOT_SUPPORTED)
            return Failed(window, rv, L"Wait for slot is not supported by the cryptoki", kMonitorWaitNotSupported);
        return Failed(window, rv, kWaitFailed, kMonitorPollingFailed);
    }
}

}  // namespace

DWORD WINAPI SlotMonitorThread(LPVOID parameter) {
    const HWND window = static_cast<HWND>(parameter);
    for (;;) {
        CK_SLOT_ID slot = 0;
        const DWORD result = WaitForEvent(window, &slot);
        if (StopRequested)
            return kMonitorStopped;
        if (result != 0)
            return result;
        // The window thread carries the event out before the monitor goes on.
        SendMessageW(window, kSlotEventMessage, static_cast<WPARAM>(slot), 0);
        Sleep(kPassPauseMs);
    }
}

bool StartSlotMonitor(HWND window) {
    if (MonitorThread)
        return false;  // one monitor at a time
    StopRequested = false;
    MonitorThread = CreateThread(nullptr, 0, SlotMonitorThread, window, 0, nullptr);
    return MonitorThread != nullptr;
}

void RequestSlotMonitorStop() {
    StopRequested = true;
}

bool WaitForSlotMonitor(DWORD timeoutMs, DWORD* result) {
    if (!MonitorThread)
        return true;
    if (!WaitAnsweringSentMessages(MonitorThread, timeoutMs))
        return false;
    if (result)
        GetExitCodeThread(MonitorThread, result);
    CloseHandle(MonitorThread);
    MonitorThread = nullptr;
    return true;
}
