#include "app/Commands.h"

#include "admin/AdminCommands.h"
#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/MainWindowHost.h"
#include "cryptoki/ErrorReport.h"
#include "csr/CsrDialog.h"
#include "import/ImportCommand.h"
#include "objects/CertificateExport.h"
#include "objects/CertificateView.h"
#include "objects/ObjectDeletion.h"
#include "objects/ObjectListing.h"

namespace {

void DisplayObjects() {
    DisplayObjectsCommand(BindObjectCommand(), &AppState.PublicOnlyWarningArmed);
}

// Each command takes its binding as it begins.
struct CommandEntry {
    int Id;
    void (*Run)();
};

// The same commands in and outside administrator mode: only the
// administrator buttons depend on the mode.
const CommandEntry kCommandTable[] = {
    {kLoginCommand, [] { OnLoginCommand(BindAdminCommand()); }},
    {kDefaultUserPinCommand, [] { OnDefaultUserPinCommand(BindAdminCommand()); }},
    {kChangePinCommand, [] { OnChangePinCommand(BindAdminCommand()); }},
    {kDisplayObjectsCommand, DisplayObjects},
    {kDeleteObjectsCommand, [] { DeleteObjectsCommand(BindObjectCommand()); }},
    {kImportCommand, [] { OnImportCommand(BindObjectCommand()); }},
    {kExportCertificateCommand, [] { ExportCertificateCommand(BindObjectCommand()); }},
    {kGenerateCsrCommand, [] { OnGenerateCsrCommand(BindCsrCommand()); }},
    {kClearTokenCommand, [] { OnClearTokenCommand(BindAdminCommand()); }},
    {kUnblockPinCommand, [] { OnUnblockPinCommand(BindAdminCommand()); }},
    {kChangeSoPinCommand, [] { OnChangeSoPinCommand(BindAdminCommand()); }},
    {kPinPolicyCommand, [] { OnPinPolicyCommand(BindAdminCommand()); }},
};

// The one check: while a worker runs it holds a session, so no command
// starts; once the window closes, none either.
bool CommandsRefused() {
    return AppState.Busy || AppState.ShuttingDown;
}

}  // namespace

void DispatchCommand(int id) {
    if (CommandsRefused())
        return;
    for (const CommandEntry& entry : kCommandTable) {
        if (entry.Id == id) {
            RunReportingOutOfMemory(entry.Run);
            return;
        }
    }
}

void DispatchShowCertificate() {
    if (!CommandsRefused())
        RunReportingOutOfMemory([] { ShowSelectedCertificate(BindObjectCommand()); });
}
