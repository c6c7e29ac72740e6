// Reading a token's objects for the object list: the body that the listing
// worker and the deletion worker's rebuilt listing share. It makes Cryptoki
// calls only; rows and boxes go to a sink.
#pragma once

#include <windows.h>

#include "cryptoki/Cryptoki.h"
#include "objects/ObjectListRows.h"
#include "objects/Worker.h"

// A token holds tens of objects; a module whose search hands out handles
// without end would keep the listing, and the wait cursor, for ever. The
// listing shows at most this many rows; when the search finds one more
// object, it ends there and says so in a box (caption "Display objects").
constexpr int kMaxListedObjects = 10000;
extern const wchar_t kTooManyObjectsText[];

// Where a listing's rows and boxes go: the window thread, or for a listing
// run on the window thread itself, the list directly.
class ObjectRowSink {
public:
    // False when the list no longer shows this listing: the listing stops
    // quietly.
    virtual bool AddRows(const ObjectRowBatch& batch) = 0;
    // A message box the listing shows before it goes on (the common-name
    // reader's), with an empty caption and the error icon.
    virtual void ShowNotice(const wchar_t* text) = 0;
    // True once the program closes: the listing stops at its next object.
    virtual bool StopRequested() = 0;

protected:
    ~ObjectRowSink() = default;
};

// Where a worker's rows go: the main window, by SendMessage, which answers
// once the window thread has put them in.
class WindowRowSink : public ObjectRowSink {
public:
    WindowRowSink(HWND window, const WorkerJob& job) : window_(window), job_(job) {}
    bool AddRows(const ObjectRowBatch& batch) override;
    void ShowNotice(const wchar_t* text) override;
    bool StopRequested() override { return job_.StopRequested(); }

private:
    HWND window_;
    const WorkerJob& job_;
};

// How a listing ended, for the window thread to report after the rows.
struct ListingOutcome {
    int status = 0;                    // 0 the search ran to its end (or stopped), 1 it failed
    CK_RV rv = CKR_OK;                 // the failure's return code
    const wchar_t* caption = nullptr;  // "Find object error" or "Read object error"; null: no report
    bool capped = false;               // ended at kMaxListedObjects rows, with more objects found
};

// Lists the token objects of `session` for the object list of generation
// `generation`, row by row, in batches to `sink`. The search is ended on
// every path before this returns.
ListingOutcome ListTokenObjects(CK_SESSION_HANDLE session, unsigned generation, ObjectRowSink& sink);

// On the window thread, after the rows: the failure's report or the cap's
// box, when the listing still belongs to the list's generation `generation`.
void ReportListingOutcome(const ListingOutcome& outcome, unsigned generation);
