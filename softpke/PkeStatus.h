// The library's own result codes that this implementation answers; every
// other non-zero status it gives is a PKCS#11 return value passed on from
// the module (below 500). The program has a text for each code.
#pragma once

namespace softpke {

enum PkeStatus : int {
    kPkeOk = 0,

    kPkeNotInitialised = 511,         // "initPKE function is not called."
    kPkeNoCryptoki = 512,             // "setCryptoki function is not called."
    kPkeNotLoggedIn = 513,            // "login function is not called."
    kPkeNoSignMech = 514,             // "setSignMech function is not called."
    kPkeGeneratedSignatureBad = 523,  // "Generated signature is invalid."
    kPkeSignatureLength = 524,        // "Length of generated signature is invalid."
    kPkeBufferTooSmall = 531,         // "The buffer is too small."
    kPkeSignMechInvalid = 540,        // "Sign mechanism is invalid."
    kPkeSignFormatInvalid = 541,      // "Sign format is invalid."
    kPkeSignHashInvalid = 544,        // "Sign hash algorithm is invalid."
    kPkeHashFailed = 547,             // "Hash generation is failed."
    kPkeSignParameterInvalid = 553,   // "Sign parameter is invalid."
    kPkeKeyIdNotHex = 628,            // "The Key ID is not in HEX format."
    kPkeKeyLengthInvalid = 639,       // "Key length is invalid."
    kPkeKeyIdInvalid = 641,           // "The key ID is invalid."
    kPkeUsageTextInvalid = 642,       // "The certificate usage string is invalid."
    kPkeKeyTypeInvalid = 659,         // "Key type is invalid."
    kPkeNoKeyForId = 503,             // "There is no object according with the key ID in token."
    kPkePublicKeyNotSet = 537,        // "Failed to set public key value in the CSR."
    kPkeSubjectNotSet = 830,          // "Failed to set subject in the CSR."
    kPkeExtensionNotSet = 831,        // "Failed to set extension value in the CSR."
    kPkeCsrNotSaved = 834,            // "Failed to save the content of certificate signing request into buffer."
    kPkeSignatureNotSet = 835,        // "Failed to set signature in certificate signing request (CSR) structure."
    kPkeCryptokiLoaded = 900,         // "PKCS#11 library already is loaded."
    kPkeCryptokiNotFound = 901,       // "Unable to load PKCS#11 library."
    kPkeCryptokiUnusable = 902,       // "PKCS#11 library cannot be loaded."
    kPkeNullParameter = 903,          // "Null parameter passed."
    kPkeNotImplemented = 904,         // "The Command is not implemented."
    kPkeInitializeFailed = 905,       // "C_Initialize is failed."
    kPkeNoModulus = 909,              // "No modulus or no exponent."
};

}  // namespace softpke
