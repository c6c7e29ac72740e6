// Certificate files onto the software token: the values of the object, the
// template's order, and every result of the file mode.
#include "ImportTestSupport.h"

#include "app/AppState.h"
#include "import/CertificateFields.h"
#include "import/ImportCertificate.h"
#include "support/TestFiles.h"

namespace {

// The attributes that make a certificate object what it is.
const CK_ATTRIBUTE_TYPE kCertificateValues[] = {CKA_VALUE, CKA_ID, CKA_SERIAL_NUMBER,
                                                CKA_SUBJECT, CKA_ISSUER, CKA_LABEL};

class CertificateImportTest : public ImportTokenTest {
protected:
    long long ImportFixture(const std::wstring& name) {
        return ImportCertificate(kImportSlot, FixturePath(name).c_str(), nullptr, nullptr);
    }
};

TEST_F(CertificateImportTest, DerAndPemFilesGiveTheSameObject) {
    ASSERT_EQ(ImportFixture(L"cn_simple.der"), kCertificateStored);
    ASSERT_EQ(ImportFixture(L"cn_simple.pem"), kCertificateStored);
    const std::vector<CK_OBJECT_HANDLE> certificates = Objects(CKO_CERTIFICATE);
    ASSERT_EQ(certificates.size(), 2u) << "no check for an existing object: the same certificate twice";

    for (CK_ATTRIBUTE_TYPE type : kCertificateValues)
        EXPECT_EQ(Read(certificates[0], type), Read(certificates[1], type)) << "attribute 0x" << std::hex << type;
    FixtureCertificate certificate(L"cn_simple.der");
    ASSERT_TRUE(certificate.get());
    const CK_OBJECT_HANDLE object = certificates[0];
    EXPECT_EQ(Read(object, CKA_VALUE), ReadFixture(L"cn_simple.der"));
    EXPECT_EQ(ToHex(Read(object, CKA_ID)), Upper(FixtureLine(L"cn_simple.keyid")));
    EXPECT_EQ(Read(object, CKA_LABEL), FromText("Alice Example"));
    EXPECT_EQ(Read(object, CKA_SUBJECT), certificate.Subject());
    EXPECT_EQ(Read(object, CKA_ISSUER), certificate.Subject()) << "self-signed";
    EXPECT_FALSE(ReadFlag(object, CKA_PRIVATE));
    EXPECT_TRUE(ReadFlag(object, CKA_TOKEN));
}

TEST_F(CertificateImportTest, SerialNumberIsTheWholeDerInteger) {
    const struct {
        const wchar_t* file;
        std::string serial;  // expected CKA_SERIAL_NUMBER, hex
    } rows[] = {
        {L"imp_serial1.der", "020101"},
        // High bit set: the sign octet 00 stays.
        {L"imp_serial_high.der", "020D008899AABBCCDDEEFF00112233"},
        // 48 content octets, longer than any fixed serial buffer of 40 bytes.
        {L"imp_serial_long.der", "0230" + std::string(96, '7')},
    };
    for (const auto& row : rows) {
        ASSERT_EQ(ImportFixture(row.file), kCertificateStored) << Narrow(row.file);
        const CK_OBJECT_HANDLE object = Objects(CKO_CERTIFICATE).back();
        EXPECT_EQ(ToHex(Read(object, CKA_SERIAL_NUMBER)), row.serial) << Narrow(row.file);
    }
}

TEST_F(CertificateImportTest, LabelIsTheFirstCommonName) {
    const struct {
        const wchar_t* file;
        bool hasLabel;
        std::string label;  // UTF-8
    } rows[] = {
        {L"cn_simple.der", true, "Alice Example"},
        // Two common names: the first.
        {L"cn_two.der", true, "first name"},
        // UTF8String: its bytes.
        {L"cn_utf8.der", true, "\xC3\x85sa \xC3\x96" "berg \xC4\xB3"},
        // BMPString: turned into UTF-8.
        {L"imp_bmp.der", true, "\xCE\xA9mega \xC3\xBCn\xC3\xAF"},
        // 60 four-byte characters, 240 bytes: stored whole.
        {L"imp_cn_long.der", true, [] { std::string s; for (int i = 0; i < 60; ++i) s += "\xF0\x9F\x98\x80"; return s; }()},
        // No common name: no CKA_LABEL, the token's default applies.
        {L"cn_none.der", false, ""},
    };
    for (const auto& row : rows) {
        FixtureCertificate certificate(row.file);
        ASSERT_TRUE(certificate.get()) << Narrow(row.file);
        CertificateFields fields;
        ASSERT_EQ(ExtractCertificateFields(certificate.get(), &fields), kCertificateStored);
        EXPECT_EQ(fields.HasLabel, row.hasLabel) << Narrow(row.file);
        EXPECT_EQ(std::string(fields.Label.begin(), fields.Label.end()), row.label) << Narrow(row.file);

        ASSERT_EQ(ImportFixture(row.file), kCertificateStored) << Narrow(row.file);
        bool present = false;
        const Bytes label = Read(Objects(CKO_CERTIFICATE).back(), CKA_LABEL, &present);
        if (row.hasLabel)
            EXPECT_EQ(std::string(label.begin(), label.end()), row.label) << Narrow(row.file);
        else
            EXPECT_TRUE(!present || label.empty()) << Narrow(row.file);
    }
}

// A UTF8String common name is stored as its encoded bytes, also where
// decoded text would differ: a zero character inside it, bytes that are no
// UTF-8. The Name is written here byte by byte: an organisation first,
// then two common names.
TEST_F(CertificateImportTest, Utf8StringCommonNameKeepsItsEncodedBytes) {
    const std::string values[] = {std::string("a\0b", 3), "bad \xFF\xFE utf-8", "plain"};
    for (const std::string& value : values) {
        const auto element = [](unsigned char tag, const ByteVector& content) {
            ByteVector out;
            out.reserve(content.size() + 2);
            out.push_back(tag);
            out.push_back(static_cast<unsigned char>(content.size()));
            for (unsigned char octet : content)
                out.push_back(octet);
            return out;
        };
        const auto attribute = [&](unsigned char lastOidByte, const std::string& text) {
            ByteVector fields = element(0x06, {0x55, 0x04, lastOidByte});
            const ByteVector string = element(0x0C, ByteVector(text.begin(), text.end()));
            fields.insert(fields.end(), string.begin(), string.end());
            return element(0x31, element(0x30, fields));
        };
        ByteVector rdns = attribute(0x0A, "Org");  // organisationName
        for (const ByteVector& rdn : {attribute(0x03, value), attribute(0x03, "second")})
            rdns.insert(rdns.end(), rdn.begin(), rdn.end());
        ByteVector der = element(0x30, rdns);
        const CERT_NAME_BLOB blob = {static_cast<DWORD>(der.size()), der.data()};
        ByteVector label;
        if (!FindCommonNameLabel(blob, &label)) {
            // The platform's decoder refuses the Name: the import ends there
            // (Wine's refuses bytes that are no UTF-8).
            ByteVector reencoded;
            EXPECT_EQ(ReencodeName(blob, &reencoded), kNameNotDecoded) << ToHex(der);
            continue;
        }
        EXPECT_EQ(ToHex(label), ToHex(ByteVector(value.begin(), value.end())));
    }
}

// Names made here for the string types openssl does not write into a
// common name: a UniversalString and a TeletexString with an 8-bit byte.
TEST_F(CertificateImportTest, WideAndEightBitCommonNameTypes) {
    wchar_t universal[] = L"\u03A9 universal";
    char teletex[] = "Caf\xE9";
    const struct {
        DWORD type;
        void* value;
        DWORD size;
        LPCSTR structType;
        std::string label;
    } rows[] = {
        {CERT_RDN_UNIVERSAL_STRING, universal, sizeof universal - sizeof(wchar_t), X509_UNICODE_NAME,
         "\xCE\xA9 universal"},
        // 8-bit types keep their bytes as they are.
        {CERT_RDN_T61_STRING, teletex, 4, X509_NAME, "Caf\xE9"},
    };
    for (const auto& row : rows) {
        CERT_RDN_ATTR attribute = {const_cast<char*>(szOID_COMMON_NAME), row.type,
                                   {row.size, static_cast<BYTE*>(row.value)}};
        CERT_RDN rdn = {1, &attribute};
        CERT_NAME_INFO name = {1, &rdn};
        BYTE* encoded = nullptr;
        DWORD size = 0;
        ASSERT_TRUE(CryptEncodeObjectEx(X509_ASN_ENCODING, row.structType, &name, CRYPT_ENCODE_ALLOC_FLAG,
                                        nullptr, &encoded, &size));
        const CERT_NAME_BLOB blob = {size, encoded};
        ByteVector reencoded;
        if (row.type == CERT_RDN_UNIVERSAL_STRING && RunningUnderWine()) {
            // Known platform difference: Wine cannot decode a UniversalString
            // in a Name, so such a subject ends the import (result 6) there.
            EXPECT_EQ(ReencodeName(blob, &reencoded), kNameNotDecoded);
            LocalFree(encoded);
            continue;
        }
        ByteVector label;
        EXPECT_TRUE(FindCommonNameLabel(blob, &label));
        EXPECT_EQ(std::string(label.begin(), label.end()), row.label) << "type " << row.type;
        EXPECT_EQ(ReencodeName(blob, &reencoded), kNameEncoded);
        EXPECT_EQ(reencoded, ByteVector(encoded, encoded + size)) << "type " << row.type;
        LocalFree(encoded);
    }
}

TEST_F(CertificateImportTest, SubjectAndIssuerOverSixThousandBytesAreStoredWhole) {
    FixtureCertificate certificate(L"imp_name_big.der");
    ASSERT_TRUE(certificate.get());
    ASSERT_GT(certificate.Subject().size(), 6000u);
    ASSERT_EQ(ImportFixture(L"imp_name_big.der"), kCertificateStored);
    const CK_OBJECT_HANDLE object = Objects(CKO_CERTIFICATE).back();
    EXPECT_EQ(Read(object, CKA_SUBJECT), certificate.Subject());
    EXPECT_EQ(Read(object, CKA_ISSUER), certificate.Subject());
    EXPECT_EQ(Read(object, CKA_LABEL), FromText("Big Name"));
}

TEST_F(CertificateImportTest, TemplateComesInItsOrder) {
    const CK_ATTRIBUTE_TYPE full[] = {CKA_CLASS, CKA_TOKEN, CKA_PRIVATE, CKA_MODIFIABLE, CKA_CERTIFICATE_TYPE,
                                      CKA_VALUE, CKA_ID, CKA_SERIAL_NUMBER, CKA_LABEL, CKA_SUBJECT, CKA_ISSUER};
    const struct {
        const wchar_t* file;
        bool dropId;  // as when the hashing fails
        std::vector<CK_ATTRIBUTE_TYPE> types;
    } rows[] = {
        {L"cn_simple.der", false, std::vector<CK_ATTRIBUTE_TYPE>(std::begin(full), std::end(full))},
        {L"cn_none.der", false, {CKA_CLASS, CKA_TOKEN, CKA_PRIVATE, CKA_MODIFIABLE, CKA_CERTIFICATE_TYPE,
                                 CKA_VALUE, CKA_ID, CKA_SERIAL_NUMBER, CKA_SUBJECT, CKA_ISSUER}},
        {L"cn_simple.der", true, {CKA_CLASS, CKA_TOKEN, CKA_PRIVATE, CKA_MODIFIABLE, CKA_CERTIFICATE_TYPE,
                                  CKA_VALUE, CKA_SERIAL_NUMBER, CKA_LABEL, CKA_SUBJECT, CKA_ISSUER}},
    };
    for (const auto& row : rows) {
        FixtureCertificate certificate(row.file);
        CertificateFields fields;
        fields.Value = ReadFixture(row.file);
        ASSERT_EQ(ExtractCertificateFields(certificate.get(), &fields), kCertificateStored);
        fields.HasId = fields.HasId && !row.dropId;
        const std::vector<CK_ATTRIBUTE> attributes = BuildCertificateTemplate(fields);
        std::vector<CK_ATTRIBUTE_TYPE> types;
        for (const CK_ATTRIBUTE& a : attributes)
            types.push_back(a.type);
        EXPECT_EQ(types, row.types) << Narrow(row.file);
        // Fixed values: certificate class, on the token, public, modifiable, X.509.
        EXPECT_EQ(*static_cast<CK_OBJECT_CLASS*>(attributes[0].pValue), CKO_CERTIFICATE);
        EXPECT_EQ(attributes[0].ulValueLen, 4u);
        EXPECT_EQ(*static_cast<CK_BBOOL*>(attributes[1].pValue), CK_TRUE);
        EXPECT_EQ(*static_cast<CK_BBOOL*>(attributes[2].pValue), CK_FALSE);
        EXPECT_EQ(*static_cast<CK_BBOOL*>(attributes[3].pValue), CK_TRUE);
        EXPECT_EQ(*static_cast<CK_CERTIFICATE_TYPE*>(attributes[4].pValue), CKC_X_509);
        EXPECT_EQ(attributes[5].ulValueLen, fields.Value.size());
    }
}

TEST_F(CertificateImportTest, FilesThatAreNoCertificate) {
    TempFolder folder;
    const std::wstring empty = folder.File(L"empty.cer");
    ASSERT_TRUE(WriteFileBytes(empty, {}));
    const struct {
        std::wstring path;
        long long result;
    } rows[] = {
        {FixturePath(L"imp_text.txt"), kNotCertificate},
        // PEM, but a private key: decodes, is no certificate, is no PFX.
        {FixturePath(L"cn_simple.key"), kNotCertificate},
        {empty, kNotCertificate},
        {FixturePath(L"imp_modern.pfx"), kFileIsPfx},
        {FixturePath(L"imp_legacy.pfx"), kFileIsPfx},
        {folder.File(L"missing.cer"), kFileNotReadable},
        {L"a:", kNoCertificate},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ImportCertificate(kImportSlot, row.path.c_str(), nullptr, nullptr), row.result) << Narrow(row.path);
    EXPECT_EQ(ImportCertificate(kImportSlot, nullptr, nullptr, nullptr), kNoCertificate);
    EXPECT_TRUE(Objects(CKO_CERTIFICATE).empty());
}

TEST_F(CertificateImportTest, CryptokiFailuresComeBackAsTenPlusTheCode) {
    ASSERT_EQ(TokenStore::Control().SetCapacity(kImportSlot, 300), CKR_OK);
    long long status = ImportFixture(L"cn_simple.der");
    CK_RV rv = 0;
    ASSERT_TRUE(IsCryptokiFailure(status, &rv));
    EXPECT_EQ(rv, CKR_DEVICE_MEMORY);
    EXPECT_EQ(status, 10 + 0x31);

    ASSERT_EQ(TokenStore::Control().SetCapacity(kImportSlot, 65536), CKR_OK);
    ASSERT_EQ(TokenStore::Control().SetFault("C_CreateObject", 1, CKR_GENERAL_ERROR), CKR_OK);
    EXPECT_EQ(ImportFixture(L"cn_simple.der"), 10 + 0x05);
    // A vendor code wraps, and comes back whole.
    ASSERT_EQ(TokenStore::Control().SetFault("C_CreateObject", 1, 0x80000123UL), CKR_OK);
    status = ImportFixture(L"cn_simple.der");
    ASSERT_TRUE(IsCryptokiFailure(status, &rv));
    EXPECT_EQ(rv, 0x80000123UL);
    EXPECT_TRUE(Objects(CKO_CERTIFICATE).empty());
}

TEST_F(CertificateImportTest, CertificateModeHandsBackWhatTheObjectGot) {
    FixtureCertificate certificate(L"imp_ee.der");
    ASSERT_TRUE(certificate.get());
    CertificateIdentity identity;
    ASSERT_EQ(ImportCertificate(kImportSlot, nullptr, certificate.get(), &identity), kCertificateStored);
    const CK_OBJECT_HANDLE object = Objects(CKO_CERTIFICATE).back();
    EXPECT_EQ(identity.Id, Read(object, CKA_ID));
    EXPECT_EQ(identity.Id.size(), 20u);
    EXPECT_EQ(identity.Label, FromText("PFX Alice"));
    EXPECT_EQ(identity.Subject, certificate.Subject());
    EXPECT_EQ(Read(object, CKA_VALUE), ReadFixture(L"imp_ee.der"));
}

}  // namespace
