// Listing a token's objects in the object list, on a worker thread.
#pragma once

#include <windows.h>

#include <memory>

#include "objects/TokenObjectList.h"
#include "objects/Worker.h"

struct ObjectCommand;

// What a listing worker is given when it starts.
struct ListingJobData {
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;  // the session of the listed token
    unsigned generation = 0;                        // the object list's generation (ObjectListGeneration)
};

// The listing worker's body: lists the objects of `job` into the object
// list of the main window `window`, through its messages; the end result is
// the listing's outcome.
std::unique_ptr<WorkerResult> ObjectListThread(const ListingJobData& job, const WorkerJob& stop, HWND window);

// The end result of a listing, also of the deletion's rebuilt listing:
// the failure's report or the cap's box, after the rows.
class ListingResult : public WorkerResult {
public:
    ListingResult(const ListingOutcome& outcome, unsigned generation) : outcome_(outcome), generation_(generation) {}
    void Apply(WorkerEnd& end) override;

private:
    ListingOutcome outcome_;
    unsigned generation_;
};

// Lists the command's token again after a change (an import): empties the
// object list and starts ObjectListThread. The worker host disables the
// buttons and the token list and sets Busy on the window thread before the
// worker runs, so that a second click finds them disabled. A list that
// shows another token by now (a token put in while the command ran) is
// left alone. False only when the worker cannot start.
bool StartObjectListing(const ObjectCommand& command);

// The "Display objects" command. `publicOnlyWarningArmed` is the main
// window's flag of the public-objects warning: the warning is shown at
// most once until the token list re-arms it.
void DisplayObjectsCommand(const ObjectCommand& command, bool* publicOnlyWarningArmed);
