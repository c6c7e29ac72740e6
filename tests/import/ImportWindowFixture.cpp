#include "ImportWindowFixture.h"

#include "app/AppState.h"
#include "app/ControlIds.h"

namespace {
constexpr int kFileNameBox = 1148;  // the open-file dialog's "File name" box (cmb13)
}

void ImportWindowTest::SetUp() {
    ASSERT_TRUE(window_.AddToken(kImportSlot, "Import", "I0001"));
    ASSERT_EQ(window_.Start(), 0);
    ASSERT_EQ(MainWindowFixture::SelectedRow(AppState.TokenListView), kImportSlot);
}

void ImportWindowTest::TearDown() {
    WaitForListing();
}

bool ImportWindowTest::WaitForListing() {
    return window_.PumpUntil([] { return !AppState.Busy; }, 10000);
}

int ImportWindowTest::ObjectRows() {
    return MainWindowFixture::RowCount(AppState.ObjectListView);
}

void ImportWindowTest::AddMarkerRow() {
    MainWindowFixture::AddRow(AppState.ObjectListView, {L"marker"});
}

std::vector<SeenWindow> ImportWindowTest::RunImportCommand(const std::wstring& path, std::vector<DialogStep> more) {
    UiDriver driver;
    driver.Fill(L"Open", {{kFileNameBox, path}}, IDOK);
    for (DialogStep& step : more)
        driver.Then(std::move(step));
    window_.Click(kImportCommand);
    std::string why;
    EXPECT_TRUE(driver.WaitDone(&why)) << why;
    EXPECT_EQ(Captions(driver.Unexpected()), "");
    return driver.Seen();
}

ClassWindow::ClassWindow(bool hung) {
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this, hung] { Run(hung); });
    WaitForSingleObject(ready_, 5000);
}

ClassWindow::~ClassWindow() {
    SetEvent(release_);
    if (window_)
        PostMessageW(window_, WM_CLOSE, 0, 0);
    thread_.join();
    CloseHandle(ready_);
    CloseHandle(release_);
}

LRESULT CALLBACK ClassWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<ClassWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == 458 && self) {
        if (wParam == 0 && lParam == 0)
            ++self->received_;
        else
            ++self->others_;
        return 0;
    }
    if (message == WM_CLOSE) {
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
}

void ClassWindow::Run(bool hung) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"ImportTestClassWindow";
    RegisterClassW(&windowClass);  // a second registration fails harmlessly
    window_ = CreateWindowExW(0, L"ImportTestClassWindow", L"CLASS", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetEvent(ready_);
    if (hung)
        WaitForSingleObject(release_, INFINITE);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
}
