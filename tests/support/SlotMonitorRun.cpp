#include "support/SlotMonitorRun.h"

#include "app/AppState.h"
#include "app/SlotMonitor.h"
#include "support/MainWindowFixture.h"
#include "support/UiDriver.h"

SlotMonitorRun::SlotMonitorRun() {
    thread_ = CreateThread(nullptr, 0, SlotMonitorThread, nullptr, 0, nullptr);
}

SlotMonitorRun::~SlotMonitorRun() {
    if (thread_)
        CloseHandle(thread_);
}

bool SlotMonitorRun::Stop(MainWindowFixture& window) {
    if (!thread_)
        return true;
    UiDriver ui;
    ui.Then({L"PKCS#11 error", {}, nullptr, IDOK});  // the monitor's report of the ended wait
    AppState.FunctionList->C_Finalize(nullptr);
    const bool ended =
        window.PumpUntil([this] { return WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0; }, 10000);
    CloseHandle(thread_);
    thread_ = nullptr;
    return ended;
}
