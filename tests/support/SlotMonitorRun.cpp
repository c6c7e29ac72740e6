#include "support/SlotMonitorRun.h"

#include "app/AppState.h"
#include "app/SlotMonitor.h"
#include "cryptoki/ModuleLoader.h"
#include "support/MainWindowFixture.h"

SlotMonitorRun::SlotMonitorRun() {
    running_ = StartSlotMonitor(AppState.MainWindow);
}

SlotMonitorRun::~SlotMonitorRun() {
    if (running_) {
        RequestSlotMonitorStop();
        Cryptoki.FunctionList->C_Finalize(nullptr);
        WaitForSlotMonitor(10000);
    }
}

bool SlotMonitorRun::Stop(MainWindowFixture& window) {
    if (!running_)
        return true;
    running_ = false;
    RequestSlotMonitorStop();
    Cryptoki.FunctionList->C_Finalize(nullptr);
    return window.PumpUntil([] { return WaitForSlotMonitor(0); }, 10000);
}
