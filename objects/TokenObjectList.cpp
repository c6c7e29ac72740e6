#include "objects/TokenObjectList.h"

#include <windows.h>

#include <utility>

#include "cryptoki/ErrorReport.h"
#include "cryptoki/ObjectSearch.h"
#include "objects/CertificateName.h"
#include "objects/ObjectRow.h"

namespace {

// Rows go to the list in batches: the first row alone, at once, so that a
// slow token shows it as soon as it is read; then batches of this many rows,
// each full batch twice the one before up to the largest, and none waits
// longer than this for the rest of its batch, so that a slow token still
// shows its objects as they are read. Each batch costs one hand-over to
// the window thread, two thread switches that a loaded machine makes slow:
// a long listing needs few (the list itself is repainted at most a few
// times a second, see AddListedRows).
constexpr size_t kFirstBatchRows = 256;
constexpr size_t kLargestBatchRows = 4096;
constexpr ULONGLONG kBatchWaitMs = 200;

// Rows read but not shown yet.
class PendingRows {
public:
    PendingRows(unsigned generation, ObjectRowSink& sink) : sink_(sink) { batch_.generation = generation; }

    void Hold(ListedRow row) {
        if (batch_.rows.empty())
            firstReadAt_ = GetTickCount64();
        batch_.rows.push_back(std::move(row));
    }
    bool Due() const {
        return batch_.firstRow == 0 || batch_.rows.size() >= batchRows_ ||
               GetTickCount64() - firstReadAt_ >= kBatchWaitMs;
    }
    // Hands the rows to the sink. False when the list no longer shows this
    // listing.
    bool Show() {
        if (batch_.rows.empty())
            return true;
        if (!sink_.AddRows(batch_))
            return false;
        if (batch_.rows.size() >= batchRows_ && batchRows_ < kLargestBatchRows)
            batchRows_ *= 2;
        batch_.firstRow += static_cast<int>(batch_.rows.size());
        batch_.rows.clear();
        return true;
    }

private:
    ObjectRowSink& sink_;
    ObjectRowBatch batch_;
    size_t batchRows_ = kFirstBatchRows;
    ULONGLONG firstReadAt_ = 0;
};

// The row of one object: its attributes, and for a certificate the
// subject's common name, whose reader may have a box to show (`notice`).
CK_RV ReadObjectRow(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle, ListedRow* row, const wchar_t** notice) {
    ObjectAttributes object;
    const CK_RV rv = ReadObjectAttributes(session, handle, &object);
    if (rv != CKR_OK)
        return rv;
    std::wstring certificateName;
    if (object.objectClass == CKO_CERTIFICATE)
        *notice = ReadCertificateCommonName(session, handle, &certificateName);
    row->handle = handle;
    row->cells = BuildObjectRow(handle, object, certificateName);
    row->keyIdText = KeyIdTextOf(object);
    return CKR_OK;
}

ListingOutcome Failed(CK_RV rv, const wchar_t* caption) {
    ListingOutcome outcome;
    outcome.status = 1;
    outcome.rv = rv;
    outcome.caption = caption;
    return outcome;
}

}  // namespace

bool WindowRowSink::AddRows(const ObjectRowBatch& batch) {
    return SendMessageW(window_, kObjectRowsMessage, 0, reinterpret_cast<LPARAM>(&batch)) != 0;
}

void WindowRowSink::ShowNotice(const wchar_t* text) {
    SendMessageW(window_, kListingNoticeMessage, 0, reinterpret_cast<LPARAM>(text));
}

const wchar_t kTooManyObjectsText[] =
    L"The token holds more objects than the list can show.\r\nOnly the first 10000 are listed.\r\n";

ListingOutcome ListTokenObjects(CK_SESSION_HANDLE session, unsigned generation, ObjectRowSink& sink) {
    CK_BBOOL isToken = CK_TRUE;
    CK_ATTRIBUTE tokenObjects = {CKA_TOKEN, &isToken, sizeof isToken};
    ObjectSearch search(session, &tokenObjects, 1);
    if (search.Started() != CKR_OK)
        return Failed(search.Started(), nullptr);  // nothing listed, nothing said

    PendingRows pending(generation, sink);
    ListingOutcome outcome;
    for (int row = 0;; ++row) {
        if (sink.StopRequested())
            return outcome;
        CK_OBJECT_HANDLE handle = 0;
        bool found = false;
        CK_RV rv = search.Next(&handle, &found);
        if (rv != CKR_OK) {
            pending.Show();  // the rows read before the failure stay
            return Failed(rv, L"Find object error");
        }
        if (!found) {
            pending.Show();
            return outcome;
        }
        if (row == kMaxListedObjects) {
            // An object past the cap exists: only now is the list short of
            // the token.
            outcome.capped = pending.Show();
            return outcome;
        }
        ListedRow listed;
        const wchar_t* notice = nullptr;
        rv = ReadObjectRow(session, handle, &listed, &notice);
        if (rv != CKR_OK) {
            pending.Show();
            return Failed(rv, L"Read object error");
        }
        if (notice) {
            if (!pending.Show())  // the rows read before the box show first
                return outcome;
            sink.ShowNotice(notice);
        }
        pending.Hold(std::move(listed));
        if (pending.Due() && !pending.Show())
            return outcome;  // the list shows another token now
    }
}

void ReportListingOutcome(const ListingOutcome& outcome, unsigned generation) {
    if (generation != ObjectListGeneration())
        return;  // the list shows something else by now
    if (outcome.caption)
        ShowCkErrorW(outcome.rv, outcome.caption, L"");
    else if (outcome.capped)
        MessageBoxW(nullptr, kTooManyObjectsText, L"Display objects", MB_ICONWARNING);
}
