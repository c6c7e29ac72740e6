#include "support/DirectListing.h"

#include "cryptoki/SessionTable.h"
#include "objects/ObjectListRows.h"
#include "objects/TokenObjectList.h"

namespace {

// Rows and boxes go straight to this thread's list and screen.
class DirectSink : public ObjectRowSink {
public:
    explicit DirectSink(HWND list) : list_(list) {}
    bool AddRows(const ObjectRowBatch& batch) override { return AddListedRows(list_, batch); }
    void ShowNotice(const wchar_t* text) override {
        ShowHeldObjectRows(list_);
        MessageBoxW(nullptr, text, L"", MB_ICONERROR);
    }
    bool StopRequested() override { return false; }

private:
    HWND list_;
};

}  // namespace

int ListTokenObjectsHere(HWND list, int slot) {
    DirectSink sink(list);
    const unsigned generation = ObjectListGeneration();
    const ListingOutcome outcome = ListTokenObjects(SessionTable[slot], generation, sink);
    ShowHeldObjectRows(list);
    ReportListingOutcome(outcome, generation);
    return outcome.status;
}
