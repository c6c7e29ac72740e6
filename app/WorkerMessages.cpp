#include "app/WorkerMessages.h"

#include "app/AppState.h"
#include "app/TokenSelection.h"
#include "app/Workers.h"
#include "cryptoki/ModuleLoader.h"
#include "objects/ObjectDeletion.h"
#include "objects/ObjectListRows.h"

namespace {

bool TokenPresent(int slot) {
    CK_TOKEN_INFO info = {};
    return Cryptoki.FunctionList->C_GetTokenInfo(static_cast<CK_SLOT_ID>(slot), &info) == CKR_OK;
}

}  // namespace

LRESULT OnObjectRows(const ObjectRowBatch& batch) {
    if (AppState.ShuttingDown)
        return 0;
    return AddListedRows(AppState.ObjectListView, batch) ? 1 : 0;
}

void OnListingNotice(const wchar_t* text) {
    if (AppState.ShuttingDown)
        return;
    ShowHeldObjectRows(AppState.ObjectListView);
    WorkerBoxScope box;
    MessageBoxW(nullptr, text, L"", MB_ICONERROR);
}

void OnObjectRefused(const ObjectRefusal& refusal) {
    if (AppState.ShuttingDown)
        return;
    WorkerBoxScope box;
    ShowObjectRefusal(refusal);
}

void OnDeletionDone(ListingRestart* restart) {
    if (AppState.ShuttingDown)
        return;
    // The token list stays disabled until the rebuilt listing has ended: it
    // still uses the session. The object list comes back only while the
    // token selected now is there: a slot event during the deletions may
    // have taken the token out (and selected another one), and a list of no
    // token takes no input.
    const int shown = SelectedTokenSlot();
    if (shown >= 0 && TokenPresent(shown))
        EnableWindow(AppState.ObjectListView, TRUE);
    EmptyObjectList(AppState.ObjectListView);
    if (restart->slot != AppState.CurrentSlot)
        return;  // the list belongs to another token now: nothing is listed
    restart->generation = ObjectListGeneration();
    restart->session = SessionTable[restart->slot];
}
