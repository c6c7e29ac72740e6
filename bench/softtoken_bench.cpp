// Benchmark of the software token (tolvane11.dll), the way the program's
// object list uses it: find 1,000 objects and read what a listing shows of
// each; and how soon a slot change wakes C_WaitForSlotEvent. Prints the
// median of several runs. With --check it exits 1 when a figure misses its
// budget (listing 50 ms, slot change 100 ms).
//
// Run: wine build/bin/softtoken_bench.exe [--check] [--runs N]
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchTiming.h"
#include "SoftTokenControl.h"

namespace {

constexpr int kObjects = 1000;
constexpr char kPin[] = "123456";

// 1,000 token objects: certificates, public and private RSA keys, data.
CK_RV Populate(CK_SLOT_ID slot) {
    static CK_OBJECT_CLASS classes[] = {CKO_CERTIFICATE, CKO_PUBLIC_KEY, CKO_PRIVATE_KEY, CKO_DATA};
    static CK_KEY_TYPE rsa = CKK_RSA;
    static CK_CERTIFICATE_TYPE x509 = CKC_X_509;
    static CK_BBOOL yes = CK_TRUE;
    static std::vector<unsigned char> modulus(256, 0xc3), exponent = {1, 0, 1}, certificate(900, 0x30);
    std::vector<std::string> labels(kObjects);
    std::vector<std::vector<unsigned char>> ids(kObjects);
    std::vector<std::vector<CK_ATTRIBUTE>> templates(kObjects);
    for (int i = 0; i < kObjects; ++i) {
        const int kind = i % 4;
        labels[i] = "object " + std::to_string(i);
        ids[i] = {static_cast<unsigned char>(i >> 8), static_cast<unsigned char>(i)};
        auto& t = templates[i];
        t.push_back({CKA_CLASS, &classes[kind], sizeof(CK_OBJECT_CLASS)});
        t.push_back({CKA_LABEL, &labels[i][0], static_cast<CK_ULONG>(labels[i].size())});
        if (kind == 0) {
            t.push_back({CKA_CERTIFICATE_TYPE, &x509, sizeof x509});
            t.push_back({CKA_VALUE, certificate.data(), static_cast<CK_ULONG>(certificate.size())});
        }
        if (kind == 0 || kind == 1 || kind == 2)
            t.push_back({CKA_ID, ids[i].data(), 2});
        if (kind == 1 || kind == 2) {
            t.push_back({CKA_KEY_TYPE, &rsa, sizeof rsa});
            t.push_back({CKA_MODULUS, modulus.data(), static_cast<CK_ULONG>(modulus.size())});
            t.push_back({CKA_PUBLIC_EXPONENT, exponent.data(), 3});
        }
        if (kind == 2) {
            t.push_back({CKA_PRIVATE_EXPONENT, modulus.data(), static_cast<CK_ULONG>(modulus.size())});
            t.push_back({CKA_PRIVATE, &yes, 1});
        }
    }
    std::vector<const CK_ATTRIBUTE*> pointers;
    std::vector<CK_ULONG> counts;
    for (auto& t : templates) {
        pointers.push_back(t.data());
        counts.push_back(static_cast<CK_ULONG>(t.size()));
    }
    return SoftToken_AddObjects(slot, pointers.data(), counts.data(), kObjects);
}

// What the object list reads of one object.
bool ReadListing(CK_FUNCTION_LIST_PTR p11, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) {
    CK_OBJECT_CLASS objectClass = 0;
    CK_BBOOL isPrivate = 0, extractable = 0;
    CK_ATTRIBUTE first[] = {{CKA_CLASS, &objectClass, sizeof objectClass},
                            {CKA_PRIVATE, &isPrivate, 1},
                            {CKA_LABEL, nullptr, 0},
                            {CKA_ID, nullptr, 0}};
    if (p11->C_GetAttributeValue(session, object, first, 4) != CKR_OK)
        return false;
    std::vector<unsigned char> label(first[2].ulValueLen), id(first[3].ulValueLen);
    CK_ATTRIBUTE second[] = {{CKA_LABEL, label.data(), first[2].ulValueLen},
                             {CKA_ID, id.data(), first[3].ulValueLen}};
    if (p11->C_GetAttributeValue(session, object, second, 2) != CKR_OK)
        return false;
    if (objectClass == CKO_CERTIFICATE) {
        CK_ATTRIBUTE value = {CKA_VALUE, nullptr, 0};
        if (p11->C_GetAttributeValue(session, object, &value, 1) != CKR_OK)
            return false;
        std::vector<unsigned char> der(value.ulValueLen);
        value.pValue = der.data();
        return p11->C_GetAttributeValue(session, object, &value, 1) == CKR_OK;
    }
    if (objectClass == CKO_PUBLIC_KEY || objectClass == CKO_PRIVATE_KEY) {
        CK_KEY_TYPE keyType = 0;
        CK_ULONG bits = 0;
        CK_ATTRIBUTE key[] = {{CKA_KEY_TYPE, &keyType, sizeof keyType},
                              {CKA_EXTRACTABLE, &extractable, 1},
                              {CKA_MODULUS_BITS, &bits, sizeof bits}};
        // Each kind of key lacks one of these; the answer says which.
        const CK_RV rv = p11->C_GetAttributeValue(session, object, key, 3);
        return rv == CKR_OK || rv == CKR_ATTRIBUTE_TYPE_INVALID;
    }
    return true;
}

double ListOnce(CK_FUNCTION_LIST_PTR p11, CK_SESSION_HANDLE session, int* listed) {
    const Clock::time_point start = Clock::now();
    std::vector<CK_OBJECT_HANDLE> handles;
    p11->C_FindObjectsInit(session, nullptr, 0);
    CK_OBJECT_HANDLE batch[100];
    CK_ULONG count = 0;
    while (p11->C_FindObjects(session, batch, 100, &count) == CKR_OK && count)
        handles.insert(handles.end(), batch, batch + count);
    p11->C_FindObjectsFinal(session);
    *listed = 0;
    for (CK_OBJECT_HANDLE object : handles)
        *listed += ReadListing(p11, session, object) ? 1 : 0;
    return Ms(start, Clock::now());
}

double SlotChangeOnce(CK_FUNCTION_LIST_PTR p11, bool insert) {
    std::atomic<bool> woken{false};
    Clock::time_point wokenAt;
    std::thread waiter([&] {
        CK_SLOT_ID slot = 0;
        if (p11->C_WaitForSlotEvent(0, &slot, nullptr) == CKR_OK)
            wokenAt = Clock::now();
        woken = true;
    });
    Sleep(30);
    const Clock::time_point changed = Clock::now();
    if (insert)
        SoftToken_InsertToken(1);
    else
        SoftToken_RemoveToken(1);
    waiter.join();
    return Ms(changed, wokenAt);
}

}  // namespace

int main(int argc, char** argv) {
    bool check = false;
    int runs = 7;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--check")
            check = true;
        else if (std::string(argv[i]) == "--runs" && i + 1 < argc)
            runs = std::max(1, atoi(argv[++i]));
    }
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring store = std::wstring(temp) + L"softtoken-bench-" + std::to_wstring(GetCurrentProcessId());
    SoftToken_SetStorePath(store.c_str());
    SoftTokenParams params = {};
    params.label = "Bench";
    params.serial = "BENCH0001";
    params.userPin = kPin;
    params.capacity = 4 * 1024 * 1024;
    if (SoftToken_InitStore(4) != CKR_OK || SoftToken_CreateToken(0, &params) != CKR_OK ||
        SoftToken_CreateToken(1, &params) != CKR_OK || Populate(0) != CKR_OK) {
        fprintf(stderr, "could not prepare the store\n");
        return 2;
    }
    CK_FUNCTION_LIST_PTR p11 = nullptr;
    C_GetFunctionList(&p11);
    CK_SESSION_HANDLE session = 0;
    p11->C_Initialize(nullptr);
    p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session);
    p11->C_Login(session, CKU_USER, (CK_UTF8CHAR_PTR)kPin, 6);

    std::vector<double> listing, change;
    int listed = 0;
    ListOnce(p11, session, &listed);  // warms the caches, as the program's first listing does
    for (int i = 0; i < runs; ++i)
        listing.push_back(ListOnce(p11, session, &listed));
    for (int i = 0; i < runs; ++i)
        change.push_back(SlotChangeOnce(p11, i % 2 == 1));
    p11->C_Finalize(nullptr);

    const double listMedian = Median(listing), changeMedian = Median(change);
    printf("objects listed:                     %d\n", listed);
    printf("find + listing attributes, median:  %.2f ms (of %d runs, budget 50 ms)\n", listMedian, runs);
    printf("slot change seen by the wait, median: %.2f ms (of %d runs, budget 100 ms)\n", changeMedian, runs);
    const bool ok = listed == kObjects && listMedian < 50.0 && changeMedian < 100.0;
    // The store goes with the run.
    for (const wchar_t* name : {L"\\slot0.token", L"\\slot1.token", L"\\slot1.removed", L"\\store.cfg"})
        DeleteFileW((store + name).c_str());
    RemoveDirectoryW(store.c_str());
    return check && !ok ? 1 : 0;
}
