#include "app/Commands.h"

#include "app/ControlIds.h"
#include "objects/CertificateExport.h"
#include "objects/ObjectDeletion.h"
#include "objects/ObjectListing.h"

namespace {

struct CommandEntry {
    int Id;
    void (*Handler)(HWND mainWindow);
};

// The same commands in and outside administrator mode: only the
// administrator buttons depend on the mode.
const CommandEntry kCommandTable[] = {
    {kLoginCommand, OnLoginCommand},
    {kDefaultUserPinCommand, OnDefaultUserPinCommand},
    {kChangePinCommand, OnChangePinCommand},
    {kDisplayObjectsCommand, OnDisplayObjectsCommand},
    {kDeleteObjectsCommand, OnDeleteObjectsCommand},
    {kImportCommand, OnImportCommand},
    {kExportCertificateCommand, OnExportCertificateCommand},
    {kGenerateCsrCommand, OnGenerateCsrCommand},
    {kClearTokenCommand, OnClearTokenCommand},
    {kUnblockPinCommand, OnUnblockPinCommand},
    {kChangeSoPinCommand, OnChangeSoPinCommand},
    {kPinPolicyCommand, OnPinPolicyCommand},
};

}  // namespace

bool DispatchCommand(HWND mainWindow, int id) {
    for (const CommandEntry& entry : kCommandTable) {
        if (entry.Id == id) {
            entry.Handler(mainWindow);
            return true;
        }
    }
    return false;
}

void OnExportCertificateCommand(HWND) {
    ExportCertificateCommand();
}

void OnDisplayObjectsCommand(HWND) {
    DisplayObjectsCommand();
}

void OnDeleteObjectsCommand(HWND) {
    DeleteObjectsCommand();
}
