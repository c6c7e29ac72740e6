#include "objects/CertificateExport.h"

#include <windows.h>
#include <cderr.h>
#include <commdlg.h>

#include <vector>

#include "cryptoki/ErrorReport.h"
#include "cryptoki/ModuleLoader.h"
#include "cryptoki/SessionTable.h"
#include "objects/CertificateFile.h"
#include "objects/ObjectCommand.h"
#include "objects/ObjectListSelection.h"
#include "objects/ObjectTables.h"
#include "objects/ObjectText.h"

namespace {

const wchar_t kFallbackFileName[] = L"Exported Certificate";
const wchar_t kCantRetrieve[] = L"Can't retrieve certificate from the token.\r";
constexpr size_t kFileNameUnits = 256;

// Shows the save dialog with `name` proposed; the chosen path, or empty.
// `invalidName` tells whether the dialog refused the proposed name.
std::wstring AskSavePath(HWND owner, const std::wstring& name, bool* invalidName) {
    wchar_t path[kFileNameUnits] = {};
    name.copy(path, kFileNameUnits - 1);
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = L"Certificate files (*.crt)\0*.crt\0";
    dialog.lpstrFile = path;
    dialog.nMaxFile = kFileNameUnits;
    dialog.lpstrDefExt = L"crt";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    *invalidName = false;
    if (GetSaveFileNameW(&dialog))
        return path;
    *invalidName = CommDlgExtendedError() == FNERR_INVALIDFILENAME;
    return std::wstring();
}

// True when `name` can be a file name: not empty, and none of the characters
// that Windows refuses in names (control characters and <>:"/\|?*).
bool IsUsableFileName(const std::wstring& name) {
    if (name.empty())
        return false;
    for (wchar_t c : name)
        if (c < 0x20 || wcschr(L"<>:\"/\\|?*", c))
            return false;
    return true;
}

}  // namespace

long long SaveCertificateFile(CK_OBJECT_HANDLE handle, int slot, const std::wstring& path) {
    std::vector<unsigned char> value;
    CK_RV rv = ReadCertificateValue(slot, handle, &value);
    if (rv != CKR_OK)
        return 10 + static_cast<long long>(rv);
    return WriteWholeFile(path, value) ? 0 : 1;
}

std::wstring DefaultExportFileName(CK_OBJECT_HANDLE handle, int slot) {
    unsigned char label[70] = {};
    CK_ATTRIBUTE attribute = {CKA_LABEL, label, sizeof label};
    CK_RV rv = Cryptoki.FunctionList->C_GetAttributeValue(SessionTable[slot], handle,
                                                          &attribute, 1);
    if (rv != CKR_OK || attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION ||
        attribute.ulValueLen == 0 || attribute.ulValueLen > sizeof label)
        return kFallbackFileName;
    // Checked here as well as by the dialog: not every save dialog refuses
    // such a name on opening (Wine's puts it in the name box as it is).
    const std::wstring name = LabelText(label, attribute.ulValueLen);
    return IsUsableFileName(name) ? name : kFallbackFileName;
}

void ExportCertificateCommand(const ObjectCommand& command) {
    const int row = FirstSelectedRow(command.objectList);
    const int slot = command.slot;
    if (slot < 0 || !IsCertificateRow(command.objectList, row))
        return;
    const CK_OBJECT_HANDLE handle = ObjectHandleAt(row);
    if (handle == 0) {
        MessageBoxW(nullptr, kCantRetrieve, L"General error", MB_ICONERROR);
        return;
    }
    bool invalidName = false;
    std::wstring path = AskSavePath(command.owner, DefaultExportFileName(handle, slot), &invalidName);
    if (path.empty() && invalidName)
        path = AskSavePath(command.owner, kFallbackFileName, &invalidName);
    if (path.empty())
        return;

    const long long result = SaveCertificateFile(handle, slot, path);
    if (result > 10)
        ShowCkErrorW(static_cast<CK_RV>(result - 10), L"General error", kCantRetrieve);
    else if (result != 0)
        MessageBoxW(nullptr, L"Can't create the file.\r", L"file error", MB_ICONERROR);
}
