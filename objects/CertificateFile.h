// Reading a certificate's bytes from the token and writing them to a file.
#pragma once

#include <string>
#include <vector>

#include "cryptoki/Cryptoki.h"

// The largest CKA_VALUE a certificate operation holds in memory. A length
// beyond it (a module's CK_UNAVAILABLE_INFORMATION among them) is treated as
// an allocation that failed: no buffer of that size is ever zero-filled.
constexpr CK_ULONG kMaxCertificateValueBytes = 16UL * 1024 * 1024;

// The length of CKA_VALUE of `handle` on the session of `slot`.
CK_RV QueryCertificateValueLength(int slot, CK_OBJECT_HANDLE handle, CK_ULONG* length);

// A zero-filled buffer of `length` bytes; false when it cannot be had (the
// buffer is then left empty and must not be used).
bool AllocateCertificateValue(CK_ULONG length, std::vector<unsigned char>* value);

// Reads CKA_VALUE into `value`, which is sized to the length query's
// answer; on success it is cut to the length the module returned.
CK_RV ReadCertificateValueInto(int slot, CK_OBJECT_HANDLE handle, std::vector<unsigned char>* value);

// The three steps together: CKR_HOST_MEMORY when the buffer cannot be had.
CK_RV ReadCertificateValue(int slot, CK_OBJECT_HANDLE handle, std::vector<unsigned char>* value);

// Writes `bytes` to `path` completely or not at all: the bytes go to a new
// file beside it first, every write and the close are checked, and only
// then does it replace `path`. False when any step fails; the new file is
// removed and an existing file at `path` keeps its old content.
bool WriteWholeFile(const std::wstring& path, const std::vector<unsigned char>& bytes);
