// Deleting the selected objects of the object list, on a worker thread.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "cryptoki/Cryptoki.h"
#include "objects/Worker.h"

struct ObjectCommand;

// What the deletion worker is given: the slot, its session and the handles
// of the selected rows, in row order, taken on the window thread before the
// worker starts.
struct DeletionRequest {
    int slot = -1;
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    std::vector<CK_OBJECT_HANDLE> handles;
};

// An object the module refused to destroy (kObjectRefusedMessage).
struct ObjectRefusal {
    CK_OBJECT_HANDLE handle = 0;
    CK_RV rv = CKR_OK;
};

// After the deletions (kDeletionDoneMessage): the window thread empties the
// object list and answers with what the rebuilt listing needs; generation 0
// when the list shows another token by now (nothing is listed then).
struct ListingRestart {
    int slot = -1;                                  // the deletion's token
    unsigned generation = 0;                        // answered: the emptied list's generation
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;  // answered: the slot's session now
};

// The deletion worker's body: destroys the objects one by one, sending each
// refusal to the main window `window`, then lists what is left; the end
// result is the rebuilt listing's. Stops after the object in hand when the
// program closes.
std::unique_ptr<WorkerResult> DeleteObjectsThread(const DeletionRequest& request, const WorkerJob& stop, HWND window);

// On the window thread: the "Object deletion problem" box of a refusal.
void ShowObjectRefusal(const ObjectRefusal& refusal);

// The "Delete" command.
void DeleteObjectsCommand(const ObjectCommand& command);
