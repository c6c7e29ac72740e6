// The signer's copies of a private key: every block of this program's heap
// that is freed while a watch runs is looked at just before it goes back,
// and one that still holds a piece of a watched secret is counted. So a
// copy of an RSA prime that was freed without being wiped is found however
// the heap reuses the memory afterwards.
#include "SoftTokenFixture.h"

#include "Crypto.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// The watched secrets are kept masked, so the watch's own copy never
// matches.
constexpr unsigned char kMask = 0xA5;
constexpr size_t kPiece = 16;  // bytes of a secret in a row that count as a copy

std::atomic<bool> watching{false};
std::atomic<int> unwipedFrees{0};
std::vector<Bytes>* maskedSecrets = nullptr;

bool HoldsPieceAt(const unsigned char* at, const Bytes& masked, size_t offset) {
    for (size_t i = 0; i < kPiece; ++i)
        if ((at[i] ^ kMask) != masked[offset + i])
            return false;
    return true;
}

bool HoldsWatchedSecret(const unsigned char* block, size_t size) {
    for (const Bytes& masked : *maskedSecrets)
        for (size_t offset = 0; offset + kPiece <= masked.size(); offset += kPiece)
            for (size_t at = 0; at + kPiece <= size; ++at)
                if (HoldsPieceAt(block + at, masked, offset))
                    return true;
    return false;
}

void InspectFreedBlock(void* block) {
    if (!block || !watching.load())
        return;
    if (HoldsWatchedSecret(static_cast<const unsigned char*>(block), _msize(block)))
        ++unwipedFrees;
}

// Watches frees for its lifetime; one at a time.
class FreedSecretWatch {
public:
    explicit FreedSecretWatch(const std::vector<const Bytes*>& secrets) {
        for (const Bytes* secret : secrets) {
            Bytes masked(*secret);
            for (unsigned char& byte : masked)
                byte ^= kMask;
            masked_.push_back(masked);
        }
        maskedSecrets = &masked_;
        unwipedFrees = 0;
        watching = true;
    }
    ~FreedSecretWatch() {
        watching = false;
        maskedSecrets = nullptr;
    }
    int UnwipedFrees() const { return unwipedFrees.load(); }

private:
    std::vector<Bytes> masked_;
};

// Makes a signer from `key`, signs once and drops the signer.
void SignOnceWith(const softtoken::crypto::RsaKeyParts& key) {
    using namespace softtoken::crypto;
    std::shared_ptr<RsaSigner> signer;
    ASSERT_EQ(CKR_OK, RsaSigner::Create(key, &signer));
    Bytes signature;
    ASSERT_EQ(CKR_OK, signer->SignDigest(HashAlg::Sha256, Bytes(32, 0x5A), &signature));
    EXPECT_EQ(key.modulus.size(), signature.size());
}

TEST(SignerWipeTest, NoCopyOfThePrimesIsFreedUnwiped) {
    softtoken::crypto::RsaKeyParts key;
    ASSERT_EQ(CKR_OK, softtoken::crypto::GenerateRsa(1024, Bytes{0x01, 0x00, 0x01}, &key));
    const struct {
        const char* what;
        void (*run)(const softtoken::crypto::RsaKeyParts& key);
        int unwiped;
    } rows[] = {
        // The watch itself: a plain copy freed as it is, is seen.
        {"a copy left as it is", [](const softtoken::crypto::RsaKeyParts& k) { Bytes copy(k.prime2); }, 1},
        {"a signer made, used and dropped", [](const softtoken::crypto::RsaKeyParts& k) { SignOnceWith(k); }, 0},
    };
    for (const auto& row : rows) {
        FreedSecretWatch watch({&key.prime1, &key.prime2});
        row.run(key);
        EXPECT_EQ(row.unwiped, watch.UnwipedFrees()) << row.what;
    }
}

}  // namespace

// This program's heap blocks, so that the watch above sees each one as it
// is freed.
void* operator new(size_t size) {
    if (void* block = malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept {
    InspectFreedBlock(block);
    free(block);
}

void operator delete(void* block, size_t) noexcept {
    InspectFreedBlock(block);
    free(block);
}
