// The program's slot monitor running beside a test's message loop, as
// start-up runs it, and ended the way the program ends it: finalising the
// module wakes its wait, and its report of that is answered.
#pragma once

#include <windows.h>

class MainWindowFixture;

class SlotMonitorRun {
public:
    SlotMonitorRun();
    // Only lets go of the thread: a test ends the monitor with Stop.
    ~SlotMonitorRun();
    SlotMonitorRun(const SlotMonitorRun&) = delete;
    SlotMonitorRun& operator=(const SlotMonitorRun&) = delete;

    bool Running() const { return thread_ != nullptr; }
    // Finalises the module and pumps `window` until the monitor has ended.
    // False when it did not end in time.
    bool Stop(MainWindowFixture& window);

private:
    HANDLE thread_ = nullptr;
};
