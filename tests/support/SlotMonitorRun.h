// The program's slot monitor running beside a test's message loop, as
// start-up runs it for the main window, and ended the way the program ends
// it: asked to stop, then the module finalised, which wakes its wait.
#pragma once

#include <windows.h>

class MainWindowFixture;

class SlotMonitorRun {
public:
    SlotMonitorRun();
    // A monitor the test did not stop is stopped here.
    ~SlotMonitorRun();
    SlotMonitorRun(const SlotMonitorRun&) = delete;
    SlotMonitorRun& operator=(const SlotMonitorRun&) = delete;

    bool Running() const { return running_; }
    // Finalises the module and pumps `window` until the monitor has ended.
    // False when it did not end in time.
    bool Stop(MainWindowFixture& window);

private:
    bool running_ = false;
};
