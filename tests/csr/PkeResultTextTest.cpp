#include <gtest/gtest.h>

#include <string>

#include "cryptoki/ErrorReport.h"
#include "csr/PkeResultText.h"

namespace {

TEST(PkeResultText, KnownCodes) {
    const struct {
        unsigned int code;
        const char* text;
    } cases[] = {
        {0, "Operation is done successfully."},
        {1, "Operation is canceled"},
        {160, "PIN_INCORRECT: The specified PIN is incorrect."},
        {627, "Tolvane engine is not initialized."},
        {600, "SERVER_AUTH is not exist in extended key usage extension."},
        {614, "SERVER_AUTH is not exist in extended key usage extension."},  // shares 600's text
        {900, "PKCS#11 library already is loaded."},  // first of the access-layer group
        {953, "No slot selected."},
        {955, "Input id is not a hex dump string."},
        {956, "PKCS #11 operation is failed."},       // last of the access-layer group
        {960, "Control command is failed"},            // first of the loader group
        {977, "PKCS #11 engine is failed."},           // last of the loader group
    };
    for (const auto& c : cases)
        EXPECT_STREQ(pkeResultText(c.code), c.text) << "code " << c.code;
}

TEST(PkeResultText, GapsAndOutOfRangeCodesAreUnknown) {
    for (unsigned int code : {4u, 11u, 15u, 653u, 954u, 957u, 959u, 978u, 0xFFFFFFFFu})
        EXPECT_STREQ(pkeResultText(code), "Unknown return code") << "code " << code;
}

TEST(PkeResultText, HoldsAllCodes) {
    EXPECT_EQ(pkeResultCount(), 373u);
}

// The library passes PKCS#11 return values on; their texts start with the
// return code's name without "CKR_". Checked against the names the error
// reports use, so a slip in either table shows.
TEST(PkeResultText, Pkcs11TextsStartWithTheReturnCodeName) {
    int compared = 0;
    for (unsigned int code = 2; code < 500; ++code) {
        const std::string name = GetCkrName(code);
        if (name.rfind("Unknown", 0) == 0)
            continue;
        const std::string bare = name.substr(4, name.find(' ') - 4);  // drop "CKR_" and the value
        const std::string text = pkeResultText(code);
        EXPECT_EQ(text.substr(0, bare.size() + 1), bare + ":") << "code " << code;
        ++compared;
    }
    EXPECT_EQ(compared, 68);  // every named code but CKR_OK and CKR_CANCEL
}

}  // namespace
