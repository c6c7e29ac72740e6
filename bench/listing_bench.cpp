// Benchmark of "Display objects": a software token holding 1,000 objects of
// every kind the list shows (certificates, RSA and EC key pairs, AES keys,
// data objects) is listed by the program's own listing worker
// (StartObjectListing, ObjectListThread, ListTokenObjects) into a list
// view, with this thread carrying out the worker's messages as the window
// thread does (AddListedRows). Every Cryptoki call is counted on the way.
//
// Prints the median, minimum and maximum time of a listing, objects per
// second, where the time of a listing goes (the worker's Cryptoki calls,
// the window thread's work on the rows, the rest of the worker: reading
// certificate names, making rows, handing them over), the calls per object
// of the whole listing, and the calls per object for each kind of object on
// a token holding only that kind (the largest of these is the most one
// object costs). Last, a slow token (every search and attribute call takes
// 25 ms) is listed, and the time from the start until the first row shows.
//
// Run: wine build-bench/bin/listing_bench.exe [--runs N] [--objects N]
#include <windows.h>
#include <commctrl.h>
#include <wincrypt.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchStore.h"
#include "bench/BenchTiming.h"
#include "cryptoki/ModuleLoader.h"
#include "cryptoki/SessionTable.h"
#include "objects/CertificateName.h"
#include "objects/ObjectCommand.h"
#include "objects/ObjectListRows.h"
#include "objects/ObjectListing.h"
#include "objects/ObjectRow.h"
#include "softtoken/SoftTokenControl.h"
#include "support/CallCounter.h"
#include "support/ObjectTemplates.h"

namespace {

constexpr char kPin[] = "123456";
constexpr DWORD kSlowCallMs = 25;

// Time spent in the module's search and attribute calls, and whether they
// are slowed down: installed in front of the function list in use.
struct CallClock {
    VendorFunctionList* next = nullptr;
    VendorFunctionList list;
    LONGLONG searchTicks = 0;  // in C_FindObjects, of the listing worker (the only caller meanwhile)
    LONGLONG readTicks = 0;    // in C_GetAttributeValue
    bool slow = false;
} Calls;

LONGLONG Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double TicksToMs(LONGLONG ticks) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return ticks * 1000.0 / frequency.QuadPart;
}

CK_RV TimedFindObjects(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE_PTR handles, CK_ULONG max, CK_ULONG_PTR count) {
    if (Calls.slow)
        Sleep(kSlowCallMs);
    const LONGLONG start = Now();
    const CK_RV rv = Calls.next->C_FindObjects(session, handles, max, count);
    Calls.searchTicks += Now() - start;
    return rv;
}

CK_RV TimedGetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR attributes,
                             CK_ULONG count) {
    if (Calls.slow)
        Sleep(kSlowCallMs);
    const LONGLONG start = Now();
    const CK_RV rv = Calls.next->C_GetAttributeValue(session, object, attributes, count);
    Calls.readTicks += Now() - start;
    return rv;
}

// In front of the list in use (the call counter's) for its lifetime.
class CallClockScope {
public:
    explicit CallClockScope(bool slow) {
        Calls.next = Cryptoki.FunctionList;
        Calls.list = *Calls.next;
        Calls.list.C_FindObjects = TimedFindObjects;
        Calls.list.C_GetAttributeValue = TimedGetAttributeValue;
        Calls.searchTicks = Calls.readTicks = 0;
        Calls.slow = slow;
        Cryptoki.FunctionList = &Calls.list;
    }
    ~CallClockScope() { Cryptoki.FunctionList = Calls.next; }
};

struct Kind {
    const char* name;
    std::function<ObjectTemplate(int)> make;
};

std::vector<unsigned char> Bytes(size_t count, unsigned char value) {
    return std::vector<unsigned char>(count, value);
}

std::string Id(int n) {
    const std::string digits = std::to_string(n);
    return std::string(20 - std::min<size_t>(20, digits.size()), '\x01') + digits;  // 20 bytes
}

ObjectTemplate RsaPublic(int n) {
    std::vector<unsigned char> modulus = Bytes(256, 0xA5);
    modulus[0] = 0xC3;
    ObjectTemplate object = ObjectTemplate::TokenObject(CKO_PUBLIC_KEY);
    object.Ulong(CKA_KEY_TYPE, CKK_RSA).Bytes(CKA_LABEL, "rsa public " + std::to_string(n)).Bytes(CKA_ID, Id(n))
        .Bytes(CKA_MODULUS, modulus).Bytes(CKA_PUBLIC_EXPONENT, std::vector<unsigned char>{1, 0, 1});
    return object;
}

ObjectTemplate RsaPrivate(int n) {
    ObjectTemplate object = ObjectTemplate::TokenObject(CKO_PRIVATE_KEY);
    object.Ulong(CKA_KEY_TYPE, CKK_RSA).Bytes(CKA_LABEL, "rsa private " + std::to_string(n)).Bytes(CKA_ID, Id(n))
        .Bytes(CKA_MODULUS, Bytes(256, 0xA5)).Bytes(CKA_PRIVATE_EXPONENT, Bytes(256, 0x3C));
    return object;
}

std::vector<Kind> Kinds(const std::vector<unsigned char>& certificate) {
    return {
        {"certificate", [certificate](int n) {
             return ObjectTemplate::Certificate(certificate, "certificate " + std::to_string(n)).Bytes(CKA_ID, Id(n));
         }},
        {"RSA public key", RsaPublic},
        {"RSA private key", RsaPrivate},
        {"EC public key", [](int n) { return ObjectTemplate::EcPublicKey("ec public " + std::to_string(n)).Bytes(CKA_ID, Id(n)); }},
        {"EC private key", [](int n) { return ObjectTemplate::EcPrivateKey("ec private " + std::to_string(n)).Bytes(CKA_ID, Id(n)); }},
        {"AES key", [](int n) { return ObjectTemplate::AesKey("aes " + std::to_string(n), 32); }},
        {"data object", [](int n) { return ObjectTemplate::Data("data " + std::to_string(n)); }},
    };
}

std::wstring ExeFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

// A new token in `slot` holding `objects`, its session logged in as the user.
bool PrepareToken(CK_SLOT_ID slot, const std::vector<ObjectTemplate>& objects) {
    SoftTokenParams params = {};
    params.label = "Listing bench";
    params.serial = "LISTBENCH";
    params.userPin = kPin;
    params.capacity = 16 * 1024 * 1024;
    if (SoftToken_CreateToken(slot, &params) != CKR_OK)
        return false;
    for (size_t first = 0; first < objects.size(); first += 100) {
        const std::vector<ObjectTemplate> part(objects.begin() + first,
                                               objects.begin() + std::min(objects.size(), first + 100));
        if (AddTokenObjectsWith(SoftToken_AddObjects, slot, part) != CKR_OK)
            return false;
    }
    return SessionTable.Open(slot) == CKR_OK &&
           Cryptoki.FunctionList->C_Login(SessionTable[static_cast<int>(slot)], CKU_USER,
                                          reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(kPin)), 6) == CKR_OK;
}

// A hidden window with a report list view of the object list's 8 columns.
HWND CreateObjectList() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    HWND frame = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 800, 400, nullptr, nullptr, nullptr, nullptr);
    HWND list = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | LVS_REPORT, 0, 0, 800, 400, frame, nullptr,
                                nullptr, nullptr);
    for (int i = 0; i < 8; ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_WIDTH;
        column.cx = 80;
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    return list;
}

// The bench's stand-in for the main window: it takes the worker's rows
// into the object list as the main window does, and runs the worker on a
// thread of its own as the main window's worker host does.
class ListingWindow : public WorkerHost {
public:
    ListingWindow() {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = Procedure;
        windowClass.lpszClassName = L"ListingBench";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, L"ListingBench", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        list_ = CreateObjectList();
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }

    bool StartWorker(std::unique_ptr<WorkerJob> job, bool) override {
        job_ = std::move(job);
        running_ = true;
        thread_ = CreateThread(nullptr, 0, RunJob, this, 0, nullptr);
        running_ = thread_ != nullptr;
        return running_;
    }

    // One listing of `slot`; the time in ms and the number of rows, or -1
    // when it did not start.
    double ListOnce(int slot, int* rows) {
        windowTicks_ = 0;
        firstRowMs_ = -1;
        ObjectCommand command;
        command.owner = window_;
        command.objectList = list_;
        command.slot = slot;
        command.listGeneration = ObjectListGeneration();
        command.workers = this;
        start_ = Clock::now();
        const Clock::time_point start = start_;
        if (!StartObjectListing(command) || !running_)
            return -1;
        MSG message;
        while (running_ && GetMessageW(&message, nullptr, 0, 0) > 0)
            DispatchMessageW(&message);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        *rows = static_cast<int>(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0));
        return ms;
    }

private:
    static DWORD WINAPI RunJob(LPVOID parameter) {
        auto* self = static_cast<ListingWindow*>(parameter);
        std::unique_ptr<WorkerResult> result = self->job_->Run(self->window_);
        PostMessageW(self->window_, kWorkerEndedMessage, 0, reinterpret_cast<LPARAM>(result.release()));
        return 0;
    }

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<ListingWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == kObjectRowsMessage) {
            const LONGLONG start = Now();
            const bool added = AddListedRows(self->list_, *reinterpret_cast<const ObjectRowBatch*>(lParam));
            if (self->firstRowMs_ < 0 && SendMessageW(self->list_, LVM_GETITEMCOUNT, 0, 0) > 0)
                self->firstRowMs_ = Ms(self->start_, Clock::now());
            self->windowTicks_ += Now() - start;
            return added ? 1 : 0;
        }
        if (message == kWorkerEndedMessage) {
            ShowHeldObjectRows(self->list_);
            delete reinterpret_cast<WorkerResult*>(lParam);
            self->running_ = false;
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

public:
    LONGLONG windowTicks_ = 0;  // in AddListedRows
    double firstRowMs_ = -1;     // from the start until a row shows

private:
    Clock::time_point start_;
    HWND window_ = nullptr;
    HWND list_ = nullptr;
    HANDLE thread_ = nullptr;
    std::unique_ptr<WorkerJob> job_;
    bool running_ = false;
};

// The worker's own steps timed apart, outside a listing: each object's
// attribute reads, its certificate name (certificates), its row's cells.
struct WorkerSteps {
    double reads = 0, names = 0, rows = 0;  // ms
};

WorkerSteps TimeWorkerSteps(CK_SESSION_HANDLE session) {
    WorkerSteps steps;
    CK_BBOOL isToken = CK_TRUE;
    CK_ATTRIBUTE tokenObjects = {CKA_TOKEN, &isToken, sizeof isToken};
    std::vector<CK_OBJECT_HANDLE> handles(100000);
    CK_ULONG found = 0;
    if (Cryptoki.FunctionList->C_FindObjectsInit(session, &tokenObjects, 1) != CKR_OK)
        return steps;
    Cryptoki.FunctionList->C_FindObjects(session, handles.data(), static_cast<CK_ULONG>(handles.size()), &found);
    Cryptoki.FunctionList->C_FindObjectsFinal(session);
    for (CK_ULONG i = 0; i < found; ++i) {
        const Clock::time_point start = Clock::now();
        ObjectAttributes object;
        ReadObjectAttributes(session, handles[i], &object);
        const Clock::time_point read = Clock::now();
        std::wstring name;
        if (object.objectClass == CKO_CERTIFICATE)
            ReadCertificateCommonName(session, handles[i], &name);
        const Clock::time_point named = Clock::now();
        const ObjectRowCells cells = BuildObjectRow(handles[i], object, name);
        const std::string keyId = KeyIdTextOf(object);
        const Clock::time_point built = Clock::now();
        steps.reads += Ms(start, read);
        steps.names += Ms(read, named);
        steps.rows += Ms(named, built);
    }
    return steps;
}

// Calls per object of the search itself (C_FindObjects and the attribute
// reads): the calls before and after the search are the listing's, not an
// object's.
double CallsPerObject(const CallCounter& calls, int objects) {
    return static_cast<double>(calls.Count("C_FindObjects") + calls.Count("C_GetAttributeValue")) / objects;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    int objectCount = 1000;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--runs" && i + 1 < argc)
            runs = std::max(1, atoi(argv[++i]));
        else if (option == "--objects" && i + 1 < argc)
            objectCount = std::max(1, atoi(argv[++i]));
    }

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring store = std::wstring(temp) + L"listing-bench-" + std::to_wstring(GetCurrentProcessId());
    SoftToken_SetStorePath(store.c_str());
    const std::vector<unsigned char> certificate =
        CertificateWithCommonName(L"Listing Bench Certificate Holder", CERT_RDN_UTF8_STRING);
    if (SoftToken_InitStore(2) != CKR_OK || certificate.empty() ||
        LoadCryptokiModuleFrom((ExeFolder() + L"\\tolvane11.dll").c_str()) != kModuleLoaded) {
        fprintf(stderr, "could not prepare the store\n");
        return 2;
    }
    ListingWindow listing;

    // The mixed token: the kinds in turn, data objects filling up.
    const std::vector<Kind> kinds = Kinds(certificate);
    std::vector<ObjectTemplate> mixed;
    for (int n = 0; n < objectCount; ++n)
        mixed.push_back(kinds[static_cast<size_t>(n) % kinds.size()].make(n));
    if (!PrepareToken(0, mixed)) {
        fprintf(stderr, "could not fill the token\n");
        return 2;
    }

    std::vector<double> times, search, reads, window;
    double mixedCalls = 0, mixedTotal = 0;
    for (int run = 0; run < runs; ++run) {
        CallCounter calls;
        CallClockScope clock(false);
        int rows = 0;
        const double ms = listing.ListOnce(0, &rows);
        search.push_back(TicksToMs(Calls.searchTicks));
        reads.push_back(TicksToMs(Calls.readTicks));
        window.push_back(TicksToMs(listing.windowTicks_));
        if (ms < 0 || rows != objectCount) {
            fprintf(stderr, "listing %d: %d rows of %d\n", run, rows, objectCount);
            return 2;
        }
        times.push_back(ms);
        mixedCalls = CallsPerObject(calls, objectCount);
        mixedTotal = static_cast<double>(calls.Total()) / objectCount;
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    printf("listing %d objects (%d runs): median %.1f ms, min %.1f ms, max %.1f ms, %.0f objects/s\n", objectCount,
           runs, median, times.front(), times.back(), objectCount * 1000.0 / median);
    printf("phases (medians): Cryptoki search %.1f ms, attribute reads %.1f ms, window thread (rows into list and "
           "tables) %.1f ms, rest of the worker (certificate names, rows, hand-over) %.1f ms\n",
           Median(search), Median(reads), Median(window),
           median - Median(search) - Median(reads) - Median(window));
    printf("calls per object, mixed token: %.2f in the search, %.3f with the listing's own calls\n", mixedCalls,
           mixedTotal);
    const WorkerSteps steps = TimeWorkerSteps(SessionTable[0]);
    printf("worker steps outside a listing: attribute reads %.1f ms, certificate names %.1f ms, row cells %.1f ms\n",
           steps.reads, steps.names, steps.rows);

    // One kind at a time, on the second slot.
    double worst = 0;
    constexpr int kPerKind = 50;
    for (const Kind& kind : kinds) {
        std::vector<ObjectTemplate> objects;
        for (int n = 0; n < kPerKind; ++n)
            objects.push_back(kind.make(n));
        if (!PrepareToken(1, objects)) {
            fprintf(stderr, "could not fill the token with %s objects\n", kind.name);
            return 2;
        }
        CallCounter calls;
        int rows = 0;
        if (listing.ListOnce(1, &rows) < 0 || rows != kPerKind) {
            fprintf(stderr, "%s: %d rows of %d\n", kind.name, rows, kPerKind);
            return 2;
        }
        const double perObject = CallsPerObject(calls, kPerKind);
        worst = std::max(worst, perObject);
        printf("  %-16s %.2f calls per object (%s)\n", kind.name, perObject, calls.Summary().c_str());
    }
    printf("most calls for one object: %.2f\n", worst);

    // The first row of a slow token: the second slot, which holds the last
    // kind's objects now.
    {
        CallClockScope slow(true);
        int rows = 0;
        if (listing.ListOnce(1, &rows) < 0 || rows != kPerKind) {
            fprintf(stderr, "slow token: %d rows of %d\n", rows, kPerKind);
            return 2;
        }
        printf("slow token (%lu ms a call): first row after %.1f ms\n", kSlowCallMs, listing.firstRowMs_);
    }

    Cryptoki.FunctionList->C_Finalize(nullptr);
    RemoveStoreFolder(store);
    return 0;
}
