// Filling the CSR request from the dialog's controls.
#include <cstring>
#include <iterator>

#include "csr/CsrRequest.h"
#include "res/resource.h"

CsrRequestRecord CsrRequest;

namespace {

const char kEmptyText[] = "";

enum class FieldTable { Subject, AltName };

struct CsrTextField {
    int controlId;
    FieldTable table;
    size_t position;
    const wchar_t* name;
};

// In reading order; each field has its own buffer in fieldTexts.
const CsrTextField kCsrTextFields[kCsrTextFieldCount] = {
    {IDC_CSR_COUNTRY, FieldTable::Subject, 0, L"Country"},
    {IDC_CSR_COMMON_NAME, FieldTable::Subject, 1, L"Common Name(CN)"},
    {IDC_CSR_ORGANIZATION, FieldTable::Subject, 2, L"Organization"},
    {IDC_CSR_ORGANIZATION_UNIT, FieldTable::Subject, 3, L"Organization Unit"},
    {IDC_CSR_SERIAL_NUMBER, FieldTable::Subject, 8, L"Serial Number"},
    {IDC_CSR_GIVEN_NAME, FieldTable::Subject, 7, L"Given Name"},
    {IDC_CSR_SURNAME, FieldTable::Subject, 9, L"Sur Name"},
    {IDC_CSR_EMAIL, FieldTable::Subject, 6, L"Email Address"},
    {IDC_CSR_UPN, FieldTable::AltName, 4, L"User Principal Name"},
    {IDC_CSR_URI, FieldTable::AltName, 3, L"Uniform Resource Identifier (URI)"},
    {IDC_CSR_DNS_NAME, FieldTable::AltName, 0, L"DNS Name (Domain Name)"},
};

// Every control the user can change; all are disabled while the worker runs.
const int kInputControls[] = {
    IDC_CSR_COUNTRY,      IDC_CSR_COMMON_NAME,       IDC_CSR_ORGANIZATION,    IDC_CSR_ORGANIZATION_UNIT,
    IDC_CSR_SERIAL_NUMBER, IDC_CSR_GIVEN_NAME,       IDC_CSR_SURNAME,         IDC_CSR_EMAIL,
    IDC_CSR_UPN,          IDC_CSR_URI,               IDC_CSR_DNS_NAME,        IDC_CSR_PIN,
    IDOK,                 IDCANCEL,                  IDC_CSR_KEY_LENGTH,      IDC_CSR_DIGITAL_SIGNATURE,
    IDC_CSR_NON_REPUDIATION, IDC_CSR_KEY_ENCIPHERMENT, IDC_CSR_CRL_SIGNING,   IDC_CSR_OFFLINE_CRL_SIGNING,
    IDC_CSR_CLIENT_AUTH,  IDC_CSR_SERVER_AUTH,       IDC_CSR_OCSP_SIGNING,    IDC_CSR_TIME_STAMP,
};

struct UsageBox {
    int controlId;
    const char* name;
};

// In the order the names are joined; server authentication comes first
// although the dialog shows the client box above it.
const UsageBox kKeyUsageBoxes[] = {
    {IDC_CSR_DIGITAL_SIGNATURE, "digitalSignature"},
    {IDC_CSR_NON_REPUDIATION, "nonRepudiation"},
    {IDC_CSR_KEY_ENCIPHERMENT, "keyEncipherment"},
    {IDC_CSR_CRL_SIGNING, "cRLSign"},
};

const UsageBox kExtKeyUsageBoxes[] = {
    {IDC_CSR_SERVER_AUTH, "serverAuth"},
    {IDC_CSR_CLIENT_AUTH, "clientAuth"},
    {IDC_CSR_OCSP_SIGNING, "OCSPSigning"},
    {IDC_CSR_TIME_STAMP, "timeStamping"},
};

const char** TableOf(FieldTable table) {
    return table == FieldTable::Subject ? CsrRequest.subjectFields : CsrRequest.altNameFields;
}

// The field's text, at most kCsrTextSize - 1 characters; a surrogate pair
// cut in half by that limit loses its first half too.
void ReadWideField(HWND dialog, int controlId, wchar_t (&text)[kCsrTextSize]) {
    text[0] = L'\0';
    const size_t length = GetDlgItemTextW(dialog, controlId, text, kCsrTextSize);
    if (length > 0 && IS_HIGH_SURROGATE(text[length - 1]))
        text[length - 1] = L'\0';
}

// The names of the checked boxes joined by ", "; the names of all boxes fit.
void JoinCheckedNames(HWND dialog, const UsageBox* boxes, size_t count, char (&text)[kCsrTextSize]) {
    memset(text, 0, sizeof text);
    for (size_t i = 0; i < count; ++i) {
        if (IsDlgButtonChecked(dialog, boxes[i].controlId) != BST_CHECKED)
            continue;
        if (text[0])
            strcat(text, ", ");
        strcat(text, boxes[i].name);
    }
}

}  // namespace

void ResetCsrFieldTables() {
    for (size_t i = 0; i < kPkeFieldCount; ++i) {
        CsrRequest.subjectFields[i] = kEmptyText;
        CsrRequest.altNameFields[i] = kEmptyText;
    }
}

int ReadCsrTextFields(HWND dialog) {
    for (size_t i = 0; i < kCsrTextFieldCount; ++i) {
        const CsrTextField& field = kCsrTextFields[i];
        wchar_t wide[kCsrTextSize];
        ReadWideField(dialog, field.controlId, wide);
        if (!wide[0])
            continue;
        char* utf8 = CsrRequest.fieldTexts[i];
        // A text whose UTF-8 form does not fit is refused rather than cut,
        // which could split a character or drop the terminator.
        if (!WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, kCsrTextSize, nullptr, nullptr)) {
            utf8[0] = '\0';
            return field.controlId;
        }
        TableOf(field.table)[field.position] = utf8;
    }
    return 0;
}

const wchar_t* CsrFieldName(int controlId) {
    for (const CsrTextField& field : kCsrTextFields)
        if (field.controlId == controlId)
            return field.name;
    return L"";
}

void ReadCsrKeyUsages(HWND dialog) {
    JoinCheckedNames(dialog, kKeyUsageBoxes, std::size(kKeyUsageBoxes),
                     CsrRequest.keyUsageText);
    JoinCheckedNames(dialog, kExtKeyUsageBoxes, std::size(kExtKeyUsageBoxes),
                     CsrRequest.extKeyUsageText);
}

void SetCsrKeyId(const char* keyIdText) {
    memset(CsrRequest.keyIdText, 0, sizeof CsrRequest.keyIdText);
    CsrRequest.keyIdTooLong = strlen(keyIdText) >= sizeof CsrRequest.keyIdText;
    if (!CsrRequest.keyIdTooLong)
        strcpy(CsrRequest.keyIdText, keyIdText);
}

void EnableCsrInputControls(HWND dialog, bool enable) {
    for (int id : kInputControls)
        EnableWindow(GetDlgItem(dialog, id), enable ? TRUE : FALSE);
}
