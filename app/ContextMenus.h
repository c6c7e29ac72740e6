// Menus that reach the commands without a button: "Generate CSR..."
// (right-click on the object list, and the system menu); in administrator
// mode "User pincode policy..." and "Set default user pincode" (right-click
// on the token list, and the system menu); "Copy PKCS#11 URI" (right-click
// on either list). They open with the mouse or the keyboard (Shift+F10 or
// the menu key; Alt+Space for the system menu).
#pragma once

#include <windows.h>

constexpr wchar_t kGenerateCsrMenuText[] = L"Generate CSR...";
constexpr wchar_t kPinPolicyMenuText[] = L"User pincode policy...";
constexpr wchar_t kDefaultUserPinMenuText[] = L"Set default user pincode";
constexpr wchar_t kCopyUriMenuText[] = L"Copy PKCS#11 URI";

// The right-click menus, with their entries enabled or grayed for the
// current state. The caller destroys the menu.
HMENU CreateObjectListMenu();
HMENU CreateTokenListMenu();

// Adds the entries to the main window's system menu.
void AddSystemMenuEntries(HWND mainWindow);
// Brings the system menu's entries up to date before it opens.
void UpdateSystemMenuEntries(HWND mainWindow);

// WM_CONTEXTMENU of the main window: `source` is the control clicked,
// `position` the screen point (-1, -1 from the keyboard). Shows the
// control's menu; the chosen entry comes to the main window as WM_COMMAND.
// False when `source` has no menu.
bool OnContextMenu(HWND mainWindow, HWND source, LPARAM position);

// WM_SYSCOMMAND of the main window: sends the main window the command of
// one of the added entries. False for every other system command.
bool OnSystemMenuCommand(HWND mainWindow, WPARAM command);
