#include "objects/ObjectListing.h"

#include <windows.h>

#include "cryptoki/ModuleLoader.h"
#include "cryptoki/SessionTable.h"
#include "objects/ObjectCommand.h"
#include "objects/ObjectListRows.h"

namespace {

const wchar_t kPublicOnlyText[] =
    L"Only public objects are visible.\nTo see all token objects, please login to token.\n\r";

class ListingJob : public WorkerJob {
public:
    explicit ListingJob(const ListingJobData& data) : data_(data) {}
    std::unique_ptr<WorkerResult> Run(HWND window) override { return ObjectListThread(data_, *this, window); }

private:
    ListingJobData data_;
};

// Starts the listing worker on the (empty) object list of this generation.
bool StartListingWorker(const ObjectCommand& command) {
    ListingJobData data;
    data.session = SessionTable[command.slot];
    data.generation = ObjectListGeneration();
    return command.workers && command.workers->StartWorker(std::unique_ptr<WorkerJob>(new ListingJob(data)), true);
}

}  // namespace

std::unique_ptr<WorkerResult> ObjectListThread(const ListingJobData& job, const WorkerJob& stop, HWND window) {
    WindowRowSink sink(window, stop);
    const ListingOutcome outcome = ListTokenObjects(job.session, job.generation, sink);
    return std::unique_ptr<WorkerResult>(new ListingResult(outcome, job.generation));
}

void ListingResult::Apply(WorkerEnd&) {
    ReportListingOutcome(outcome_, generation_);
}

bool StartObjectListing(const ObjectCommand& command) {
    if (command.slot < 0 || command.listGeneration != ObjectListGeneration())
        return true;  // nothing to list, or the list shows another token now
    EmptyObjectList(command.objectList);
    return StartListingWorker(command);
}

void DisplayObjectsCommand(const ObjectCommand& command, bool* publicOnlyWarningArmed) {
    EmptyObjectList(command.objectList);
    if (command.slot < 0)
        return;  // nothing selected: nothing to list
    const unsigned emptied = ObjectListGeneration();
    CK_SESSION_INFO info = {};
    if (Cryptoki.FunctionList->C_GetSessionInfo(SessionTable[command.slot], &info) == CKR_OK &&
        info.state != CKS_RW_USER_FUNCTIONS && *publicOnlyWarningArmed) {
        MessageBoxW(nullptr, kPublicOnlyText, L"User not logged in", MB_ICONWARNING);
        *publicOnlyWarningArmed = false;
    }
    // A slot event while the warning was up may have selected another token.
    if (emptied == ObjectListGeneration())
        StartListingWorker(command);
}
