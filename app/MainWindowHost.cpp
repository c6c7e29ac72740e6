#include "app/MainWindowHost.h"

#include <commctrl.h>

#include "app/AppState.h"
#include "app/TokenPanel.h"
#include "app/TokenSelection.h"
#include "app/Workers.h"
#include "objects/ObjectListRows.h"

int MainWindowHost::UpdateButtonsForState(CK_STATE state) {
    return ::UpdateButtonsForState(state);
}

int MainWindowHost::SetTokenRowStatus(CK_STATE state, int row) {
    return ::SetTokenRowStatus(state, row);
}

int MainWindowHost::SetTokenRowName(CK_UTF8CHAR* label, int row) {
    return ::SetTokenRowName(label, row, false);
}

void MainWindowHost::EmptyTokenInfoPanel() {
    SendMessageW(AppState.TokenInfoView, LVM_DELETEALLITEMS, 0, 0);
}

int MainWindowHost::FillTokenInfoPanel(CK_SLOT_ID slot, const CK_TOKEN_INFO& tokenInfo) {
    return ::FillTokenInfoPanel(slot, tokenInfo);
}

std::wstring MainWindowHost::LoginCaption() {
    wchar_t caption[32] = {};
    GetWindowTextW(AppState.MainButtons[kLoginButton], caption, ARRAYSIZE(caption));
    return caption;
}

void MainWindowHost::SetLoginCaption(const wchar_t* caption) {
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
    AdminCommand command;
    command.owner = AppState.MainWindow;
    command.slot = SelectedTokenSlot();
    command.display = &TheMainWindowHost();
    return command;
}

ObjectCommand BindObjectCommand() {
    ObjectCommand command;
    command.owner = AppState.MainWindow;
    command.objectList = AppState.ObjectListView;
    command.slot = SelectedTokenSlot();
    command.listGeneration = ObjectListGeneration();
    command.workers = &TheMainWindowHost();
    return command;
}

CsrCommand BindCsrCommand() {
    CsrCommand command;
    command.owner = AppState.MainWindow;
    command.objectList = AppState.ObjectListView;
    command.slot = SelectedTokenSlot();
    command.host = &TheMainWindowHost();
    return command;
}
