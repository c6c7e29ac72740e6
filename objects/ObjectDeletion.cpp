#include "objects/ObjectDeletion.h"

#include <windows.h>

#include <cstdio>
#include <new>

#include "cryptoki/ErrorReport.h"
#include "cryptoki/ModuleLoader.h"
#include "cryptoki/SessionTable.h"
#include "objects/ObjectCommand.h"
#include "objects/ObjectListSelection.h"
#include "objects/ObjectListing.h"
#include "objects/ObjectTables.h"

namespace {

constexpr DWORD kPauseAfterEachObjectMs = 10;

class DeletionJob : public WorkerJob {
public:
    explicit DeletionJob(DeletionRequest request) : request_(std::move(request)) {}
    std::unique_ptr<WorkerResult> Run(HWND window) override { return DeleteObjectsThread(request_, *this, window); }

private:
    DeletionRequest request_;
};

// The request for `rows` of the object list; false when there is no memory.
bool FillDeletionRequest(const ObjectCommand& command, const std::vector<int>& rows, DeletionRequest* request) {
    request->slot = command.slot;
    request->session = SessionTable[command.slot];
    try {
        request->handles.reserve(rows.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int row : rows)
        request->handles.push_back(ObjectHandleAt(row));
    return true;
}

}  // namespace

std::unique_ptr<WorkerResult> DeleteObjectsThread(const DeletionRequest& request, const WorkerJob& stop,
                                                  HWND window) {
    for (CK_OBJECT_HANDLE handle : request.handles) {
        if (stop.StopRequested())
            return nullptr;
        const CK_RV rv = Cryptoki.FunctionList->C_DestroyObject(request.session, handle);
        if (rv != CKR_OK) {
            // The box is shown, and answered, before the next object goes.
            const ObjectRefusal refusal = {handle, rv};
            SendMessageW(window, kObjectRefusedMessage, 0, reinterpret_cast<LPARAM>(&refusal));
        }
        Sleep(kPauseAfterEachObjectMs);
    }
    ListingRestart restart;
    restart.slot = request.slot;
    SendMessageW(window, kDeletionDoneMessage, 0, reinterpret_cast<LPARAM>(&restart));
    if (restart.generation == 0 || stop.StopRequested())
        return nullptr;
    ListingJobData listing;
    listing.session = restart.session;
    listing.generation = restart.generation;
    return ObjectListThread(listing, stop, window);
}

void ShowObjectRefusal(const ObjectRefusal& refusal) {
    char detail[200];
    snprintf(detail, sizeof detail, "Failed to remove object obj %d, Error: %lx", static_cast<int>(refusal.handle),
             static_cast<unsigned long>(refusal.rv));
    char text[400];
    snprintf(text, sizeof text, "An error occured due to %s\r\n%s", GetCkrName(refusal.rv).c_str(), detail);
    MessageBoxA(nullptr, text, "Object deletion problem", MB_ICONWARNING);
}

void DeleteObjectsCommand(const ObjectCommand& command) {
    const std::vector<int> rows = SelectedRows(command.objectList);
    if (rows.empty() || command.slot < 0 || !command.workers)
        return;
    if (MessageBoxW(command.owner, L"Do you want to remove selected objects?\n\r", L"Remove object",
                    MB_YESNO | MB_ICONWARNING) != IDYES)
        return;
    // A slot event while the question was up may have emptied the list or
    // selected another token: the rows no longer name these objects.
    if (command.listGeneration != ObjectListGeneration())
        return;

    // The handles are taken here, before the worker starts: the selection
    // may change once the window thread goes back to its messages.
    DeletionRequest request;
    if (!FillDeletionRequest(command, rows, &request)) {
        ShowOutOfMemory();
        return;
    }
    // The object list takes no input while objects are destroyed; the
    // window thread enables it again before the rebuilt listing.
    EnableWindow(command.objectList, FALSE);
    if (!command.workers->StartWorker(std::unique_ptr<WorkerJob>(new DeletionJob(std::move(request))), true))
        EnableWindow(command.objectList, TRUE);
}
