// Texts of a certificate row's info tip, and the PEM text of an export.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <fstream>
#include <string>
#include <vector>

#include "objects/CertificateName.h"
#include "objects/CertificateTip.h"
#include "objects/PemText.h"
#include "support/TestFiles.h"

namespace {

constexpr long long kTicksPerDay = 24LL * 60 * 60 * 10000000;

FILETIME Shifted(const FILETIME& time, long long ticks) {
    ULARGE_INTEGER value = {};
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    value.QuadPart += ticks;
    return FILETIME{value.LowPart, value.HighPart};
}

std::string Narrow8(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

TEST(CertificateTip, ValidityWarningByTimeLeft) {
    const FILETIME notBefore = {0, 0x01D00000};
    const FILETIME notAfter = Shifted(notBefore, 365 * kTicksPerDay);
    const struct {
        const char* what;
        long long fromNotAfter;  // ticks from notAfter to "now"
        const wchar_t* warning;
    } rows[] = {
        {"plenty of time", -200 * kTicksPerDay, L""},
        {"exactly 30 days left", -30 * kTicksPerDay, L""},
        {"a second under 30 days", -30 * kTicksPerDay + 10000000, L"Expires in 29 days"},
        {"two days and a half", -(5 * kTicksPerDay) / 2, L"Expires in 2 days"},
        {"one day and a bit", -kTicksPerDay - 1, L"Expires in 1 day"},
        {"last hours", -kTicksPerDay / 24, L"Expires in 0 days"},
        {"the very end", 0, L"Expired"},
        {"long gone", 400 * kTicksPerDay, L"Expired"},
        {"before notBefore", -366 * kTicksPerDay, L"Not yet valid"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ValidityWarning(notBefore, notAfter, Shifted(notAfter, row.fromNotAfter)), row.warning)
            << row.what;
}

// The tip of openssl's certificate: its names, serial 13 and openssl's own
// fingerprint; a warning line only near its end.
TEST(CertificateTip, ShowsTheCertificatesFieldsAndFingerprint) {
    const std::vector<unsigned char> der = ReadFixture(L"imp_ee.der");
    std::ifstream sha1File(FixturePath(L"imp_ee.sha1").c_str());
    std::string fingerprint;
    std::getline(sha1File, fingerprint);
    ASSERT_EQ(fingerprint.size(), 59u) << "20 bytes as AB:CD:...";

    PCCERT_CONTEXT certificate =
        CertCreateCertificateContext(kCertificateEncoding, der.data(), static_cast<DWORD>(der.size()));
    ASSERT_TRUE(certificate);
    const FILETIME notAfter = certificate->pCertInfo->NotAfter;
    CertFreeCertificateContext(certificate);

    const std::wstring tip = CertificateTipText(der, Shifted(notAfter, -100 * kTicksPerDay));
    const std::string text = Narrow8(tip);
    // The system writes the name's parts; their order is its own.
    const std::string subject = text.substr(0, text.find("\r\n"));
    EXPECT_EQ(subject.rfind("Subject: ", 0), 0u) << text;
    EXPECT_NE(subject.find("CN=PFX Alice"), std::string::npos) << text;
    EXPECT_NE(subject.find("O=Tolvane Test"), std::string::npos) << text;
    // Wine quotes some values whatever the flags say.
    EXPECT_NE(text.find("\r\nIssuer: CN="), std::string::npos) << text;
    EXPECT_NE(text.find("Import CA Two"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nSerial number: 0D\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nValid from: "), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nValid to: "), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - fingerprint.size()), fingerprint) << "no warning line: " << text;
    const std::string soon = Narrow8(CertificateTipText(der, Shifted(notAfter, -3 * kTicksPerDay)));
    EXPECT_EQ(soon.substr(soon.size() - 19), "\r\nExpires in 3 days") << soon;

    EXPECT_EQ(CertificateTipText({}, notAfter), L"");
    EXPECT_EQ(CertificateTipText({0x30, 0x03, 0x02, 0x01, 0x01}, notAfter), L"") << "no certificate, no tip";
}

TEST(PemText, Base64OfTheRfcVectors) {
    const struct {
        const char* in;
        const char* out;
    } rows[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
                {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xFF\xFE", "//4="}};
    for (const auto& row : rows)
        EXPECT_EQ(Base64Text(reinterpret_cast<const unsigned char*>(row.in), strlen(row.in)), row.out) << row.in;
}

TEST(PemText, LinesOf64WithCrLf) {
    const std::vector<unsigned char> der(48 + 3, 0);  // 64 + 4 base64 characters
    EXPECT_EQ(PemCertificateText(der),
              "-----BEGIN CERTIFICATE-----\r\n" + std::string(64, 'A') + "\r\nAAAA\r\n-----END CERTIFICATE-----\r\n");
}

}  // namespace
