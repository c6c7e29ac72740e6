#include <gtest/gtest.h>

#include <cstring>

#include "objects/CertificateName.h"
#include "objects/ObjectRow.h"
#include "objects/ObjectText.h"
#include "support/TestFiles.h"

namespace {

TEST(ObjectTypeText, ByClassAndKeyType) {
    const struct {
        CK_OBJECT_CLASS objectClass;
        CK_KEY_TYPE keyType;
        const char* text;
    } cases[] = {
        {CKO_DATA, CKK_AES, "Data object"},  // key type plays no part
        {CKO_CERTIFICATE, 0, "Digital certificate"},
        {CKO_PUBLIC_KEY, CKK_RSA, "RSA Public key"},
        {CKO_PUBLIC_KEY, CKK_EC, "EC Public key"},
        {CKO_PUBLIC_KEY, CKK_DSA, "Unknown Public key"},
        {CKO_PRIVATE_KEY, CKK_RSA, "RSA private key"},
        {CKO_PRIVATE_KEY, CKK_EC, "EC private key"},
        {CKO_PRIVATE_KEY, CKK_DH, "Unknown private key"},
        {CKO_SECRET_KEY, CKK_GENERIC_SECRET, "Generic Secret key"},
        {CKO_SECRET_KEY, CKK_DES, "DES Secret key"},
        {CKO_SECRET_KEY, CKK_DES3, "DES3 Secret key"},
        {CKO_SECRET_KEY, CKK_AES, "AES Secret key"},
        {CKO_SECRET_KEY, CKK_RSA, "Unknown Secret key"},
        {CKO_HW_FEATURE, 0, "Unknown object type"},
        {CKO_VENDOR_DEFINED, CKK_RSA, "Unknown object type"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(ObjectTypeText(c.objectClass, c.keyType), c.text)
            << "class " << c.objectClass << " key type " << c.keyType;
}

TEST(EcKeySizeFromParams, KnownCurvesUnknownCurvesAndPrefixes) {
    const unsigned char prime256v1[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
    const unsigned char secp521r1[] = {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x23};
    const unsigned char brainpool512[] = {0x06, 0x09, 0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x0D};
    const unsigned char wtls12[] = {0x06, 0x05, 0x67, 0x2B, 0x01, 0x04, 0x0C};
    const unsigned char ed25519[] = {0x06, 0x03, 0x2B, 0x65, 0x70};
    CK_ULONG bits = 7;
    EXPECT_EQ(EcKeySizeFromParams(prime256v1, sizeof prime256v1, &bits), 0);
    EXPECT_EQ(bits, 256u);
    EXPECT_EQ(EcKeySizeFromParams(secp521r1, sizeof secp521r1, &bits), 0);
    EXPECT_EQ(bits, 521u);
    EXPECT_EQ(EcKeySizeFromParams(brainpool512, sizeof brainpool512, &bits), 0);
    EXPECT_EQ(bits, 512u);
    EXPECT_EQ(EcKeySizeFromParams(wtls12, sizeof wtls12, &bits), 0);
    EXPECT_EQ(bits, 224u);

    bits = 7;
    EXPECT_EQ(EcKeySizeFromParams(ed25519, sizeof ed25519, &bits), 1);
    EXPECT_EQ(bits, 7u) << "no match leaves the size alone";
    EXPECT_EQ(EcKeySizeFromParams(prime256v1, CK_UNAVAILABLE_INFORMATION, &bits), 1);
    EXPECT_EQ(bits, 7u);

    // Only the returned length is compared: the first entry that starts the
    // same way wins (06 08 2A 86 48 CE 3D 03 01 is prime192v1's start).
    EXPECT_EQ(EcKeySizeFromParams(prime256v1, 9, &bits), 0);
    EXPECT_EQ(bits, 192u);
}

TEST(ObjectText, HexAndLabels) {
    const unsigned char id[] = {0x0A, 0xFF, 0x00, 0x9c};
    EXPECT_EQ(HexText(id, sizeof id), "0AFF009C");
    EXPECT_EQ(HexText(id, 0), "");

    const char utf8[] = "\xC3\x85sa";  // "Åsa"
    EXPECT_EQ(LabelText(reinterpret_cast<const unsigned char*>(utf8), 4), L"\u00C5sa");
    // Not UTF-8: every byte becomes the character of the same value.
    const unsigned char latin1[] = {'K', 0xF6, 'r', 0xE9};
    EXPECT_EQ(LabelText(latin1, sizeof latin1), L"K\u00F6r\u00E9");
    EXPECT_EQ(LabelText(latin1, 0), L"");
}

ObjectAttributes Object(CK_OBJECT_CLASS objectClass, CK_KEY_TYPE keyType) {
    ObjectAttributes object;
    object.objectClass = objectClass;
    object.keyType = keyType;
    object.idRead = objectClass != CKO_DATA;
    object.id.length = 0;
    object.label.length = 0;
    return object;
}

void SetId(ObjectAttributes* object, std::initializer_list<unsigned char> bytes) {
    std::copy(bytes.begin(), bytes.end(), object->id.Buffer());
    object->id.length = static_cast<CK_ULONG>(bytes.size());
}

TEST(BuildObjectRow, KeysShowTheirSizesAndIds) {
    ObjectAttributes rsaPublic = Object(CKO_PUBLIC_KEY, CKK_RSA);
    rsaPublic.modulusBits = 2048;
    SetId(&rsaPublic, {0x0A, 0xFF});
    ObjectRowCells cells = BuildObjectRow(17, rsaPublic, L"ignored");
    const ObjectRowCells expected = {L"17", L"RSA Public key", L"N/A", L"No", L"", L"0AFF", L"N/A", L"2048"};
    EXPECT_EQ(cells, expected);
    EXPECT_EQ(KeyIdTextOf(rsaPublic), "0AFF");

    ObjectAttributes rsaPrivate = Object(CKO_PRIVATE_KEY, CKK_RSA);
    rsaPrivate.isPrivate = CK_TRUE;
    rsaPrivate.extractable = CK_TRUE;
    rsaPrivate.modulusBits = 2048;
    cells = BuildObjectRow(18, rsaPrivate, L"");
    EXPECT_EQ(cells[3], L"Yes");
    EXPECT_EQ(cells[6], L"Yes");
    EXPECT_EQ(cells[7], L"N/A") << "a private RSA key shows no length";

    ObjectAttributes ecPrivate = Object(CKO_PRIVATE_KEY, CKK_EC);
    ecPrivate.ecKeySize = 256;
    EXPECT_EQ(BuildObjectRow(1, ecPrivate, L"")[7], L"256");
    EXPECT_EQ(BuildObjectRow(1, ecPrivate, L"")[1], L"EC private key");

    ObjectAttributes aes = Object(CKO_SECRET_KEY, CKK_AES);
    aes.valueLength = 32;
    cells = BuildObjectRow(2, aes, L"");
    EXPECT_EQ(cells[7], L"32") << "secret keys show their byte count";
    EXPECT_EQ(cells[6], L"No");
    EXPECT_EQ(KeyIdTextOf(aes), "") << "only public and private keys go to the key-ID table";

    ObjectAttributes dsa = Object(CKO_PUBLIC_KEY, CKK_DSA);
    EXPECT_EQ(BuildObjectRow(3, dsa, L"")[7], L"N/A");
}

TEST(BuildObjectRow, CertificatesDataAndOtherClasses) {
    ObjectAttributes certificate = Object(CKO_CERTIFICATE, 0);
    SetId(&certificate, {0x01});
    const char label[] = "my cert";
    memcpy(certificate.label.Buffer(), label, 7);
    certificate.label.length = 7;
    const ObjectRowCells expected = {L"5", L"Digital certificate", L"Alice", L"No", L"my cert",
                                     L"01", L"N/A", L"N/A"};
    EXPECT_EQ(BuildObjectRow(5, certificate, L"Alice"), expected);
    EXPECT_EQ(KeyIdTextOf(certificate), "");

    ObjectAttributes data = Object(CKO_DATA, 0);
    const ObjectRowCells dataRow = {L"6", L"Data object", L"N/A", L"No", L"", L"N/A", L"No", L"N/A"};
    EXPECT_EQ(BuildObjectRow(6, data, L""), dataRow);

    // A class the list does not know: its ID is never read, the cell stays empty.
    ObjectAttributes other = Object(CKO_HW_FEATURE, 0);
    other.idRead = false;
    other.id.length = other.id.Capacity();
    EXPECT_EQ(BuildObjectRow(7, other, L"")[5], L"");
    EXPECT_EQ(BuildObjectRow(7, other, L"")[1], L"Unknown object type");
}

TEST(BuildObjectRow, MissingAndLongIds) {
    ObjectAttributes key = Object(CKO_PRIVATE_KEY, CKK_RSA);
    key.id.length = CK_UNAVAILABLE_INFORMATION;
    EXPECT_EQ(BuildObjectRow(1, key, L"")[5], L"");
    EXPECT_EQ(KeyIdTextOf(key), "");

    // A 20-byte ID gives 40 digits, 100 bytes all 200; an ID read into a
    // buffer sized to it gives all its digits, in the cell and the table.
    // A module that answers a length beyond the buffer (CKR_OK all the
    // same) gets the digits of what the buffer holds.
    const struct {
        CK_ULONG buffer;  // 0: the usual one
        CK_ULONG length;  // as the module answered
        size_t digits;
    } rows[] = {{0, 20, 40}, {0, 100, 200}, {0, 300, 200}, {120, 120, 240}, {5000, 5000, 10000}};
    for (const auto& row : rows) {
        if (row.buffer) {
            ASSERT_TRUE(key.id.Resize(row.buffer));
        }
        for (CK_ULONG i = 0; i < key.id.Capacity(); ++i)
            key.id.Buffer()[i] = static_cast<unsigned char>(0xA0 + i % 16);
        key.id.length = row.length;
        EXPECT_EQ(BuildObjectRow(1, key, L"")[5].size(), row.digits) << row.length;
        EXPECT_EQ(KeyIdTextOf(key).size(), row.digits) << row.length;
        EXPECT_EQ(KeyIdTextOf(key).substr(0, 4), "A0A1");
    }
    EXPECT_FALSE(key.id.Resize(VariableValue::kMaxSize + 1)) << "no memory for a length past every bound";
}

// Replaces every string value `from` of the DER with `tag` and `to` (same length).
std::vector<unsigned char> PatchString(std::vector<unsigned char> der, const std::string& from,
                                       unsigned char tag, const std::vector<unsigned char>& to) {
    EXPECT_EQ(from.size(), to.size());
    for (size_t i = 2; i + from.size() <= der.size(); ++i) {
        if (der[i - 1] == from.size() && memcmp(&der[i], from.data(), from.size()) == 0) {
            der[i - 2] = tag;
            std::copy(to.begin(), to.end(), der.begin() + static_cast<long>(i));
        }
    }
    return der;
}

TEST(CommonNameFromCertificate, ReadsTheLastCommonNameOfTheSubject) {
    EXPECT_EQ(CommonNameFromCertificate(ReadFixture(L"cn_simple.der")), L"Alice Example");
    EXPECT_EQ(CommonNameFromCertificate(ReadFixture(L"cn_two.der")), L"ZZZZZZZZ");
    EXPECT_EQ(CommonNameFromCertificate(ReadFixture(L"cn_none.der")), L"");
    EXPECT_EQ(CommonNameFromCertificate(ReadFixture(L"cn_utf8.der")), L"\u00C5sa \u00D6berg \u0133");
}

TEST(CommonNameFromCertificate, StringTypesAreReadAsTheTextTheyHold) {
    const std::vector<unsigned char> der = ReadFixture(L"cn_two.der");
    ASSERT_FALSE(der.empty()) << "fixture missing";
    // BMPString: UTF-16BE "Öl€Z".
    auto bmp = PatchString(der, "ZZZZZZZZ", 0x1E, {0x00, 0xD6, 0x00, 0x6C, 0x20, 0xAC, 0x00, 0x5A});
    EXPECT_EQ(CommonNameFromCertificate(bmp), L"\u00D6l\u20ACZ");
    // UniversalString: UTF-32BE "é" and a character beyond the BMP. Known
    // platform difference: Wine 8's decoder refuses UniversalString in a
    // Name, so the subject cannot be read there and the name stays empty.
    auto universal = PatchString(der, "ZZZZZZZZ", 0x1C, {0x00, 0x00, 0x00, 0xE9, 0x00, 0x01, 0xF5, 0x11});
    EXPECT_EQ(CommonNameFromCertificate(universal), RunningUnderWine() ? L"" : L"\u00E9\U0001F511");
    // PrintableString: plain ASCII.
    auto printable = PatchString(der, "ZZZZZZZZ", 0x13, {'P', 'r', 'i', 'n', 't', 'a', 'b', 'l'});
    EXPECT_EQ(CommonNameFromCertificate(printable), L"Printabl");
    // T61String holding UTF-8 bytes is read as UTF-8.
    auto t61 = PatchString(der, "ZZZZZZZZ", 0x14, {0xC3, 0xA9, 't', 'e', ' ', 'a', 'b', 'c'});
    EXPECT_EQ(CommonNameFromCertificate(t61), L"\u00E9te abc");
}

TEST(CommonNameFromCertificate, BrokenInputGivesAnEmptyName) {
    std::vector<unsigned char> der = ReadFixture(L"cn_simple.der");
    ASSERT_FALSE(der.empty());
    EXPECT_EQ(CommonNameFromCertificate({}), L"");
    EXPECT_EQ(CommonNameFromCertificate(std::vector<unsigned char>(der.begin(), der.begin() + 100)), L"");
    EXPECT_EQ(CommonNameFromCertificate(std::vector<unsigned char>(300, 0x30)), L"");
}

}  // namespace
