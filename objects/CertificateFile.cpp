#include "objects/CertificateFile.h"

#include <windows.h>

#include <new>

#include "cryptoki/ModuleLoader.h"
#include "cryptoki/SessionTable.h"

CK_RV QueryCertificateValueLength(int slot, CK_OBJECT_HANDLE handle, CK_ULONG* length) {
    CK_ATTRIBUTE attribute = {CKA_VALUE, nullptr, 0};
    const CK_RV rv =
        Cryptoki.FunctionList->C_GetAttributeValue(SessionTable[slot], handle, &attribute, 1);
    *length = attribute.ulValueLen;
    return rv;
}

bool AllocateCertificateValue(CK_ULONG length, std::vector<unsigned char>* value) {
    value->clear();
    if (length > kMaxCertificateValueBytes)
        return false;
    try {
        value->assign(length, 0);
    } catch (const std::bad_alloc&) {
        value->clear();
        return false;
    }
    return true;
}

CK_RV ReadCertificateValueInto(int slot, CK_OBJECT_HANDLE handle, std::vector<unsigned char>* value) {
    CK_ATTRIBUTE attribute = {CKA_VALUE, value->data(), static_cast<CK_ULONG>(value->size())};
    const CK_RV rv =
        Cryptoki.FunctionList->C_GetAttributeValue(SessionTable[slot], handle, &attribute, 1);
    if (rv == CKR_OK && attribute.ulValueLen < value->size())
        value->resize(attribute.ulValueLen);
    return rv;
}

CK_RV ReadCertificateValue(int slot, CK_OBJECT_HANDLE handle, std::vector<unsigned char>* value) {
    CK_ULONG length = 0;
    const CK_RV rv = QueryCertificateValueLength(slot, handle, &length);
    if (rv != CKR_OK)
        return rv;
    if (!AllocateCertificateValue(length, value))
        return CKR_HOST_MEMORY;
    return ReadCertificateValueInto(slot, handle, value);
}

namespace {

constexpr DWORD kWriteChunkBytes = 0x100000;

bool WriteAll(HANDLE file, const std::vector<unsigned char>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const size_t left = bytes.size() - done;
        const DWORD chunk = left > kWriteChunkBytes ? kWriteChunkBytes : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return FlushFileBuffers(file) != FALSE;
}

// The folder part of `path`, with its separator; "." when it names none.
std::wstring FolderOf(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring(L".") : path.substr(0, separator + 1);
}

}  // namespace

bool WriteWholeFile(const std::wstring& path, const std::vector<unsigned char>& bytes) {
    // A unique new file in the target's folder, so that the final rename
    // stays on one volume and a long target name does not grow longer.
    wchar_t partial[MAX_PATH] = {};
    if (!GetTempFileNameW(FolderOf(path).c_str(), L"crt", 0, partial))
        return false;
    HANDLE file = CreateFileW(partial, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool complete = false;
    if (file != INVALID_HANDLE_VALUE) {
        const bool written = WriteAll(file, bytes);
        const bool closed = CloseHandle(file) != FALSE;
        complete = written && closed &&
                   MoveFileExW(partial, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    if (!complete)
        DeleteFileW(partial);
    return complete;
}
