#include "objects/CertificateFile.h"

#include <windows.h>

#include <new>

#include "app/AppState.h"

CK_RV ReadCertificateValue(int slot, CK_OBJECT_HANDLE handle, std::vector<unsigned char>* value) {
    const CK_SESSION_HANDLE session = AppState.SessionTable[slot];
    CK_ATTRIBUTE attribute = {CKA_VALUE, nullptr, 0};
    CK_RV rv = AppState.FunctionList->C_GetAttributeValue(session, handle, &attribute, 1);
    if (rv != CKR_OK)
        return rv;
    if (attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION)
        return CKR_ATTRIBUTE_TYPE_INVALID;
    try {
        value->assign(attribute.ulValueLen, 0);
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    }
    attribute.pValue = value->data();
    rv = AppState.FunctionList->C_GetAttributeValue(session, handle, &attribute, 1);
    if (rv == CKR_OK && attribute.ulValueLen <= value->size())
        value->resize(attribute.ulValueLen);
    return rv;
}

namespace {

bool WriteAll(HANDLE file, const std::vector<unsigned char>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(bytes.size() - done > 0x100000 ? 0x100000 : bytes.size() - done);
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return FlushFileBuffers(file) != FALSE;
}

}  // namespace

bool WriteWholeFile(const std::wstring& path, const std::vector<unsigned char>& bytes) {
    const std::wstring partial = path + L".partial-" + std::to_wstring(GetCurrentProcessId());
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool written = WriteAll(file, bytes);
    const bool closed = CloseHandle(file) != FALSE;
    if (written && closed &&
        MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(partial.c_str());
    return false;
}
