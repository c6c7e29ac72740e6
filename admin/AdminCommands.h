// The main window's commands that the PIN and token administration answers.
// Each runs on the user-interface thread; the dialogs are owned by `mainWindow`.
#pragma once

#include <windows.h>

void OnLoginCommand(HWND mainWindow);            // 101: login, or logout when the button reads "Log out"
void OnDefaultUserPinCommand(HWND mainWindow);   // 102: default user PIN, no dialog
void OnChangePinCommand(HWND mainWindow);        // 103: "Change pincode"
void OnClearTokenCommand(HWND mainWindow);       // 201: "Clear token"
void OnUnblockPinCommand(HWND mainWindow);       // 202: "Unblock user pincode"
void OnChangeSoPinCommand(HWND mainWindow);      // 203: "Change SO pincode"
void OnPinPolicyCommand(HWND mainWindow);        // 204: "Set user pincode policy"
