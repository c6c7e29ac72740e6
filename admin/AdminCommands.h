// The login, PIN and token administration commands of the main window.
// Each runs on the window thread and opens its modal dialog (the default
// user PIN has none), owned by the main window.
#pragma once

#include <windows.h>

class TokenDisplay;

// What the main window hands an administration command when it begins: the
// token it binds (the selection at that moment; the dialog works on that
// token whatever the selection does meanwhile) and the display it updates.
struct AdminCommand {
    HWND owner = nullptr;             // the main window
    int slot = -1;                    // -1: no token selected, the dialog ends at once
    TokenDisplay* display = nullptr;
};

void OnLoginCommand(const AdminCommand& command);           // 101: login, or logout when the button reads "Log out"
void OnDefaultUserPinCommand(const AdminCommand& command);  // 102: "Set default user pincode"
void OnChangePinCommand(const AdminCommand& command);       // 103: "Change pincode"
void OnClearTokenCommand(const AdminCommand& command);      // 201: "Clear token"
void OnUnblockPinCommand(const AdminCommand& command);      // 202: "Unblock user pincode"
void OnChangeSoPinCommand(const AdminCommand& command);     // 203: "Change SO pincode"
void OnPinPolicyCommand(const AdminCommand& command);       // 204: "Set user pincode policy"
