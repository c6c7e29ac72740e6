// Reading a certificate's bytes from the token and writing them to a file.
#pragma once

#include <string>
#include <vector>

#include "cryptoki/Cryptoki.h"

// Reads CKA_VALUE of `handle` on the session of `slot`: a length query, then
// the value. CKR_HOST_MEMORY when the buffer cannot be allocated.
CK_RV ReadCertificateValue(int slot, CK_OBJECT_HANDLE handle, std::vector<unsigned char>* value);

// Writes `bytes` to `path` completely or not at all: the bytes go to a file
// beside it first, which then replaces `path`. False when any step fails;
// no partial file is left and an existing file keeps its old content.
bool WriteWholeFile(const std::wstring& path, const std::vector<unsigned char>& bytes);
