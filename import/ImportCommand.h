// The "Import Cert/PFX" command of the main window.
#pragma once

#include <windows.h>

// The window message sent to the top-level window titled "CLASS" after a
// certificate file import, with both parameters 0.
constexpr UINT kCertificateImportedMessage = 458;
// How long the message may wait for the window's program to take it.
constexpr UINT kCertificateImportedTimeoutMs = 2000;

struct ObjectCommand;

// The "Import Cert/PFX" command: the user picks a certificate or PFX file,
// which is imported onto the command's token (the one selected when the
// command began, before the open-file dialog), and the object list is
// built again.
void OnImportCommand(const ObjectCommand& command);

// Sends kCertificateImportedMessage to the window titled "CLASS", if there
// is one; a program that does not answer in time is left alone.
void NotifyCertificateImported();
