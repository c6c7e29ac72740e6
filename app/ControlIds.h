// Identifiers of the main window's controls and of the commands it answers.
#pragma once

// Controls.
constexpr int kTokenListId = 110;
constexpr int kTokenInfoId = 120;
constexpr int kObjectListId = 130;
constexpr int kTokenGroupId = 140;
constexpr int kObjectGroupId = 150;
constexpr int kAdminGroupId = 160;
constexpr int kSerialEditId = 180;

// Commands (WM_COMMAND, low word of wParam): the main buttons...
constexpr int kLoginCommand = 101;
constexpr int kDefaultUserPinCommand = 102;
constexpr int kChangePinCommand = 103;
constexpr int kDisplayObjectsCommand = 104;
constexpr int kDeleteObjectsCommand = 105;
constexpr int kImportCommand = 106;
constexpr int kExportCertificateCommand = 107;
constexpr int kGenerateCsrCommand = 108;  // no button: right-click and system menus
// ...and the administrator buttons.
constexpr int kClearTokenCommand = 201;
constexpr int kUnblockPinCommand = 202;
constexpr int kChangeSoPinCommand = 203;
constexpr int kPinPolicyCommand = 204;    // no button: right-click and system menus
// Commands of the right-click menus alone.
constexpr int kCopyTokenUriCommand = 301;   // token list: the token's PKCS#11 URI
constexpr int kCopyObjectUriCommand = 302;  // object list: the object's PKCS#11 URI

// System-menu entries (WM_SYSCOMMAND). The system keeps the low four bits of
// wParam for itself, so these are multiples of 16 below 0xF000.
constexpr unsigned kSystemMenuGenerateCsr = 0x1080;
constexpr unsigned kSystemMenuPinPolicy = 0x2040;
constexpr unsigned kSystemMenuDefaultUserPin = 0x2020;  // the command of the button 102
