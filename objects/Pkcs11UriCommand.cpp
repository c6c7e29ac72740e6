#include "objects/Pkcs11UriCommand.h"

#include <cstring>

#include "objects/ObjectCommand.h"
#include "objects/ObjectListSelection.h"
#include "objects/ObjectTables.h"
#include "objects/Pkcs11Uri.h"

namespace {

void CopyUri(HWND owner, const std::wstring& uri) {
    // Nothing could be read (the token went, the object is gone): the
    // clipboard keeps what it had.
    if (uri.empty() || !PutTextOnClipboard(owner, uri))
        MessageBeep(MB_ICONWARNING);
}

}  // namespace

bool PutTextOnClipboard(HWND owner, const std::wstring& text) {
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!memory)
        return false;
    void* target = GlobalLock(memory);
    if (!target) {
        GlobalFree(memory);
        return false;
    }
    std::memcpy(target, text.c_str(), bytes);
    GlobalUnlock(memory);
    bool done = false;
    if (OpenClipboard(owner)) {
        EmptyClipboard();
        // The clipboard owns the memory once SetClipboardData succeeds.
        done = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        CloseClipboard();
    }
    if (!done)
        GlobalFree(memory);
    return done;
}

void CopyTokenUriCommand(const ObjectCommand& command) {
    if (command.slot < 0)
        return;
    CopyUri(command.owner, ReadPkcs11Uri(command.slot, 0));
}

void CopyObjectUriCommand(const ObjectCommand& command) {
    const int row = FirstSelectedRow(command.objectList);
    if (command.slot < 0 || row < 0)
        return;
    const CK_OBJECT_HANDLE handle = ObjectHandleAt(row);
    if (handle == 0)
        return;
    CopyUri(command.owner, ReadPkcs11Uri(command.slot, handle));
}
