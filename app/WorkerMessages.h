// The window thread's answers to the messages the listing and deletion
// workers send in the middle of a run (objects/Worker.h). While the window
// closes, every result is dropped and the worker told to stop.
#pragma once

#include <windows.h>

struct ListingRestart;
struct ObjectRefusal;
struct ObjectRowBatch;

// kObjectRowsMessage: 1 when the rows went into the object list.
LRESULT OnObjectRows(const ObjectRowBatch& batch);
// kListingNoticeMessage: the common-name reader's box.
void OnListingNotice(const wchar_t* text);
// kObjectRefusedMessage: the "Object deletion problem" box.
void OnObjectRefused(const ObjectRefusal& refusal);
// kDeletionDoneMessage: the object list emptied and enabled again for the
// rebuilt listing, which `restart` is given what it needs for.
void OnDeletionDone(ListingRestart* restart);
