// The hostile files that did harm, made by hand: a certificate with an empty
// BIT STRING (Wine's decoder wrote past its heap block), a PFX whose
// certificate fails to decode after the platform has placed its key in a
// container (the container stayed), and the special files: empty, tiny,
// nothing but a huge declared length, and very large.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <functional>

#include "../import/ImportTestSupport.h"
#include "HostileFiles.h"
#include "RobustnessSupport.h"
#include "app/AppState.h"
#include "objects/DerStructure.h"
#include "import/ImportCertificate.h"
#include "import/ImportPfx.h"
#include "import/PfxImportState.h"
#include "support/TestFiles.h"

namespace {

// Positions inside a certificate's elements: certificate > TBSCertificate > field.
constexpr size_t kTbs = 0;
constexpr size_t kSignature = 2;
constexpr size_t kSubjectPublicKey = 1;
constexpr size_t kValidity = 4;
constexpr size_t kNotAfter = 1;
constexpr size_t kSubjectPublicKeyInfo = 6;

std::vector<DerElement> Parsed(const Bytes& der) {
    std::vector<DerElement> elements;
    EXPECT_TRUE(ParseDer(der, &elements));
    return elements;
}

// The first element anywhere in `elements` whose encoding is `wanted`.
DerElement* FindEncoded(std::vector<DerElement>* elements, const Bytes& wanted) {
    for (DerElement& element : *elements) {
        if (EncodeDer({element}) == wanted)
            return &element;
        if (element.HasChildren)
            if (DerElement* found = FindEncoded(&element.Children, wanted))
                return found;
    }
    return nullptr;
}

// "03 00": not even the unused-bits octet.
DerElement EmptyBitString() {
    DerElement element;
    element.Tag = {0x03};
    return element;
}

void OverrideLength(DerElement* element, const Bytes& octets) {
    element->OverrideLength = true;
    element->LengthOctets = octets;
}

class MalformedImportTest : public ImportTokenTest {
protected:
    void SetUp() override {
        ImportTokenTest::SetUp();
        LoginUser();
        file_ = folder_.File(L"malformed.bin");
    }

    size_t ObjectCount() {
        return Objects(CKO_CERTIFICATE).size() + Objects(CKO_PUBLIC_KEY).size() + Objects(CKO_PRIVATE_KEY).size();
    }

    long long ImportCertificateBytes(const Bytes& file) {
        EXPECT_TRUE(WriteFileBytes(file_, file));
        return ImportCertificate(kImportSlot, file_.c_str(), nullptr, nullptr);
    }

    long long ImportPfxBytes(const Bytes& file) {
        EXPECT_TRUE(WriteFileBytes(file_, file));
        PfxImportState = PfxImportStateRecord();
        wcsncpy(PfxImportState.PfxFilePath, file_.c_str(), kPfxPathCapacity - 1);
        PfxImportState.DialogSlot = kImportSlot;
        return ImportPfx(L"secret");
    }

    TempFolder folder_;
    std::wstring file_;
    std::string currentCase_;
};

TEST(DerStructureTest, OnlyConsistentNestingPasses) {
    const Bytes certificate = ReadFixture(L"cn_simple.der");
    Bytes trailing = certificate;
    trailing.insert(trailing.end(), {'\r', '\n'});
    const struct {
        const char* what;
        Bytes der;
        bool sound;
    } rows[] = {
        {"a certificate", certificate, true},
        // What follows the certificate is left to the decoder, as before.
        {"a certificate with a line break after it", trailing, true},
        {"an empty SEQUENCE", {0x30, 0x00}, true},
        {"a primitive element", {0x04, 0x02, 0x30, 0x05}, true},
        {"nothing", {}, false},
        {"a tag alone", {0x30}, false},
        {"content shorter than declared", {0x30, 0x03, 0x02, 0x01}, false},
        // The element that corrupted Wine's heap: a SEQUENCE ending inside its child.
        {"a SEQUENCE that ends inside its child", {0x30, 0x01, 0x30, 0x03, 0x02, 0x01, 0x05}, false},
        {"a child longer than its parent", {0x30, 0x03, 0x02, 0x05, 0x01, 0x02, 0x03, 0x04, 0x05}, false},
        {"an indefinite length", {0x30, 0x80, 0x02, 0x01, 0x01, 0x00, 0x00}, false},
        {"five length octets", {0x30, 0x85, 0x00, 0x00, 0x00, 0x00, 0x00}, false},
        {"a huge declared length", {0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}, false},
        {"an empty BIT STRING", {0x30, 0x02, 0x03, 0x00}, false},
        {"a BIT STRING with 8 unused bits", {0x30, 0x04, 0x03, 0x02, 0x08, 0xFF}, false},
        {"unused bits but no bits", {0x30, 0x03, 0x03, 0x01, 0x01}, false},
        {"a BIT STRING with 7 unused bits", {0x30, 0x04, 0x03, 0x02, 0x07, 0x80}, true},
        {"a BOOLEAN of two octets", {0x30, 0x04, 0x01, 0x02, 0xFF, 0xFF}, false},
        {"a NULL with content", {0x30, 0x03, 0x05, 0x01, 0x00}, false},
        {"an empty INTEGER", {0x30, 0x02, 0x02, 0x00}, false},
        {"an OBJECT IDENTIFIER that stops inside an arc", {0x30, 0x03, 0x06, 0x01, 0x86}, false},
        {"a high tag number without end", {0x3F, 0x81, 0x81, 0x81, 0x81, 0x81, 0x00}, false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(HasSoundDerStructure(row.der.data(), row.der.size()), row.sound) << row.what;

    // 200 SEQUENCEs each inside the one before: deeper than any certificate.
    Bytes nested = {0x05, 0x00};
    for (int level = 0; level < 200; ++level) {
        const size_t size = nested.size();
        Bytes header = {0x30};
        if (size < 0x80)
            header.push_back(static_cast<unsigned char>(size));
        else
            header.insert(header.end(), {0x82, static_cast<unsigned char>(size >> 8), static_cast<unsigned char>(size)});
        nested.insert(nested.begin(), header.begin(), header.end());
    }
    EXPECT_FALSE(HasSoundDerStructure(nested.data(), nested.size())) << "200 levels of nesting";
}

// The platform's decoder is handed only what DER allows: each row damages
// cn_simple.der, given as DER and as PEM.
TEST_F(MalformedImportTest, ForbiddenStructuresAreRefusedWithoutHarm) {
    ReportCrashingCase(&currentCase_);
    const struct {
        const char* what;
        std::function<void(DerElement*)> damage;
    } rows[] = {
        // Wine's decoder damaged the heap with these two.
        {"a signature BIT STRING without content",
         [](DerElement* c) { c->Children[kSignature] = EmptyBitString(); }},
        {"a public key BIT STRING without content",
         [](DerElement* c) {
             c->Children[kTbs].Children[kSubjectPublicKeyInfo].Children[kSubjectPublicKey] = EmptyBitString();
         }},
        {"a key info that ends inside its first element",
         [](DerElement* c) { OverrideLength(&c->Children[kTbs].Children[kSubjectPublicKeyInfo], {0x01}); }},
        {"a key info whose first element is longer than itself",
         [](DerElement* c) {
             OverrideLength(&c->Children[kTbs].Children[kSubjectPublicKeyInfo].Children[0], {0x81, 0xF0});
         }},
        {"a key info that declares more than the certificate holds",
         [](DerElement* c) { OverrideLength(&c->Children[kTbs].Children[kSubjectPublicKeyInfo], {0x82, 0x01, 0x40}); }},
    };
    for (const auto& row : rows) {
        std::vector<DerElement> certificate = Parsed(ReadFixture(L"cn_simple.der"));
        row.damage(&certificate[0]);
        const Bytes der = EncodeDer(certificate);
        const std::string pem = ToPem(der, "CERTIFICATE", true);
        for (const Bytes& file : {der, Bytes(pem.begin(), pem.end())}) {
            currentCase_ = row.what;
            EXPECT_EQ(ImportCertificateBytes(file), kNotCertificate) << row.what;
            EXPECT_TRUE(ProcessHeapsAreIntact()) << row.what << ": the heap was damaged";
        }
    }
    ReportCrashingCase(nullptr);
    EXPECT_EQ(ObjectCount(), 0u);
}

TEST_F(MalformedImportTest, PfxWhoseCertificateFailsLeavesNoKeyContainer) {
    // The certificate inside the PFX gets a length in a form DER forbids: the
    // PKCS #12 parser takes it, the certificate decoder then refuses it,
    // after the key went into its container.
    std::vector<DerElement> pfx = Parsed(ReadRobustnessFixture(L"rb_open.pfx"));
    DerElement* certificate = FindEncoded(&pfx, ReadRobustnessFixture(L"rb_rsa.der"));
    ASSERT_TRUE(certificate) << "the certificate inside the PFX";
    OverrideLength(&certificate->Children[kTbs].Children[kValidity].Children[kNotAfter], {0x83, 0x00, 0x00, 0x0D});

    const std::set<std::string> before = KeyContainerNames();
    EXPECT_EQ(ImportPfxBytes(EncodeDer(pfx)), kPfxNotOpened);
    for (const std::string& name : KeyContainerNames())
        EXPECT_TRUE(before.count(name)) << "the temporary key container " << name << " stayed";
    EXPECT_EQ(ObjectCount(), 0u);

    // The same PFX unharmed imports, and leaves no container either.
    EXPECT_EQ(ImportPfxBytes(ReadRobustnessFixture(L"rb_open.pfx")), kPfxImported);
    EXPECT_EQ(ObjectCount(), 3u);
    for (const std::string& name : KeyContainerNames())
        EXPECT_TRUE(before.count(name)) << "the temporary key container " << name << " stayed";
}

TEST_F(MalformedImportTest, SpecialFilesAreRefused) {
    const Bytes certificate = ReadFixture(L"cn_simple.der");
    Bytes veryLarge(48u << 20, 0);  // 48 MiB: a certificate followed by zeros
    std::copy(certificate.begin(), certificate.end(), veryLarge.begin());
    std::string pemHeaderOnly = "-----BEGIN CERTIFICATE-----\r\n" + std::string(24u << 20, 'A');
    const struct {
        const char* what;
        Bytes file;
        long long certificateResult;
    } rows[] = {
        {"an empty file", {}, kNotCertificate},
        {"one byte", {0x30}, kNotCertificate},
        {"a huge declared length alone", {0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF}, kNotCertificate},
        {"100000 indefinite SEQUENCEs", [] { Bytes b; for (int i = 0; i < 100000; ++i) b.insert(b.end(), {0x30, 0x80}); return b; }(), kNotCertificate},
        {"24 MiB of Base64 without an end line", Bytes(pemHeaderOnly.begin(), pemHeaderOnly.end()), kNotCertificate},
        // Refused for its size before it is read, certificate or not.
        {"48 MiB starting with a certificate", veryLarge, kNotCertificate},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ImportCertificateBytes(row.file), row.certificateResult) << row.what;
        EXPECT_EQ(ImportPfxBytes(row.file), kPfxInvalid) << row.what;
        EXPECT_TRUE(ProcessHeapsAreIntact()) << row.what;
    }
}

}  // namespace
