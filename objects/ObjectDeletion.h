// Deleting the selected objects of the object list, on a worker thread.
#pragma once

#include <windows.h>

#include <vector>

#include "cryptoki/Cryptoki.h"

// What the worker deletes: the slot and the handles of the selected rows, in
// row order, taken on the window thread before the worker starts.
struct DeletionRequest {
    int slot = -1;
    std::vector<CK_OBJECT_HANDLE> handles;
};

// Worker thread: takes ownership of the DeletionRequest passed to it.
DWORD WINAPI DeleteObjectsThread(LPVOID request);

// The "Delete" command.
void DeleteObjectsCommand();
