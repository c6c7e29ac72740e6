#include "objects/CertificateTip.h"

#include <wincrypt.h>

#include <cstdio>

#include "objects/CertificateFile.h"
#include "objects/CertificateName.h"

namespace {

constexpr unsigned long long kTicksPerDay = 24ULL * 60 * 60 * 10000000;

unsigned long long Ticks(const FILETIME& time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

std::wstring NameText(const CERT_NAME_BLOB& name) {
    CERT_NAME_BLOB copy = name;
    const DWORD flags = CERT_X500_NAME_STR | CERT_NAME_STR_NO_QUOTING_FLAG;
    const DWORD chars = CertNameToStrW(X509_ASN_ENCODING, &copy, flags, nullptr, 0);
    if (chars <= 1)
        return std::wstring();
    std::wstring text(chars, L'\0');
    CertNameToStrW(X509_ASN_ENCODING, &copy, flags, &text[0], chars);
    text.resize(chars - 1);
    return text;
}

// Hexadecimal, most significant byte first; the blob holds the integer
// least significant byte first.
std::wstring SerialText(const CRYPT_INTEGER_BLOB& serial) {
    std::wstring text;
    wchar_t pair[3];
    for (DWORD i = serial.cbData; i > 0; --i) {
        swprintf(pair, 3, L"%02X", serial.pbData[i - 1]);
        text += pair;
    }
    return text;
}

// "2026-12-09 16:05:00" in the local time zone.
std::wstring LocalTimeText(const FILETIME& utc) {
    SYSTEMTIME universal = {};
    SYSTEMTIME local = {};
    if (!FileTimeToSystemTime(&utc, &universal) || !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
        return std::wstring();
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u:%02u", local.wYear, local.wMonth, local.wDay, local.wHour,
             local.wMinute, local.wSecond);
    return text;
}

// "AB:CD:..." as openssl and the certificate viewers show it.
std::wstring Sha1Text(const std::vector<unsigned char>& der) {
    BYTE hash[20] = {};
    DWORD size = sizeof hash;
    if (!CryptHashCertificate(0, CALG_SHA1, 0, der.data(), static_cast<DWORD>(der.size()), hash, &size))
        return std::wstring();
    std::wstring text;
    wchar_t pair[4];
    for (DWORD i = 0; i < size; ++i) {
        swprintf(pair, 4, i == 0 ? L"%02X" : L":%02X", hash[i]);
        text += pair;
    }
    return text;
}

}  // namespace

std::wstring ValidityWarning(const FILETIME& notBefore, const FILETIME& notAfter, const FILETIME& now) {
    if (Ticks(now) < Ticks(notBefore))
        return L"Not yet valid";
    if (Ticks(now) >= Ticks(notAfter))
        return L"Expired";
    const unsigned long long days = (Ticks(notAfter) - Ticks(now)) / kTicksPerDay;
    if (days >= static_cast<unsigned long long>(kExpiryWarningDays))
        return std::wstring();
    return L"Expires in " + std::to_wstring(days) + (days == 1 ? L" day" : L" days");
}

std::wstring CertificateTipText(const std::vector<unsigned char>& der, const FILETIME& now) {
    if (der.empty())
        return std::wstring();
    PCCERT_CONTEXT certificate =
        CertCreateCertificateContext(kCertificateEncoding, der.data(), static_cast<DWORD>(der.size()));
    if (!certificate)
        return std::wstring();
    const CERT_INFO& info = *certificate->pCertInfo;
    std::wstring tip = L"Subject: " + NameText(info.Subject);
    tip += L"\r\nIssuer: " + NameText(info.Issuer);
    tip += L"\r\nSerial number: " + SerialText(info.SerialNumber);
    tip += L"\r\nValid from: " + LocalTimeText(info.NotBefore);
    tip += L"\r\nValid to: " + LocalTimeText(info.NotAfter);
    tip += L"\r\nSHA-1 fingerprint: " + Sha1Text(der);
    const std::wstring warning = ValidityWarning(info.NotBefore, info.NotAfter, now);
    if (!warning.empty())
        tip += L"\r\n" + warning;
    CertFreeCertificateContext(certificate);
    return tip;
}

std::wstring ReadCertificateTip(int slot, CK_OBJECT_HANDLE handle) {
    std::vector<unsigned char> der;
    if (handle == 0 || ReadCertificateValue(slot, handle, &der) != CKR_OK)
        return std::wstring();
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    return CertificateTipText(der, now);
}
