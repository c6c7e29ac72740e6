// The 8-bit form in which PINs and labels reach the token.
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "admin/PinEntry.h"

namespace {

struct ConversionCase {
    const wchar_t* typed;
    size_t wideLength;
    std::string bytes;
    bool converted;
};

const ConversionCase kConversions[] = {
    // Plain ASCII goes through unchanged.
    {L"1234", 4, "1234", true},
    // An empty edit gives an empty PIN.
    {L"", 0, "", true},
    // Beyond 32 characters the text is ignored.
    {L"0123456789abcdefghijklmnopqrstuvwxyzABCD", 32, "0123456789abcdefghijklmnopqrstuv", true},
    // Latin-1 letters become their single byte.
    {L"ab\u00e9d", 4, "ab\xe9" "d", true},
    // A character the conversion cannot express sends nothing rather than
    // the part before it.
    {L"ab\u20acd", 4, "", false},
    {L"\u0416\u0416\u0416\u0416", 4, "", false},
};

TEST(PinTextTest, ConvertsAsTheRuntimeLibraryDoesAndNeverSendsAPart) {
    for (const ConversionCase& c : kConversions) {
        PinText pin;
        pin.SetWide(c.typed);
        SCOPED_TRACE(testing::Message() << "typed \"" << c.bytes << "\" (" << c.wideLength << " characters)");
        EXPECT_EQ(c.wideLength, pin.WideLength());
        EXPECT_EQ(c.bytes, std::string(pin.Bytes()));
        EXPECT_EQ(c.bytes.size(), pin.Length());
        EXPECT_EQ(c.converted, pin.Converted());
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
