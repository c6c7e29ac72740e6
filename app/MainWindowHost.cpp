#include "app/MainWindowHost.h"

#include <commctrl.h>

#include "app/AppState.h"
#include "app/TokenPanel.h"
#include "app/TokenSelection.h"
#include "app/Workers.h"
#include "objects/ObjectListRows.h"

namespace {

// The buttons, the login button and the panel show the selected token.
bool Shown(int slot) {
    return slot >= 0 && slot == SelectedTokenSlot();
}

}  // namespace

int MainWindowHost::UpdateButtonsForState(int slot, CK_STATE state) {
    return Shown(slot) ? ::UpdateButtonsForState(state) : 0;
}

int MainWindowHost::SetTokenRowStatus(CK_STATE state, int row) {
    return ::SetTokenRowStatus(state, row);
}

int MainWindowHost::SetTokenRowName(CK_UTF8CHAR* label, int row) {
    return ::SetTokenRowName(label, row, false);
}

void MainWindowHost::RefillTokenInfoPanel(CK_SLOT_ID slot, const CK_TOKEN_INFO* tokenInfo) {
    if (!Shown(static_cast<int>(slot)))
        return;
    SendMessageW(AppState.TokenInfoView, LVM_DELETEALLITEMS, 0, 0);
    if (tokenInfo)
        ::FillTokenInfoPanel(slot, *tokenInfo);
}

std::wstring MainWindowHost::LoginCaption() {
    wchar_t caption[32] = {};
    GetWindowTextW(AppState.MainButtons[kLoginButton], caption, ARRAYSIZE(caption));
    return caption;
}

void MainWindowHost::SetLoginCaption(int slot, const wchar_t* caption) {
    if (Shown(slot))
        SetWindowTextW(AppState.MainButtons[kLoginButton], caption);
}

bool MainWindowHost::StartWorker(std::unique_ptr<WorkerJob> job, bool disableSessionControls) {
    return ::StartWorker(std::move(job), disableSessionControls);
}

bool MainWindowHost::Busy() const {
    return AppState.Busy;
}

int MainWindowHost::PkeSlotIndex(int slot) const {
    for (CK_ULONG i = 0; i < AppState.TokenCount && i < static_cast<CK_ULONG>(kMaxSlots); ++i)
        if (AppState.SlotList[i] == static_cast<CK_SLOT_ID>(slot))
            return static_cast<int>(i);
    return slot;
}

void MainWindowHost::RestoreButtonsFromSession() {
    ::RestoreButtonsFromSession();
}

MainWindowHost& TheMainWindowHost() {
    static MainWindowHost host;
    return host;
}

AdminCommand BindAdminCommand() {
    return {AppState.MainWindow, SelectedTokenSlot(), &TheMainWindowHost()};
}

ObjectCommand BindObjectCommand() {
    return {AppState.MainWindow, AppState.ObjectListView, SelectedTokenSlot(), ObjectListGeneration(),
            &TheMainWindowHost()};
}

CsrCommand BindCsrCommand() {
    return {AppState.MainWindow, AppState.ObjectListView, SelectedTokenSlot(), &TheMainWindowHost()};
}
