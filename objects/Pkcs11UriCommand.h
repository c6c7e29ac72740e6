// "Copy PKCS#11 URI" of the token list's and the object list's right-click
// menus: the selected token's (or object's) URI goes to the clipboard.
#pragma once

#include <windows.h>

#include <string>

struct ObjectCommand;

// The URI of the token the command is bound to.
void CopyTokenUriCommand(const ObjectCommand& command);
// The URI of the first selected object row of the bound token.
void CopyObjectUriCommand(const ObjectCommand& command);

// Puts `text` on the clipboard as CF_UNICODETEXT; false when it cannot.
bool PutTextOnClipboard(HWND owner, const std::wstring& text);
