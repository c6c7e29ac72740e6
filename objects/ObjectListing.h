// Listing a token's objects in the object list, on a worker thread.
#pragma once

#include <windows.h>

#include "objects/TokenObjectList.h"

// Worker thread: the slot is the thread's argument.
DWORD WINAPI ObjectListThread(LPVOID slot);

// Disables the buttons and the token list, sets Busy and starts
// ObjectListThread for `slot`. Runs on the window thread, so that a second
// click finds the buttons already disabled. False when the thread cannot be
// started (the controls are then restored).
bool StartObjectListing(int slot);

// The "Display objects" command.
void DisplayObjectsCommand();

// Enables or disables the main and administrator buttons and the token list.
void SetSessionControlsEnabled(bool enabled);

// After a worker on `workerSlot` ends: applies the session state of the
// token selected now (normally the worker's own) to the buttons and enables
// the object list when that session can be read. With no token selected the
// buttons stay disabled.
void RestoreButtonsFromSession(int workerSlot);
