// The 8-bit form in which PINs and labels reach the token.
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "admin/PinEntry.h"

namespace {

constexpr TokenTextForm kPin = TokenTextForm::Pin;
constexpr TokenTextForm kLabel = TokenTextForm::Label;

struct ConversionCase {
    TokenTextForm form;
    const wchar_t* typed;
    size_t wideLength;
    std::string bytes;
    TextRefusal refusal;
};

const ConversionCase kConversions[] = {
    // Plain ASCII goes through unchanged.
    {kPin, L"1234", 4, "1234", TextRefusal::None},
    // An empty edit gives an empty PIN.
    {kPin, L"", 0, "", TextRefusal::None},
    // Beyond 32 characters the text is ignored.
    {kPin, L"0123456789abcdefghijklmnopqrstuvwxyzABCD", 32, "0123456789abcdefghijklmnopqrstuv", TextRefusal::None},
    // Latin-1 letters become their single byte.
    {kPin, L"ab\u00e9d", 4, "ab\xe9" "d", TextRefusal::None},
    // A character without a Latin-1 byte sends nothing rather than the part
    // before it, a default character or a best fit ("A" for U+0100).
    {kPin, L"ab\u20acd", 4, "", TextRefusal::Unsendable},
    {kPin, L"\u0416\u0416\u0416\u0416", 4, "", TextRefusal::Unsendable},
    {kPin, L"12\u0100456", 6, "", TextRefusal::Unsendable},
    // Labels are UTF-8, at most 32 bytes of it.
    {kLabel, L"M\u00fcller", 6, "M\xC3\xBCller", TextRefusal::None},
    {kLabel, L"12\u0416456", 6, "12\xD0\x96" "456", TextRefusal::None},
    {kLabel, L"0123456789abcdefghijklmnopqrstuv", 32, "0123456789abcdefghijklmnopqrstuv", TextRefusal::None},
    {kLabel, L"0123456789abcdefghijklmnopqrstu\u00e9", 32, "", TextRefusal::TooLong},  // 33 bytes
    {kLabel, L"ab\xDC00", 3, "", TextRefusal::Unsendable},  // a lone low surrogate
};

TEST(PinTextTest, ConvertsToTheTokensFormAndNeverSendsAPart) {
    for (const ConversionCase& c : kConversions) {
        PinText pin(c.form);
        pin.SetWide(c.typed);
        SCOPED_TRACE(testing::Message() << "typed \"" << c.bytes << "\" (" << c.wideLength << " characters)");
        EXPECT_EQ(c.wideLength, pin.WideLength());
        EXPECT_EQ(c.bytes, std::string(pin.Bytes()));
        EXPECT_EQ(c.bytes.size(), pin.Length());
        EXPECT_EQ(static_cast<int>(c.refusal), static_cast<int>(pin.Refusal()));
    }
}

TEST(PinTextTest, ComparesTheBytesThatAreSent) {
    PinText a, b, c;
    a.SetWide(L"4826");
    b.SetWide(L"4826");
    c.SetWide(L"48261");
    EXPECT_TRUE(a.SameBytes(b));
    EXPECT_FALSE(a.SameBytes(c));
    EXPECT_FALSE(c.SameBytes(a));
}

// Nothing of the PIN is left in the object's memory once it has gone.
TEST(PinTextTest, LeavesNoTraceOfThePinWhenDestroyed) {
    alignas(PinText) unsigned char storage[sizeof(PinText)];
    const std::string narrow = "s3cr3tPIN";
    const std::wstring wide = L"s3cr3tPIN";
    const std::string wideBytes(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
    auto memory = [&storage] { return std::string(reinterpret_cast<const char*>(storage), sizeof storage); };

    PinText* pin = new (storage) PinText();
    pin->SetWide(wide.c_str());
    ASSERT_NE(std::string::npos, memory().find(narrow));
    ASSERT_NE(std::string::npos, memory().find(wideBytes));
    pin->~PinText();
    EXPECT_EQ(std::string::npos, memory().find(narrow));
    EXPECT_EQ(std::string::npos, memory().find(wideBytes));
}

TEST(PinTextTest, WipeEmptiesBothForms) {
    PinText pin;
    pin.SetWide(L"9999");
    pin.Wipe();
    EXPECT_EQ(0u, pin.Length());
    EXPECT_EQ(0u, pin.WideLength());
    EXPECT_STREQ("", pin.Bytes());
    EXPECT_STREQ(L"", pin.Wide());
}

}  // namespace
