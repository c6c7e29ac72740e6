// The PEM form of a certificate (RFC 7468): the DER bytes in base64, 64
// characters a line, between BEGIN and END CERTIFICATE lines, with the
// Windows line ends that the system's own certificate tools write.
#pragma once

#include <string>
#include <vector>

std::string Base64Text(const unsigned char* bytes, size_t length);

std::string PemCertificateText(const std::vector<unsigned char>& der);
