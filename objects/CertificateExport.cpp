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
#include "objects/PemText.h"

namespace {

const wchar_t kFallbackFileName[] = L"Exported Certificate";
const wchar_t kCantRetrieve[] = L"Can't retrieve certificate from the token.\r";
constexpr size_t kFileNameUnits = 256;

// The save dialog's file types. The first stays the default and takes the
// ".crt" names as before (the dialog adds the first extension of the chosen
// type's pattern); the second writes the PEM text.
const wchar_t kSaveFilters[] = L"DER (*.cer)\0*.crt;*.cer\0PEM (*.pem)\0*.pem\0";
constexpr DWORD kPemFilterIndex = 2;

// Shows the save dialog with `name` proposed; the chosen path, or empty.
// `invalidName` tells whether the dialog refused the proposed name, `format`
// which file type the user chose.
std::wstring AskSavePath(HWND owner, const std::wstring& name, bool* invalidName, CertificateFileFormat* format) {
    wchar_t path[kFileNameUnits] = {};
    name.copy(path, kFileNameUnits - 1);
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = kSaveFilters;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = kFileNameUnits;
    dialog.lpstrDefExt = L"crt";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    *invalidName = false;
    if (GetSaveFileNameW(&dialog)) {
        *format = dialog.nFilterIndex == kPemFilterIndex ? CertificateFileFormat::Pem : CertificateFileFormat::Der;
        return path;
    }
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

long long SaveCertificateFile(CK_OBJECT_HANDLE handle, int slot, const std::wstring& path,
                              CertificateFileFormat format) {
    std::vector<unsigned char> value;
    CK_RV rv = ReadCertificateValue(slot, handle, &value);
    if (rv != CKR_OK)
        return 10 + static_cast<long long>(rv);
    if (format == CertificateFileFormat::Pem) {
        const std::string pem = PemCertificateText(value);
        value.assign(pem.begin(), pem.end());
    }
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
    CertificateFileFormat format = CertificateFileFormat::Der;
    std::wstring path = AskSavePath(command.owner, DefaultExportFileName(handle, slot), &invalidName, &format);
    if (path.empty() && invalidName)
        path = AskSavePath(command.owner, kFallbackFileName, &invalidName, &format);
    if (path.empty())
        return;

    const long long result = SaveCertificateFile(handle, slot, path, format);
    if (result > 10)
        ShowCkErrorW(static_cast<CK_RV>(result - 10), L"General error", kCantRetrieve);
    else if (result != 0)
        MessageBoxW(nullptr, L"Can't create the file.\r", L"file error", MB_ICONERROR);
}
