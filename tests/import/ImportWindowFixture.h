// The program's main window on a token in slot 0, for the import command and
// the PFX dialog; and a window titled "CLASS" on a thread of its own, as
// another program has.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "ImportTestSupport.h"
#include "support/MainWindowFixture.h"
#include "support/UiDriver.h"

class ImportWindowTest : public testing::Test, public TokenReader {
protected:
    void SetUp() override;
    void TearDown() override;

    // Pumps messages (the listing worker sends its rows to the object list)
    // until the listing has ended. False after 10 s.
    bool WaitForListing();
    int ObjectRows();
    // A row that is no import's, to see whether the object list was emptied.
    void AddMarkerRow();
    // Runs the import command choosing `path` in the open-file dialog, with
    // `more` steps after it. The steps must all run; nothing else may
    // appear. Returns the windows the steps handled.
    std::vector<SeenWindow> RunImportCommand(const std::wstring& path, std::vector<DialogStep> more = {});

    MainWindowFixture window_;
};

class ClassWindow {
public:
    // `hung`: the window's thread takes no messages until the object goes.
    explicit ClassWindow(bool hung = false);
    ~ClassWindow();
    ClassWindow(const ClassWindow&) = delete;
    ClassWindow& operator=(const ClassWindow&) = delete;

    int Received() const { return received_; }  // messages 458 with both parameters 0
    int Others() const { return others_; }      // messages 458 with other parameters

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Run(bool hung);

    std::atomic<int> received_{0};
    std::atomic<int> others_{0};
    HWND window_ = nullptr;
    HANDLE ready_ = nullptr;
    HANDLE release_ = nullptr;
    std::thread thread_;
};
