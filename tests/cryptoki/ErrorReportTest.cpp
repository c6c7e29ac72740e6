#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "cryptoki/ErrorReport.h"
#include "support/UiDriver.h"

namespace {

struct NamedCode {
    CK_RV value;
    const char* name;
};

// Every named return code, by the standard's own constant, so that a value
// typed wrongly in the table shows up here.
#define CODE(name) {name, #name}
const NamedCode kStandardCodes[] = {
    CODE(CKR_OK), CODE(CKR_CANCEL), CODE(CKR_HOST_MEMORY), CODE(CKR_SLOT_ID_INVALID),
    CODE(CKR_GENERAL_ERROR), CODE(CKR_FUNCTION_FAILED), CODE(CKR_ARGUMENTS_BAD),
    CODE(CKR_NO_EVENT), CODE(CKR_NEED_TO_CREATE_THREADS), CODE(CKR_CANT_LOCK),
    CODE(CKR_ATTRIBUTE_READ_ONLY), CODE(CKR_ATTRIBUTE_SENSITIVE), CODE(CKR_ATTRIBUTE_TYPE_INVALID),
    CODE(CKR_ATTRIBUTE_VALUE_INVALID), CODE(CKR_DATA_INVALID), CODE(CKR_DATA_LEN_RANGE),
    CODE(CKR_DEVICE_ERROR), CODE(CKR_DEVICE_MEMORY), CODE(CKR_DEVICE_REMOVED),
    CODE(CKR_ENCRYPTED_DATA_INVALID), CODE(CKR_ENCRYPTED_DATA_LEN_RANGE),
    CODE(CKR_FUNCTION_CANCELED), CODE(CKR_FUNCTION_NOT_PARALLEL), CODE(CKR_FUNCTION_NOT_SUPPORTED),
    CODE(CKR_KEY_HANDLE_INVALID), CODE(CKR_KEY_SIZE_RANGE), CODE(CKR_KEY_TYPE_INCONSISTENT),
    CODE(CKR_KEY_NOT_NEEDED), CODE(CKR_MECHANISM_INVALID), CODE(CKR_MECHANISM_PARAM_INVALID),
    CODE(CKR_OBJECT_HANDLE_INVALID), CODE(CKR_OPERATION_ACTIVE), CODE(CKR_OPERATION_NOT_INITIALIZED),
    CODE(CKR_PIN_INCORRECT), CODE(CKR_PIN_INVALID), CODE(CKR_PIN_LEN_RANGE), CODE(CKR_PIN_EXPIRED),
    CODE(CKR_PIN_LOCKED), CODE(CKR_SESSION_CLOSED), CODE(CKR_SESSION_COUNT),
    CODE(CKR_SESSION_HANDLE_INVALID), CODE(CKR_SESSION_READ_ONLY), CODE(CKR_SESSION_EXISTS),
    CODE(CKR_SESSION_READ_ONLY_EXISTS), CODE(CKR_SESSION_READ_WRITE_SO_EXISTS),
    CODE(CKR_SIGNATURE_INVALID), CODE(CKR_SIGNATURE_LEN_RANGE), CODE(CKR_TEMPLATE_INCOMPLETE),
    CODE(CKR_TEMPLATE_INCONSISTENT), CODE(CKR_TOKEN_NOT_PRESENT), CODE(CKR_TOKEN_NOT_RECOGNIZED),
    CODE(CKR_UNWRAPPING_KEY_HANDLE_INVALID), CODE(CKR_UNWRAPPING_KEY_SIZE_RANGE),
    CODE(CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT), CODE(CKR_USER_ALREADY_LOGGED_IN),
    CODE(CKR_USER_NOT_LOGGED_IN), CODE(CKR_USER_PIN_NOT_INITIALIZED), CODE(CKR_USER_TYPE_INVALID),
    CODE(CKR_USER_ANOTHER_ALREADY_LOGGED_IN), CODE(CKR_USER_TOO_MANY_TYPES),
    CODE(CKR_WRAPPED_KEY_INVALID), CODE(CKR_WRAPPED_KEY_LEN_RANGE),
    CODE(CKR_WRAPPING_KEY_HANDLE_INVALID), CODE(CKR_DOMAIN_PARAMS_INVALID),
    CODE(CKR_BUFFER_TOO_SMALL), CODE(CKR_INFORMATION_SENSITIVE), CODE(CKR_CRYPTOKI_NOT_INITIALIZED),
    CODE(CKR_CRYPTOKI_ALREADY_INITIALIZED), CODE(CKR_MUTEX_BAD), CODE(CKR_MUTEX_NOT_LOCKED),
};
#undef CODE

TEST(GetCkrName, NamesEveryTableCodeWithLowerCaseHex) {
    ASSERT_EQ(sizeof kStandardCodes / sizeof kStandardCodes[0], 70u);
    for (const NamedCode& code : kStandardCodes) {
        char expected[200];
        snprintf(expected, sizeof expected, "%s 0x%lx", code.name,
                 static_cast<unsigned long>(code.value));
        EXPECT_EQ(GetCkrName(code.value), expected) << "value " << code.value;
    }
}

TEST(GetCkrName, SpotValues) {
    EXPECT_EQ(GetCkrName(0x0), "CKR_OK 0x0");
    EXPECT_EQ(GetCkrName(0x1), "CKR_CANCEL 0x1");
    EXPECT_EQ(GetCkrName(0x2), "CKR_HOST_MEMORY 0x2");
    EXPECT_EQ(GetCkrName(0xa4), "CKR_PIN_LOCKED 0xa4");
    EXPECT_EQ(GetCkrName(0x1a1), "CKR_MUTEX_NOT_LOCKED 0x1a1");
}

TEST(GetCkrName, FallbackUsesUpperCaseHexForUnlistedValues) {
    const struct {
        CK_RV value;
        const char* text;
    } cases[] = {
        {0x4, "Unknown return code 0x4"},            // not defined by the standard
        {0xe2, "Unknown return code 0xE2"},          // CKR_TOKEN_WRITE_PROTECTED, left out
        {0x111, "Unknown return code 0x111"},        // between two listed neighbours
        {0xb4, "Unknown return code 0xB4"},          // CKR_SESSION_PARALLEL_NOT_SUPPORTED
        {0x65, "Unknown return code 0x65"},          // CKR_KEY_CHANGED
        {0x80000000, "Unknown return code 0x80000000"},  // CKR_VENDOR_DEFINED
        {0xffffffff, "Unknown return code 0xFFFFFFFF"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetCkrName(c.value), c.text);
}

TEST(ComposeCkError, BuildsNameLineAndContext) {
    EXPECT_EQ(ComposeCkErrorW(CKR_PIN_INCORRECT, L"The entered pincode is wrong\r\n"),
              L"An error occured due to CKR_PIN_INCORRECT 0xa0\r\nThe entered pincode is wrong\r\n");
    EXPECT_EQ(ComposeCkErrorA(CKR_SESSION_EXISTS, "Busy\n\r"),
              "An error occured due to CKR_SESSION_EXISTS 0xb6\r\nBusy\n\r");
    EXPECT_EQ(ComposeCkErrorW(0xe2, L""), L"An error occured due to Unknown return code 0xE2\r\n");
}

TEST(ComposeCkError, CutsLongContextAt399Characters) {
    const std::wstring context(1000, L'x');
    std::wstring wide = ComposeCkErrorW(CKR_OK, context.c_str());
    ASSERT_EQ(wide.size(), 399u);
    EXPECT_EQ(wide.substr(0, 36), L"An error occured due to CKR_OK 0x0\r\n");
    EXPECT_EQ(wide.back(), L'x');

    const std::string narrow(1000, 'y');
    std::string text = ComposeCkErrorA(CKR_OK, narrow.c_str());
    ASSERT_EQ(text.size(), 399u);
    EXPECT_EQ(text.back(), 'y');

    // A context that just fits is kept whole.
    const std::wstring fits(399 - 36, L'z');
    EXPECT_EQ(ComposeCkErrorW(CKR_OK, fits.c_str()).size(), 399u);
}

TEST(ComposeCkError, NeverSplitsASurrogatePairWhenCutting) {
    std::wstring context(399 - 36 - 1, L'a');
    context += L"\U0001F511";  // a key, two UTF-16 units, straddling the cut
    std::wstring text = ComposeCkErrorW(CKR_OK, context.c_str());
    EXPECT_EQ(text.size(), 398u);
    EXPECT_FALSE(IS_HIGH_SURROGATE(text.back()));
}

TEST(FormatTextW, FormatsWideAndNarrowArgumentsAndCuts) {
    wchar_t buffer[64];
    EXPECT_EQ(FormatTextW(buffer, L"%ls|%d|%hs", L"wide \u00e9", 42, "narrow"), 16);
    EXPECT_STREQ(buffer, L"wide \u00e9|42|narrow");

    wchar_t small[8];
    EXPECT_EQ(FormatTextW(small, L"%ls", L"longer than eight"), 7);
    EXPECT_STREQ(small, L"longer ");
}

// The boxes below are real message boxes, seen and closed by the driver.

TEST(ShowCkError, WideReportShowsTheExactBoxWithoutOwner) {
    UiDriver ui;
    ui.Press(IDOK);
    ShowCkErrorW(CKR_PIN_INCORRECT, L"Login error", L"The entered pincode is wrong\r\n");
    std::string why;
    ASSERT_TRUE(ui.WaitDone(&why)) << why;
    auto seen = ui.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, L"Login error");
    EXPECT_EQ(seen[0].text,
              L"An error occured due to CKR_PIN_INCORRECT 0xa0\r\nThe entered pincode is wrong\r\n");
    EXPECT_EQ(seen[0].owner, nullptr);
}

TEST(ShowCkError, EmptyContextShowsOnlyTheNameLine) {
    UiDriver ui;
    ui.Press(IDOK);
    ShowCkErrorW(0x111, L"PKCS#11 error", L"");
    std::string why;
    ASSERT_TRUE(ui.WaitDone(&why)) << why;
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].text, L"An error occured due to Unknown return code 0x111\r\n");
}

TEST(ShowCkError, NarrowReportUsesCallersTitleAndType) {
    UiDriver ui;
    ui.Press(IDOK);
    int answer = ShowCkErrorA(CKR_PIN_LEN_RANGE, "Invalid user pincode",
                              "The entered pincode is invalid due to the device pin policy.\r\n",
                              MB_ICONERROR);
    std::string why;
    ASSERT_TRUE(ui.WaitDone(&why)) << why;
    EXPECT_EQ(answer, IDOK);
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].caption, L"Invalid user pincode");
    EXPECT_EQ(ui.Seen()[0].text, L"An error occured due to CKR_PIN_LEN_RANGE 0xa2\r\n"
                                 L"The entered pincode is invalid due to the device pin policy.\r\n");
    EXPECT_EQ(ui.Seen()[0].owner, nullptr);
}

TEST(ShowCkError, ReportsFromTwoThreadsAtOnceKeepTheirOwnTexts) {
    UiDriver ui;
    ui.Press(IDOK).Press(IDOK);
    std::thread other([] { ShowCkErrorW(CKR_DEVICE_REMOVED, L"Other", L"second\r\n"); });
    ShowCkErrorW(CKR_TOKEN_NOT_PRESENT, L"Main", L"first\r\n");
    other.join();
    std::string why;
    ASSERT_TRUE(ui.WaitDone(&why)) << why;
    auto seen = ui.Seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_NE(seen[0].caption, seen[1].caption);
    for (const SeenWindow& box : seen) {
        ASSERT_TRUE(box.caption == L"Main" || box.caption == L"Other") << Narrow(box.caption);
        if (box.caption == L"Main")
            EXPECT_EQ(box.text, L"An error occured due to CKR_TOKEN_NOT_PRESENT 0xe0\r\nfirst\r\n");
        else
            EXPECT_EQ(box.text, L"An error occured due to CKR_DEVICE_REMOVED 0x32\r\nsecond\r\n");
    }
}

}  // namespace
