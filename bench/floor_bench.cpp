// The floor of a listing: what listing N objects costs at the least on this
// system, for tools/bench to hold the program's listing against. The token
// is the one program_listing_bench lists (bench/BenchStore.h).
//   - Cryptoki: bare calls through the module's function list, in the call
//     pattern of the program's listing (a search for token objects, one
//     handle per C_FindObjects, CKA_CLASS, CKA_PRIVATE and CKA_LABEL read in
//     one call), each object's eight cells made as plain text;
//   - the list view: the same rows put into a bare list view made as the
//     program makes its object list (same class, styles, extended styles,
//     columns and size, in a shown window, with the program's manifest),
//     items inserted with redrawing off, then painted once;
//   - the same list view as an owner-data list view (LVS_OWNERDATA): the
//     rows stay in a table and the list asks for the cells it paints.
// The floor of the program's listing is the Cryptoki part plus the list
// view variant that the program uses.
//
// Run: wine build-bench/bin/floor_bench.exe [--objects N] [--runs N]
#include <windows.h>
#include <commctrl.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchStore.h"
#include "bench/BenchTiming.h"
#include "softtoken/SoftTokenControl.h"

namespace {

using Row = std::array<std::wstring, 8>;

const struct {
    const wchar_t* title;
    int width;
} kColumns[] = {{L"Handle", 70},     {L"Type", 120}, {L"Certificate Name", 250}, {L"Private", 100},
                {L"Label", 225},     {L"ID", 205},   {L"Extractable", 85},       {L"Key length", 95}};

std::vector<Row>* OwnerDataRows = nullptr;

// Search and read as the program does, and make each object's cells.
bool ReadRows(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session, std::vector<Row>* rows) {
    CK_BBOOL isToken = CK_TRUE;
    CK_ATTRIBUTE tokenObjects = {CKA_TOKEN, &isToken, sizeof isToken};
    if (p11->C_FindObjectsInit(session, &tokenObjects, 1) != CKR_OK)
        return false;
    for (;;) {
        CK_OBJECT_HANDLE handle = 0;
        CK_ULONG found = 0;
        if (p11->C_FindObjects(session, &handle, 1, &found) != CKR_OK)
            return false;
        if (found == 0)
            break;
        CK_OBJECT_CLASS objectClass = 0;
        CK_BBOOL isPrivate = CK_FALSE;
        char label[100] = {};
        CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &objectClass, sizeof objectClass},
                                     {CKA_PRIVATE, &isPrivate, sizeof isPrivate},
                                     {CKA_LABEL, label, sizeof label}};
        const CK_RV rv = p11->C_GetAttributeValue(session, handle, attributes, 3);
        if (rv != CKR_OK && rv != CKR_ATTRIBUTE_TYPE_INVALID)
            return false;
        wchar_t labelText[101] = {};
        const int labelLength = attributes[2].ulValueLen == CK_UNAVAILABLE_INFORMATION
                                    ? 0 : static_cast<int>(attributes[2].ulValueLen);
        MultiByteToWideChar(CP_UTF8, 0, label, labelLength, labelText, 100);
        rows->push_back({std::to_wstring(handle), L"Data object", L"N/A", isPrivate ? L"Yes" : L"No", labelText,
                         L"N/A", L"No", L"N/A"});
    }
    p11->C_FindObjectsFinal(session);
    return true;
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NOTIFY && OwnerDataRows) {
        auto* info = reinterpret_cast<NMLVDISPINFOW*>(lParam);
        if (info->hdr.code == LVN_GETDISPINFOW && (info->item.mask & LVIF_TEXT) && info->item.iItem >= 0 &&
            static_cast<size_t>(info->item.iItem) < OwnerDataRows->size()) {
            const std::wstring& text = (*OwnerDataRows)[info->item.iItem][info->item.iSubItem];
            lstrcpynW(info->item.pszText, text.c_str(), info->item.cchTextMax);
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A shown frame of the main window's size holding the object list as the
// program creates it.
HWND CreateObjectList(bool ownerData, HWND* frame) {
    *frame = CreateWindowExW(0, L"FloorFrame", L"Floor", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 400,
                             200, 682, 490, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_EDITLABELS;
    if (ownerData)
        style |= LVS_OWNERDATA;
    HWND list = CreateWindowExW(0, WC_LISTVIEWW, L"", style, 20, 200, 633, 240, *frame, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_SNAPTOGRID);
    for (int i = 0; i < 8; ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.fmt = LVCFMT_CENTER;
        column.cx = kColumns[i].width;
        column.pszText = const_cast<wchar_t*>(kColumns[i].title);
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    UpdateWindow(*frame);
    return list;
}

void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&message);
}

// Rows into a plain report list view, redrawing off, painted once.
double FillPlainList(const std::vector<Row>& rows) {
    HWND frame = nullptr;
    HWND list = CreateObjectList(false, &frame);
    PumpMessages();
    const Clock::time_point start = Clock::now();
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    for (size_t i = 0; i < rows.size(); ++i) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(i);
        item.pszText = const_cast<wchar_t*>(rows[i][0].c_str());
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        for (int cell = 1; cell < 8; ++cell) {
            LVITEMW sub = {};
            sub.iSubItem = cell;
            sub.pszText = const_cast<wchar_t*>(rows[i][cell].c_str());
            SendMessageW(list, LVM_SETITEMTEXTW, i, reinterpret_cast<LPARAM>(&sub));
        }
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, FALSE);
    UpdateWindow(list);
    const double ms = Ms(start, Clock::now());
    DestroyWindow(frame);
    PumpMessages();
    return ms;
}

// Rows as an owner-data list view's count, painted once.
double FillOwnerDataList(std::vector<Row>* rows) {
    HWND frame = nullptr;
    OwnerDataRows = rows;
    HWND list = CreateObjectList(true, &frame);
    PumpMessages();
    const Clock::time_point start = Clock::now();
    SendMessageW(list, LVM_SETITEMCOUNT, rows->size(), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    UpdateWindow(list);
    const double ms = Ms(start, Clock::now());
    DestroyWindow(frame);
    PumpMessages();
    OwnerDataRows = nullptr;
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 5000, runs = 3;
    for (int i = 1; i + 1 < argc; ++i) {
        if (strcmp(argv[i], "--objects") == 0)
            count = atoi(argv[++i]) > 0 ? atoi(argv[i]) : 1;
        else if (strcmp(argv[i], "--runs") == 0)
            runs = atoi(argv[++i]) > 0 ? atoi(argv[i]) : 1;
    }
    const std::wstring store = MakeDataObjectStore(L"floor_bench", count);
    CK_FUNCTION_LIST* p11 = nullptr;
    CK_SESSION_HANDLE session = 0;
    if (store.empty() || C_GetFunctionList(&p11) != CKR_OK || p11->C_Initialize(nullptr) != CKR_OK ||
        p11->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) != CKR_OK) {
        fprintf(stderr, "cannot prepare the token\n");
        return 2;
    }
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSW frameClass = {};
    frameClass.lpfnWndProc = FrameProc;
    frameClass.hInstance = GetModuleHandleW(nullptr);
    frameClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_MENU + 1));
    frameClass.lpszClassName = L"FloorFrame";
    RegisterClassW(&frameClass);

    std::vector<double> reads, plain, ownerData;
    for (int run = 0; run < runs; ++run) {
        std::vector<Row> rows;
        rows.reserve(static_cast<size_t>(count));
        const Clock::time_point start = Clock::now();
        if (!ReadRows(p11, session, &rows) || static_cast<int>(rows.size()) != count) {
            fprintf(stderr, "run %d: %d objects read of %d\n", run, static_cast<int>(rows.size()), count);
            return 2;
        }
        reads.push_back(Ms(start, Clock::now()));
        plain.push_back(FillPlainList(rows));
        ownerData.push_back(FillOwnerDataList(&rows));
    }
    p11->C_Finalize(nullptr);
    RemoveStoreFolder(store);
    const double read = Median(reads), list = Median(plain), owner = Median(ownerData);
    printf("floor of a listing of %d objects (median of %d runs)\n", count, runs);
    printf("  Cryptoki search and reads, rows made: %8.1f ms\n", read);
    printf("  report list view, rows inserted:      %8.1f ms\n", list);
    printf("  owner-data list view, count set:      %8.1f ms\n", owner);
    printf("  floor, report list view:              %8.1f ms\n", read + list);
    printf("  floor, owner-data list view:          %8.1f ms\n", read + owner);
    return 0;
}
