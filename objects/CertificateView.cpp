#include "objects/CertificateView.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <ctime>
#include <vector>

#include "cryptoki/ErrorReport.h"
#include "objects/CertificateFile.h"
#include "objects/ObjectCommand.h"
#include "objects/ObjectListSelection.h"
#include "objects/ObjectTables.h"

std::wstring ViewerFilePath(const std::wstring& temporaryFolder, int number) {
    wchar_t path[MAX_PATH + 32];
    FormatTextW(path, L"%lscert%d.crt", temporaryFolder.c_str(), number);
    return path;
}

long long ShowCertificate(int slot, int row) {
    // Seeded with the time at every use: two views within one second share
    // a name, and the second replaces the first.
    srand(static_cast<unsigned>(time(nullptr)));
    const int number = rand() % 32768;
    const CK_OBJECT_HANDLE handle = ObjectHandleAt(row);

    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD folderLength = GetTempPathW(MAX_PATH + 1, folder);
    if (folderLength == 0 || folderLength > MAX_PATH)
        return 1;

    CK_ULONG length = 0;
    const CK_RV rv = QueryCertificateValueLength(slot, handle, &length);
    if (rv != CKR_OK)
        return 10 + static_cast<long long>(rv);
    std::vector<unsigned char> value;
    if (!AllocateCertificateValue(length, &value))
        return 3;
    if (ReadCertificateValueInto(slot, handle, &value) != CKR_OK)
        return 4;

    const std::wstring path = ViewerFilePath(folder, number);
    if (!WriteWholeFile(path, value))
        return 5;
    ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return 0;
}

void ShowSelectedCertificate(const ObjectCommand& command) {
    const int row = FirstSelectedRow(command.objectList);
    const int slot = command.slot;
    if (slot < 0 || !IsCertificateRow(command.objectList, row))
        return;

    const long long result = ShowCertificate(slot, row);
    if (result == 0)
        return;
    if (result < 10) {
        MessageBoxW(nullptr, L"Show certificate failed.\r\n", L"certificate error", MB_ICONERROR);
        return;
    }
    const CK_RV rv = static_cast<CK_RV>(result - 10);
    if (rv == CKR_GENERAL_ERROR) {
        ShowCkErrorW(rv, L"Show certificate error", L"General error occured.\r\n");
        return;
    }
    wchar_t text[64];
    FormatTextW(text, L"Couldn't retrieve the certificate (error: %lx)", static_cast<unsigned long>(rv));
    MessageBoxW(nullptr, text, L"Show certificate error", MB_ICONERROR);
}
