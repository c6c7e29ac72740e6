// The info tip of a certificate row: who the certificate names and who
// issued it, its serial number, validity and SHA-1 fingerprint, and a
// warning when it has expired, is not valid yet or expires within 30 days.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "cryptoki/Cryptoki.h"

// Fewer whole days than this before notAfter bring the "Expires in" line.
constexpr int kExpiryWarningDays = 30;

// The tip of the DER certificate `der` at the moment `now` (UTC); empty when
// the bytes are no certificate. Times are shown in local time.
std::wstring CertificateTipText(const std::vector<unsigned char>& der, const FILETIME& now);

// The validity line alone: "Not yet valid", "Expired", "Expires in N days"
// (whole days left, fewer than 30) or empty.
std::wstring ValidityWarning(const FILETIME& notBefore, const FILETIME& notAfter, const FILETIME& now);

// Reads CKA_VALUE of `handle` on the session of `slot`, within the size
// bound of every certificate read, and gives its tip for the present
// moment; empty when it cannot be read.
std::wstring ReadCertificateTip(int slot, CK_OBJECT_HANDLE handle);
