#include "AdminFixture.h"

#include "app/AppState.h"
#include "app/TokenPanel.h"
#include "cryptoki/ModuleLoader.h"
#include "res/resource.h"

namespace {

std::wstring Widen(const char* text) {
    return std::wstring(text, text + strlen(text));
}

}  // namespace

void AdminTest::AddToken(CK_SLOT_ID slot, const char* userPin, const char* soPin) {
    const std::string label = "Token " + std::to_string(slot);
    const std::string serial = "00000000" + std::to_string(slot);
    SoftTokenParams params = {};
    params.label = label.c_str();
    params.serial = serial.c_str();
    params.userPin = userPin;
    params.soPin = soPin;
    ASSERT_TRUE(window_.AddToken(slot, params));
}

void AdminTest::Start(bool adminMode) {
    ASSERT_EQ(0, window_.Start(adminMode));
}

void AdminTest::Run(int command) {
    window_.Click(command);
    std::string why;
    EXPECT_TRUE(ui_.WaitDone(&why)) << why;
    for (const SeenWindow& stray : ui_.Unexpected())
        ADD_FAILURE() << "unexpected window \"" << Narrow(stray.caption) << "\": " << Narrow(stray.text);
    window_.Pump();
}

void AdminTest::ExpectWindow(size_t index, const ExpectedWindow& expected, HWND owner) {
    const std::vector<SeenWindow> seen = ui_.Seen();
    ASSERT_LT(index, seen.size()) << "only " << seen.size() << " windows were seen";
    EXPECT_EQ(Narrow(expected.caption), Narrow(seen[index].caption)) << "window " << index;
    EXPECT_EQ(Narrow(expected.text), Narrow(seen[index].text)) << "window " << index;
    EXPECT_EQ(owner, seen[index].owner) << "owner of window " << index << " \"" << Narrow(seen[index].caption)
                                        << "\"";
}

void AdminTest::LoginThroughDialog(const char* pin) {
    ui_.Then(Step(L"Login to token", {{IDC_LOGIN_PIN, Widen(pin)}}));
    Run(kLoginCommand);
    ASSERT_EQ(CKS_RW_USER_FUNCTIONS, SessionState());
}

void AdminTest::SelectRow(int slot) {
    window_.ClickTokenRow(slot);
}

std::wstring AdminTest::LoginCaption() {
    return window_.ButtonCaption(kLoginButton);
}

std::wstring AdminTest::RowName(int slot) {
    return MainWindowFixture::CellText(AppState.TokenListView, slot, 0);
}

std::wstring AdminTest::RowStatus(int slot) {
    return MainWindowFixture::CellText(AppState.TokenListView, slot, 1);
}

std::wstring AdminTest::PanelValue(int row) {
    return MainWindowFixture::CellText(AppState.TokenInfoView, row, 1);
}

bool AdminTest::MainButtonEnabled(int index) {
    return window_.ButtonEnabled(index);
}

VendorFunctionList* AdminTest::Api() {
    return Cryptoki.FunctionList;
}

CK_SESSION_HANDLE AdminTest::Session(int slot) {
    return SessionTable[slot];
}

CK_STATE AdminTest::SessionState(int slot) {
    CK_SESSION_INFO info = {};
    return Api()->C_GetSessionInfo(Session(slot), &info) == CKR_OK ? info.state : static_cast<CK_STATE>(-1);
}

CK_FLAGS AdminTest::TokenFlags(int slot) {
    CK_TOKEN_INFO info = {};
    Api()->C_GetTokenInfo(static_cast<CK_SLOT_ID>(slot), &info);
    return info.flags;
}

CK_RV AdminTest::Login(CK_USER_TYPE user, const char* pin, int slot) {
    return Api()->C_Login(Session(slot), user, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin)),
                          static_cast<CK_ULONG>(strlen(pin)));
}

CK_RV AdminTest::Logout(int slot) {
    return Api()->C_Logout(Session(slot));
}

bool AdminTest::PinWorks(CK_USER_TYPE user, const char* pin, int slot) {
    if (Login(user, pin, slot) != CKR_OK)
        return false;
    Logout(slot);
    return true;
}

void AdminTest::Fault(const char* function, CK_ULONG nth, CK_RV rv) {
    ASSERT_EQ(CKR_OK, TokenStore::Control().SetFault(function, nth, rv));
}

DialogStep Step(const std::wstring& caption, std::vector<std::pair<int, std::wstring>> edits, int button,
                std::function<void(HWND)> inspect) {
    DialogStep step;
    step.caption = caption;
    step.edits = std::move(edits);
    step.button = button;
    step.inspect = [inspect](HWND window) {
        // Answered once the window's thread is back in its message loop.
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 2000, nullptr);
        if (inspect)
            inspect(window);
    };
    return step;
}

std::wstring CkReport(const std::wstring& code, const std::wstring& context) {
    return L"An error occured due to " + code + L"\r\n" + context;
}

int FocusedControlId(HWND dialog) {
    GUITHREADINFO info = {sizeof info};
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) || !info.hwndFocus)
        return 0;
    return GetDlgCtrlID(info.hwndFocus);
}
