// Tokens for the import tests and readers for what an import left on them.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "cryptoki/Cryptoki.h"
#include "support/TokenStore.h"
#include "support/UiDriver.h"

using Bytes = std::vector<unsigned char>;

constexpr int kImportSlot = 0;

Bytes FromHex(const std::string& hex);
std::string ToHex(const Bytes& bytes);  // upper case
std::string Upper(std::string text);
Bytes FromText(const std::string& text);
// A fixture file's first line, as text ("imp_ee.keyid").
std::string FixtureLine(const std::wstring& name);

// A parsed certificate from a DER fixture; freed with the object.
class FixtureCertificate {
public:
    explicit FixtureCertificate(const std::wstring& name);
    ~FixtureCertificate();
    FixtureCertificate(const FixtureCertificate&) = delete;
    FixtureCertificate& operator=(const FixtureCertificate&) = delete;
    PCCERT_CONTEXT get() const { return context_; }
    Bytes Subject() const;

private:
    PCCERT_CONTEXT context_ = nullptr;
};

// Reads what is on the token of slot 0 through AppState's session.
class TokenReader {
protected:
    void LoginUser();

    // Token objects of a class, in the token's order.
    std::vector<CK_OBJECT_HANDLE> Objects(CK_OBJECT_CLASS objectClass);
    // An attribute's value; `present` false when the object lacks it.
    Bytes Read(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, bool* present = nullptr);
    bool ReadFlag(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type);
    CK_SESSION_HANDLE Session();
};

// A token in slot 0 of a test store with the program's Cryptoki layer on it.
class ImportTokenTest : public testing::Test, public TokenReader {
protected:
    void SetUp() override;

    TokenStore store_;
};
