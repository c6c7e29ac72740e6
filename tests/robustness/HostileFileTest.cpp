// Hostile certificate, PEM and PFX files through the certificate import and
// the PFX import onto a software token: every file is either stored or
// refused with its result code, no import crashes or hangs, a refused file
// leaves no more on the token than the import allows, and no temporary key
// container outlives a PFX import. The files are mutations of openssl-made
// seeds with a fixed seed, so every run feeds the same files.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "../import/ImportTestSupport.h"
#include "HostileFiles.h"
#include "RobustnessSupport.h"
#include "app/AppState.h"
#include "import/ImportCertificate.h"
#include "import/ImportPfx.h"
#include "import/PfxImportState.h"
#include "support/TestProgress.h"
#include "support/TestFiles.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kSeed = 0x70C3A11EC0FFEE11ull;
// How many files each kind of import gets. The PFX import costs the most
// under Wine (the platform's PKCS #12 code and a key container per key), so
// it gets fewer files than the certificate import.
constexpr int kDerFiles = 4800;
constexpr int kPemFiles = 1700;
constexpr int kPfxFiles = 3500;
// A fresh token replaces the test's token once it holds this many objects.
constexpr size_t kObjectsBeforeFreshToken = 60;
// One import taking longer than this counts as a hang.
constexpr double kHangSeconds = 5.0;

const wchar_t* const kDerSeeds[] = {
    L"cn_simple.der", L"cn_two.der",        L"cn_none.der",       L"imp_bmp.der", L"imp_serial1.der",
    L"imp_serial_long.der", L"imp_cn_long.der", L"imp_name_big.der", L"imp_ee.der",
};
const wchar_t* const kRobustDerSeeds[] = {L"rb_ext.der", L"rb_ec.der", L"rb_rsa.der"};
const wchar_t* const kPfxSeeds[] = {
    L"rb_open.pfx", L"rb_open_chain.pfx", L"rb_open_ec.pfx", L"rb_open_keyonly.pfx",
    L"rb_open_certonly.pfx", L"rb_plain.pfx", L"rb_sealed.pfx",
};
const char* const kPemLabels[] = {"CERTIFICATE", "X509 CERTIFICATE", "TRUSTED CERTIFICATE"};

// What a run fed and what came back, for the report.
class Tally {
public:
    void Add(const std::string& what, long long result, double seconds, const std::string& label) {
        ++results_[what + " " + std::to_string(result)];
        ++files_;
        total_ += seconds;
        if (seconds > slowest_) {
            slowest_ = seconds;
            slowestLabel_ = label;
        }
    }
    void Print(const char* title) const {
        printf("%s: %d imports in %.1f s, slowest %.3f s (%s)\n", title, files_, total_, slowest_,
               slowestLabel_.c_str());
        for (const auto& entry : results_)
            printf("  %-28s %6d\n", entry.first.c_str(), entry.second);
        fflush(stdout);
    }
    double Slowest() const { return slowest_; }
    const std::string& SlowestLabel() const { return slowestLabel_; }

private:
    std::map<std::string, int> results_;
    int files_ = 0;
    double total_ = 0;
    double slowest_ = 0;
    std::string slowestLabel_;
};

// The objects on the token, by class.
struct Census {
    std::set<CK_OBJECT_HANDLE> Certificates, PublicKeys, PrivateKeys;

    size_t Total() const { return Certificates.size() + PublicKeys.size() + PrivateKeys.size(); }
};

std::set<CK_OBJECT_HANDLE> Added(const std::set<CK_OBJECT_HANDLE>& before, const std::set<CK_OBJECT_HANDLE>& after) {
    std::set<CK_OBJECT_HANDLE> added;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::inserter(added, added.end()));
    return added;
}

// The results the certificate import may give a file that exists.
bool IsCertificateImportResult(long long result) {
    CK_RV rv = 0;
    switch (result) {
    case kCertificateStored:
    case kFileIsPfx:
    case kNotCertificate:
    case kSubjectNotDecoded:
    case kSubjectNotEncoded:
    case kIssuerNotDecoded:
    case kIssuerNotEncoded:
        return true;
    default:
        return IsCryptokiFailure(result, &rv);
    }
}

// The results the PFX import may give a file that exists.
bool IsPfxImportResult(long long result) {
    switch (result) {
    case kPfxImported:
    case kPfxInvalid:
    case kPfxNotOpened:
    case kPfxKeyNotExported:
    case kPfxKeyNotFound:
    case kPfxContainerNotOpened:
        return true;
    default:
        return IsCertificateImportResult(result) && result != kCertificateStored && result != kFileIsPfx;
    }
}

class HostileFileTest : public ImportTokenTest {
protected:
    void SetUp() override {
        ImportTokenTest::SetUp();
        MakeFreshToken();
        file_ = folder_.File(L"hostile.bin");
        ReportCrashingCase(&currentCase_);
    }
    void TearDown() override { ReportCrashingCase(nullptr); }

    Census TakeCensus() {
        Census census;
        for (CK_OBJECT_HANDLE h : Objects(CKO_CERTIFICATE))
            census.Certificates.insert(h);
        for (CK_OBJECT_HANDLE h : Objects(CKO_PUBLIC_KEY))
            census.PublicKeys.insert(h);
        for (CK_OBJECT_HANDLE h : Objects(CKO_PRIVATE_KEY))
            census.PrivateKeys.insert(h);
        return census;
    }

    // Keeps the token small, so that every save stays quick: a fresh token
    // once some objects have gathered costs less than deleting each.
    void KeepTokenSmall(const Census& after) {
        if (after.Total() >= kObjectsBeforeFreshToken)
            MakeFreshToken();
    }

    void MakeFreshToken() {
        SoftTokenParams params = {};
        params.label = "Hostile files";
        params.serial = "H0001";
        params.userPin = kTestUserPin;
        // Room for the biggest mutant, so that storing is tried, not refused for size.
        params.capacity = 8 << 20;
        ASSERT_TRUE(store_.AddToken(kImportSlot, params));
        // The module closes the sessions of the token it no longer finds.
        ASSERT_TRUE(store_.OpenSession(kImportSlot));
        LoginUser();
    }

    // Rewrites the one case file in place: under Wine this costs a third of
    // making the file anew.
    bool WriteCase(const Bytes& file, const std::string& label) {
        currentCase_ = label;
        HANDLE handle = CreateFileW(file_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return false;
        DWORD written = 0;
        const bool ok = (file.empty() || (WriteFile(handle, file.data(), static_cast<DWORD>(file.size()), &written,
                                                    nullptr) &&
                                          written == file.size())) &&
                        SetEndOfFile(handle);
        CloseHandle(handle);
        return ok;
    }

    // One file through the certificate import, as the "Import Cert/PFX"
    // command runs it.
    long long FeedCertificateFile(const Bytes& file, const std::string& label, Tally* tally) {
        TestMadeProgress();  // each file is a case of its own for the watchdog
        if (!WriteCase(file, label)) {
            ADD_FAILURE() << label << ": cannot write the file";
            return -1;
        }
        const Census before = TakeCensus();
        const Clock::time_point start = Clock::now();
        const long long result = ImportCertificate(kImportSlot, file_.c_str(), nullptr, nullptr);
        tally->Add("certificate import", result, Seconds(start), label);
        ExpectIntactHeaps(label);
        const Census after = TakeCensus();
        EXPECT_TRUE(IsCertificateImportResult(result)) << label << ": result " << result;
        const size_t expected = before.Total() + (result == kCertificateStored ? 1 : 0);
        EXPECT_EQ(after.Total(), expected) << label << ": result " << result;
        if (result == kCertificateStored)
            ExpectStoredCertificate(Added(before.Certificates, after.Certificates), label);
        KeepTokenSmall(after);
        return result;
    }

    // A stored object holds a value the platform parses as a certificate.
    void ExpectStoredCertificate(const std::set<CK_OBJECT_HANDLE>& added, const std::string& label) {
        ASSERT_EQ(added.size(), 1u) << label;
        const Bytes value = Read(*added.begin(), CKA_VALUE);
        PCCERT_CONTEXT certificate =
            CertCreateCertificateContext(X509_ASN_ENCODING, value.data(), static_cast<DWORD>(value.size()));
        EXPECT_TRUE(certificate) << label << ": the stored value is no certificate";
        if (certificate)
            CertFreeCertificateContext(certificate);
    }

    // One file through the PFX import, as the PFX dialog runs it (also for
    // files the certificate import would not hand over).
    long long FeedPfxFile(const Bytes& file, const std::string& label, Tally* tally) {
        TestMadeProgress();  // each file is a case of its own for the watchdog
        if (!WriteCase(file, label)) {
            ADD_FAILURE() << label << ": cannot write the file";
            return -1;
        }
        const std::set<std::string> containersBefore = KeyContainerNames();
        const Census before = TakeCensus();
        PfxImportState = PfxImportStateRecord();
        wcsncpy(PfxImportState.PfxFilePath, file_.c_str(), kPfxPathCapacity - 1);
        PfxImportState.DialogSlot = kImportSlot;
        PfxImportState.PfxImportChain = true;
        const Clock::time_point start = Clock::now();
        const long long result = ImportPfx(L"secret");
        tally->Add("PFX import", result, Seconds(start), label);
        ExpectIntactHeaps(label);
        const Census after = TakeCensus();
        EXPECT_TRUE(IsPfxImportResult(result)) << label << ": result " << result;
        ExpectPfxObjects(before, after, result, label);
        for (const std::string& name : KeyContainerNames())
            EXPECT_TRUE(containersBefore.count(name)) << label << ": the temporary key container " << name << " stayed";
        KeepTokenSmall(after);
        return result;
    }

    // What a PFX import may leave: nothing when the file was refused before
    // the platform opened it; every private key with its public key and a
    // certificate when it succeeded; when it stopped half way, at most one
    // public key without its private key (a failure storing the private key).
    void ExpectPfxObjects(const Census& before, const Census& after, long long result, const std::string& label) {
        const size_t certificates = after.Certificates.size() - before.Certificates.size();
        const size_t publicKeys = after.PublicKeys.size() - before.PublicKeys.size();
        const size_t privateKeys = after.PrivateKeys.size() - before.PrivateKeys.size();
        const std::string detail = label + ": result " + std::to_string(result) + ", added " +
                                   std::to_string(certificates) + "/" + std::to_string(publicKeys) + "/" +
                                   std::to_string(privateKeys);
        if (result == kPfxInvalid || result == kPfxNotOpened) {
            EXPECT_EQ(after.Total(), before.Total()) << detail;
            return;
        }
        EXPECT_GE(certificates, publicKeys) << detail;
        if (result == kPfxImported)
            EXPECT_EQ(publicKeys, privateKeys) << detail;
        else
            EXPECT_TRUE(publicKeys == privateKeys || publicKeys == privateKeys + 1) << detail;
    }

    // A corrupted heap fails here, at the file that did it, rather than as
    // a crash some files later.
    void ExpectIntactHeaps(const std::string& label) {
        if (!ProcessHeapsAreIntact())
            FAIL() << label << ": the import damaged the process heap";
    }

    static double Seconds(Clock::time_point start) {
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    void ExpectNoHang(const Tally& tally) {
        EXPECT_LT(tally.Slowest(), kHangSeconds) << "slowest file: " << tally.SlowestLabel();
    }

    TempFolder folder_;
    std::wstring file_;
    std::string currentCase_;
};

std::string CaseLabel(const char* what, const std::wstring& seed, int index, MutationKind kind) {
    return std::string(what) + " #" + std::to_string(index) + " from " + Narrow(seed) + " (" + MutationName(kind) + ")";
}

// Each file has a random source of its own, so that any one can be made
// again alone from its number.
Random CaseRandom(uint64_t stream, int index) {
    return Random(kSeed ^ (stream << 56) ^ (static_cast<uint64_t>(index) * 0x9E3779B97F4A7C15ull));
}

std::vector<std::pair<std::wstring, Bytes>> CertificateSeeds() {
    std::vector<std::pair<std::wstring, Bytes>> seeds;
    for (const wchar_t* name : kDerSeeds)
        seeds.emplace_back(name, ReadFixture(name));
    for (const wchar_t* name : kRobustDerSeeds)
        seeds.emplace_back(name, ReadRobustnessFixture(name));
    return seeds;
}

TEST_F(HostileFileTest, MutatedDerCertificates) {
    const auto seeds = CertificateSeeds();
    Tally tally;
    for (const auto& seed : seeds) {
        ASSERT_FALSE(seed.second.empty()) << Narrow(seed.first);
        // The seed itself is stored: the harness sees a good file as good.
        EXPECT_EQ(FeedCertificateFile(seed.second, Narrow(seed.first), &tally), kCertificateStored);
    }
    for (int i = 0; i < kDerFiles; ++i) {
        Random random = CaseRandom(1, i);
        const auto& seed = seeds[random.Below(seeds.size())];
        const Mutant mutant = MutateDer(seed.second, random);
        FeedCertificateFile(mutant.File, CaseLabel("DER", seed.first, i, mutant.Kind), &tally);
        if (HasFailure())
            break;
    }
    tally.Print("DER certificate files");
    ExpectNoHang(tally);
}

TEST_F(HostileFileTest, MutatedPemCertificates) {
    const auto seeds = CertificateSeeds();
    Tally tally;
    for (int i = 0; i < kPemFiles; ++i) {
        Random random = CaseRandom(2, i);
        const auto& seed = seeds[random.Below(seeds.size())];
        // Half keep a good certificate inside and damage only the text.
        const Mutant mutant = random.OneIn(2) ? Mutant{seed.second, MutationKind::Count} : MutateDer(seed.second, random);
        const std::string pem = DamagePem(
            ToPem(mutant.File, kPemLabels[random.Below(std::size(kPemLabels))], random.OneIn(2)), random);
        const std::string label = mutant.Kind == MutationKind::Count
                                      ? "PEM #" + std::to_string(i) + " from " + Narrow(seed.first) + " (text only)"
                                      : CaseLabel("PEM", seed.first, i, mutant.Kind);
        FeedCertificateFile(Bytes(pem.begin(), pem.end()), label, &tally);
        if (HasFailure())
            break;
    }
    tally.Print("PEM certificate files");
    ExpectNoHang(tally);
}

TEST_F(HostileFileTest, MutatedPfxFiles) {
    std::vector<std::pair<std::wstring, Bytes>> seeds;
    for (const wchar_t* name : kPfxSeeds)
        seeds.emplace_back(name, ReadRobustnessFixture(name));
    Tally certificateTally, pfxTally;
    for (const auto& seed : seeds) {
        ASSERT_FALSE(seed.second.empty()) << Narrow(seed.first);
        EXPECT_EQ(FeedCertificateFile(seed.second, Narrow(seed.first), &certificateTally), kFileIsPfx)
            << Narrow(seed.first);
        FeedPfxFile(seed.second, Narrow(seed.first), &pfxTally);
    }
    for (int i = 0; i < kPfxFiles; ++i) {
        Random random = CaseRandom(3, i);
        const auto& seed = seeds[random.Below(seeds.size())];
        const Mutant mutant = MutateDer(seed.second, random);
        const std::string label = CaseLabel("PFX", seed.first, i, mutant.Kind);
        // The command decides whether the file goes to the PFX dialog; a
        // tenth of the files take that way too.
        if (i % 10 == 0)
            FeedCertificateFile(mutant.File, label, &certificateTally);
        FeedPfxFile(mutant.File, label, &pfxTally);
        if (HasFailure())
            break;
    }
    certificateTally.Print("PFX files, certificate import");
    pfxTally.Print("PFX files, PFX import");
    ExpectNoHang(pfxTally);
}

}  // namespace
