// Saving a certificate object of the token to a .crt (DER) or .pem file.
#pragma once

#include <string>

#include "cryptoki/Cryptoki.h"

// The file's form: the DER bytes as the token holds them, or their PEM text.
enum class CertificateFileFormat { Der, Pem };

// Results of SaveCertificateFile: 0 written, 1 the file cannot be created
// or written (no partial file is left), 10 + rv reading CKA_VALUE failed.
// Wider than the return code, so that every code, the vendor-defined ones
// from 0x80000000 up included, stays above 10.
long long SaveCertificateFile(CK_OBJECT_HANDLE handle, int slot, const std::wstring& path,
                              CertificateFileFormat format = CertificateFileFormat::Der);

// The file name the save dialog proposes: the object's label, or
// "Exported Certificate" when it has none or it cannot be a file name.
std::wstring DefaultExportFileName(CK_OBJECT_HANDLE handle, int slot);

struct ObjectCommand;

// The "Export certificate" command, for the selected object row.
void ExportCertificateCommand(const ObjectCommand& command);
