#include "RequestEncoding.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>

#include "PkeStatus.h"
#include "PlatformEncoding.h"

namespace softpke {
namespace {

constexpr char kExtensionRequestOid[] = "1.2.840.113549.1.9.14";
BYTE kNullParameters[] = {der::kNull, 0x00};

Bytes WithoutLeadingZeros(const Bytes& bigEndian) {
    auto first = std::find_if(bigEndian.begin(), bigEndian.end(), [](unsigned char b) { return b != 0; });
    return Bytes(first, bigEndian.end());
}

}  // namespace

int EncodeRsaPublicKey(const Bytes& modulus, const Bytes& exponent, Bytes* rsaPublicKey, Bytes* publicKeyInfo) {
    const Bytes n = WithoutLeadingZeros(modulus), e = WithoutLeadingZeros(exponent);
    // The platform's RSA key blob holds the exponent in 32 bits.
    if (n.empty() || e.empty() || e.size() > sizeof(DWORD))
        return kPkePublicKeyNotSet;
    Bytes blob(sizeof(BLOBHEADER) + sizeof(RSAPUBKEY));
    auto* header = reinterpret_cast<BLOBHEADER*>(blob.data());
    header->bType = PUBLICKEYBLOB;
    header->bVersion = CUR_BLOB_VERSION;
    header->aiKeyAlg = CALG_RSA_KEYX;
    auto* key = reinterpret_cast<RSAPUBKEY*>(blob.data() + sizeof(BLOBHEADER));
    key->magic = 0x31415352;  // "RSA1"
    key->bitlen = static_cast<DWORD>(n.size() * 8);
    for (unsigned char digit : e)
        key->pubexp = (key->pubexp << 8) | digit;
    blob.insert(blob.end(), n.rbegin(), n.rend());  // little-endian in the blob
    if (!EncodeObject(RSA_CSP_PUBLICKEYBLOB, blob.data(), rsaPublicKey))
        return kPkePublicKeyNotSet;

    CERT_PUBLIC_KEY_INFO info = {};
    info.Algorithm.pszObjId = const_cast<LPSTR>(szOID_RSA_RSA);
    info.Algorithm.Parameters = {sizeof kNullParameters, kNullParameters};
    info.PublicKey = {static_cast<DWORD>(rsaPublicKey->size()), rsaPublicKey->data(), 0};
    return EncodeObject(X509_PUBLIC_KEY_INFO, &info, publicKeyInfo) ? kPkeOk : kPkePublicKeyNotSet;
}

Bytes RequestBody(const Bytes& subject, const Bytes& publicKeyInfo, const Bytes& extensions) {
    std::vector<Bytes> attributes;
    if (!extensions.empty())
        attributes.push_back(der::Constructed(
            der::kSequence, {der::Oid(kExtensionRequestOid), der::Constructed(der::kSet, {extensions})}));
    return der::Constructed(der::kSequence, {der::SmallInteger(0), subject, publicKeyInfo,
                                             der::Constructed(der::kContext0, attributes)});
}

int EncodeSignedRequest(const Bytes& body, const Bytes& signature, Bytes* request) {
    // The platform keeps signatures little-endian, as CryptSignHash makes
    // them, and turns them around when it encodes.
    Bytes reversed(signature.rbegin(), signature.rend());
    CERT_SIGNED_CONTENT_INFO info = {};
    info.ToBeSigned = {static_cast<DWORD>(body.size()), const_cast<BYTE*>(body.data())};
    info.SignatureAlgorithm.pszObjId = const_cast<LPSTR>(szOID_RSA_SHA256RSA);
    info.SignatureAlgorithm.Parameters = {sizeof kNullParameters, kNullParameters};
    info.Signature = {static_cast<DWORD>(reversed.size()), reversed.data(), 0};
    return EncodeObject(X509_CERT, &info, request) ? kPkeOk : kPkeSignatureNotSet;
}

}  // namespace softpke
