// The program's main window, started in this process as the program starts
// it, on a software-token store of the test's own: the module tolvane11.dll
// loaded by its plain name, the window, one row per slot, one session per
// token and the first token selected. The message loop is the test's: it
// pumps messages, clicks buttons and selects rows, and reads what the user
// would see. The destructor destroys the window, finalises the module and
// resets AppState, so the next test starts afresh.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "cryptoki/Cryptoki.h"
#include "support/TokenStore.h"

class MainWindowFixture {
public:
    explicit MainWindowFixture(CK_ULONG slotCount = 4);
    ~MainWindowFixture();
    MainWindowFixture(const MainWindowFixture&) = delete;
    MainWindowFixture& operator=(const MainWindowFixture&) = delete;

    // Tokens are put in the store before Start.
    bool AddToken(CK_SLOT_ID slot, const char* label, const char* serial, const char* userPin = kTestUserPin);
    bool AddToken(CK_SLOT_ID slot, const SoftTokenParams& params);
    TokenStore& Store() { return store_; }

    // Runs start-up up to the message loop; the slot monitor only when
    // asked. Returns start-up's result: 0 when the window is ready,
    // otherwise its exit code.
    int Start(bool adminMode = false, bool startSlotMonitor = false);
    // The same, with `adjust` called between loading the module and reading
    // the slots, to put a test's own function list into AppState.
    int StartWith(const std::function<void()>& adjust, bool adminMode = false);

    HWND Window() const;

    // Handles every message waiting for this thread.
    void Pump();
    // Pumps until `done` holds; false after `timeoutMs`.
    bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);
    // The same, looking at `done` after every single message, so that a
    // test can catch a worker between two of its batches of rows.
    bool PumpEachUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);
    // Pumps until the slot monitor has taken every change made to the slots
    // before the call and the window has handled what it sent. For tests
    // that check what the window shows once the monitor is done, without
    // guessing how long that takes. Needs a running monitor; false after
    // `timeoutMs`.
    bool PumpUntilMonitorIdle(DWORD timeoutMs = 10000);
    // The same seen from another thread while the window thread runs a
    // dialog's loop: waits until the monitor has taken every change made
    // before the call, without pumping and without looking at the window.
    static bool WaitForMonitorIdle(DWORD timeoutMs = 10000);

    // The main window's command `id`, as its button sends it when clicked.
    void Click(int id);
    // A click on token-list row `row`, or on an empty area when -1: the
    // selection changes, then the list reports the click.
    void ClickTokenRow(int row);
    // A click on object-list row `row` (-1: none).
    void ClickObjectRow(int row);
    // Selects exactly these object rows (the list allows several).
    void SelectObjectRows(const std::vector<int>& rows);

    static int RowCount(HWND list);
    static int SelectedRow(HWND list);  // first selected row, -1 when none
    static std::wstring CellText(HWND list, int row, int column);
    static void AddRow(HWND list, const std::vector<std::wstring>& cells);

    std::wstring ButtonCaption(int index) const;  // main button
    bool ButtonEnabled(int index) const;
    bool AdminButtonEnabled(int index) const;

    // Destroys the window and takes its quit message off the queue; the
    // destructor does this when the test did not.
    void Stop();

    // Checks (with the test framework) that the window shows no token in
    // `slot` once the slot monitor's messages are handled: blank name and
    // status, an empty and disabled object list, every main button disabled.
    void ExpectNoTokenShown(int slot, const std::string& what);

    // The messages of a click on `row` of `list` alone, without pumping:
    // for a test that must look before a worker's next step.
    static void ClickRow(HWND list, int row);

private:

    TokenStore store_;
    bool started_ = false;
};
