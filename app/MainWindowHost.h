// The main window as the features see it: the token display the dialogs
// update, the worker host the commands start workers on, and the binding of
// a command to the token selected when it begins. The features declare
// what they need (admin/TokenDisplay.h, objects/Worker.h, csr/CsrHost.h);
// the shell implements it here, on the window thread.
#pragma once

#include "admin/AdminCommands.h"
#include "csr/CsrDialog.h"
#include "objects/ObjectCommand.h"

class MainWindowHost final : public CsrHost {
public:
    int UpdateButtonsForState(int slot, CK_STATE state) override;
    int SetTokenRowStatus(CK_STATE state, int row) override;
    int SetTokenRowName(CK_UTF8CHAR* label, int row) override;
    void RefillTokenInfoPanel(CK_SLOT_ID slot, const CK_TOKEN_INFO* tokenInfo) override;
    std::wstring LoginCaption() override;
    void SetLoginCaption(int slot, const wchar_t* caption) override;

    bool StartWorker(std::unique_ptr<WorkerJob> job, bool disableSessionControls) override;

    bool Busy() const override;
    int PkeSlotIndex(int slot) const override;
    void RestoreButtonsFromSession() override;
};

// The one host of the program's one main window.
MainWindowHost& TheMainWindowHost();

// What each kind of command is handed when it begins: the token selected at
// that moment (SelectedTokenSlot) and the main window's parts it works with.
AdminCommand BindAdminCommand();
ObjectCommand BindObjectCommand();
CsrCommand BindCsrCommand();
