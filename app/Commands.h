// The main window's commands, one handler each, dispatched by the command
// table (CommandTable.cpp). Every handler runs on the window thread; the
// dialogs it opens are owned by `mainWindow`.
#pragma once

#include <windows.h>

void OnLoginCommand(HWND mainWindow);               // 101: login, or logout when the button reads "Log out"
void OnDefaultUserPinCommand(HWND mainWindow);      // 102: "Set default user pincode"
void OnChangePinCommand(HWND mainWindow);           // 103: "Change pincode"
void OnDisplayObjectsCommand(HWND mainWindow);      // 104: "Display objects"
void OnDeleteObjectsCommand(HWND mainWindow);       // 105: "Delete"
void OnImportCommand(HWND mainWindow);              // 106: "Import Cert/PFX"
void OnExportCertificateCommand(HWND mainWindow);   // 107: "Export certificate"
void OnGenerateCsrCommand(HWND mainWindow);         // 108: "Generate CSR"
void OnClearTokenCommand(HWND mainWindow);          // 201: "Clear token"
void OnUnblockPinCommand(HWND mainWindow);          // 202: "Unblock user pincode"
void OnChangeSoPinCommand(HWND mainWindow);         // 203: "Change SO pincode"
void OnPinPolicyCommand(HWND mainWindow);           // 204: "Set user pincode policy"

// Runs the handler of command `id`; false when no command has that ID.
bool DispatchCommand(HWND mainWindow, int id);
