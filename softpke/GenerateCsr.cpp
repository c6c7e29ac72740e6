#include "GenerateCsr.h"

#include <cstring>
#include <string>

#include "CryptokiLink.h"
#include "Hashing.h"
#include "LibraryState.h"
#include "PkeStatus.h"
#include "PlatformEncoding.h"
#include "RequestEncoding.h"
#include "RequestExtensions.h"
#include "SubjectName.h"
#include "TokenKeys.h"

namespace softpke {
namespace {

constexpr size_t kMaxKeyIdBytes = 255;
const int kKeyLengths[] = {1024, 2048, 3072, 4096};

struct PreparedRequest {
    Bytes subject;
    std::string commonName;
    Bytes extensions;
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

int ParseKeyId(const char* text, Bytes* id) {
    const size_t length = strlen(text);
    for (size_t i = 0; i < length; ++i)
        if (HexDigit(text[i]) < 0)
            return kPkeKeyIdNotHex;
    if (length % 2 != 0 || length / 2 > kMaxKeyIdBytes)
        return kPkeKeyIdInvalid;
    for (size_t i = 0; i < length; i += 2)
        id->push_back(static_cast<unsigned char>(HexDigit(text[i]) * 16 + HexDigit(text[i + 1])));
    return kPkeOk;
}

std::string HexText(const Bytes& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

bool IsKeyLength(int bits) {
    for (int length : kKeyLengths)
        if (bits == length)
            return true;
    return false;
}

int CheckArguments(const CsrArguments& a) {
    if (!a.keyId || !a.subjectFields || !a.altNames || !a.keyUsage || !a.extendedKeyUsage || !a.csrOutput)
        return kPkeNullParameter;
    const LibraryState& state = State();
    if (!state.initialised)
        return kPkeNotInitialised;
    if (!state.functions)
        return kPkeNoCryptoki;
    if (!state.loggedIn)
        return kPkeNotLoggedIn;
    if (!state.signMechSet)
        return kPkeNoSignMech;
    return kPkeOk;
}

// Everything that does not need the token, so that a request that cannot
// be made fails before a key pair is generated for it.
int PrepareRequest(const CsrArguments& a, Bytes* id, PreparedRequest* request) {
    int status = ParseKeyId(a.keyId, id);
    if (status == kPkeOk && id->empty() && !IsKeyLength(a.keyBits))
        status = kPkeKeyLengthInvalid;
    if (status == kPkeOk)
        status = EncodeSubject(a.subjectFields, &request->subject, &request->commonName);
    if (status == kPkeOk) {
        const bool subjectEmpty = request->subject.size() == 2;  // SEQUENCE {} alone
        status = EncodeRequestExtensions({a.keyUsage, a.extendedKeyUsage, a.altNames, subjectEmpty},
                                         &request->extensions);
    }
    return status;
}

// The CKA_ID of a new pair: the SHA-1 of the RSAPublicKey, which is what
// the certificate import computes from the certificate issued for it.
int IdentifyNewKeyPair(const TokenSession& token, const TokenKeyPair& pair, const Bytes& rsaPublicKey, Bytes* id) {
    if (!Hash(HashKind::Sha1, rsaPublicKey, id))
        return kPkeHashFailed;
    return SetKeyPairId(token, pair, *id);
}

size_t SignificantSize(const Bytes& bigEndian) {
    size_t first = 0;
    while (first < bigEndian.size() && bigEndian[first] == 0)
        ++first;
    return bigEndian.size() - first;
}

// Signs the body on the token and checks the signature against the public
// key that the request carries, before anyone else relies on it.
int SignRequest(const TokenSession& token, const TokenKeyPair& pair, const Bytes& body, Bytes* request) {
    Bytes signature;
    int status = SignSha256(token, pair.privateKey, body, &signature);
    if (status != kPkeOk)
        return status;
    if (signature.size() != SignificantSize(pair.modulus))
        return kPkeSignatureLength;
    if (!VerifyRsaSha256(pair.modulus, pair.publicExponent, body, signature))
        return kPkeGeneratedSignatureBad;
    return EncodeSignedRequest(body, signature, request);
}

int WriteOutputs(const Bytes& request, const Bytes& id, const CsrArguments& a) {
    std::string pem;
    if (!ToPem(request, "CERTIFICATE REQUEST", &pem))
        return kPkeCsrNotSaved;
    if (pem.size() >= kOutputBufferSize)
        return kPkeBufferTooSmall;
    memcpy(a.csrOutput, pem.c_str(), pem.size() + 1);
    if (a.auxiliaryOutput) {
        const std::string idText = HexText(id);
        memcpy(a.auxiliaryOutput, idText.c_str(), idText.size() + 1);
    }
    return kPkeOk;
}

int MakeRequest(const TokenSession& token, const CsrArguments& a, const PreparedRequest& request, Bytes id) {
    const bool newKey = id.empty();
    TokenKeyPair pair;
    int status = newKey ? GenerateKeyPair(token, static_cast<CK_ULONG>(a.keyBits), request.commonName,
                                          request.subject, &pair)
                        : FindKeyPair(token, id, &pair);
    if (status != kPkeOk)
        return status;
    Bytes rsaPublicKey, publicKeyInfo, signedRequest;
    status = EncodeRsaPublicKey(pair.modulus, pair.publicExponent, &rsaPublicKey, &publicKeyInfo);
    if (status == kPkeOk && newKey)
        status = IdentifyNewKeyPair(token, pair, rsaPublicKey, &id);
    if (status == kPkeOk)
        status = SignRequest(token, pair, RequestBody(request.subject, publicKeyInfo, request.extensions),
                             &signedRequest);
    if (status == kPkeOk)
        status = WriteOutputs(signedRequest, id, a);
    if (status != kPkeOk && newKey)
        DestroyKeyPair(token, pair);
    return status;
}

}  // namespace

int GenerateCsr(const CsrArguments& arguments) {
    Bytes id;
    PreparedRequest request;
    int status = CheckArguments(arguments);
    if (status == kPkeOk)
        status = PrepareRequest(arguments, &id, &request);
    if (status == kPkeOk) {
        const LibraryState& state = State();
        status = MakeRequest({state.functions, state.session}, arguments, request, id);
    }
    CloseLibrarySession();
    return status;
}

}  // namespace softpke
