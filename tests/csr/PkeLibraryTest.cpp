// Binding the build's vexpke.dll: the resolution table, the cached handle,
// the initialisation on every load, and libraries that cannot serve.
#include <gtest/gtest.h>

#include "PkeControl.h"
#include "app/AppState.h"
#include "csr/PkeLibrary.h"
#include "support/TokenStore.h"

namespace {

class PkeLibraryTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(store_.AddToken(0, "PKE token", "PKE0001"));
        ASSERT_TRUE(store_.LoadModule());
        PkeControl::Reset();
    }
    void TearDown() override {
        unloadPkeLibrary();
        PkeControl::Reset();
    }

    TokenStore store_;
};

TEST_F(PkeLibraryTest, ResolvesEveryEntryAndInitialisesOnTheModule) {
    ASSERT_EQ(loadPkeLibrary(), kPkeLoaded);
    ASSERT_EQ(pkeEntryCount(), 76u);
    for (size_t i = 0; i < pkeEntryCount(); ++i)
        EXPECT_NE(pkeEntryAddress(i), nullptr) << pkeEntryName(i) << " at " << i;
    // Looked up twice, into two entries.
    EXPECT_STREQ(pkeEntryName(29), "genSymmetricKey");
    EXPECT_STREQ(pkeEntryName(60), "genSymmetricKey");
    EXPECT_EQ(pkeEntryAddress(29), pkeEntryAddress(60));
    EXPECT_EQ(PkeControl::Calls("initPKE"), 1);
    EXPECT_EQ(PkeControl::Calls("setCryptoki"), 1);
    EXPECT_EQ(PkeControl::LastArguments("setCryptoki"), "tolvane11.dll|");
}

TEST_F(PkeLibraryTest, EveryLoadInitialisesAgainOnTheCachedHandle) {
    ASSERT_EQ(loadPkeLibrary(), kPkeLoaded);
    const HMODULE first = pkeLibraryHandle();
    ASSERT_EQ(loadPkeLibrary(), kPkeLoaded);
    EXPECT_EQ(pkeLibraryHandle(), first);
    EXPECT_EQ(PkeControl::Calls("initPKE"), 2);
    EXPECT_EQ(PkeControl::Calls("setCryptoki"), 2);

    // One LoadLibrary for both: one release unloads the library.
    unloadPkeLibrary();
    EXPECT_EQ(pkeLibraryHandle(), nullptr);
    EXPECT_EQ(GetModuleHandleW(kPkeLibraryName), nullptr);
    // Nothing of the unloaded image is reachable any more.
    for (size_t i = 0; i < pkeEntryCount(); ++i)
        EXPECT_EQ(pkeEntryAddress(i), nullptr) << pkeEntryName(i);
    int status = 0;
    pkeLogin(1, 0, "1234", &status);
    EXPECT_EQ(status, kPkeEntryMissing);
}

// Libraries that cannot serve count as not loaded, and keep no handle.
TEST_F(PkeLibraryTest, MissingLibraryOrMissingEntriesAreNotLoaded) {
    const wchar_t* cases[] = {
        L"no-such-library.dll",  // not there at all
        L"tolvane11.dll",        // a DLL without any of the five called entry points
    };
    for (const wchar_t* name : cases) {
        EXPECT_EQ(loadPkeLibraryFrom(name), kPkeNotLoaded);
        EXPECT_EQ(pkeLibraryHandle(), nullptr);
    }
    EXPECT_STREQ(pkeLoadFailureText(kPkeNotLoaded), L"Can not load PKE dll");
}

TEST_F(PkeLibraryTest, InitialisationFailuresKeepTheLibraryLoaded) {
    const struct {
        const char* entry;
        int result;
        const wchar_t* text;
    } cases[] = {
        {"initPKE", kPkeInitFailed, L"Can not set cryptoki"},
        {"setCryptoki", kPkeCryptokiFailed, L"An error occured"},
    };
    for (const auto& c : cases) {
        PkeControl::Answer(c.entry, 1, 900);
        EXPECT_EQ(loadPkeLibrary(), c.result) << c.entry;
        EXPECT_NE(pkeLibraryHandle(), nullptr) << c.entry;
        EXPECT_STREQ(pkeLoadFailureText(c.result), c.text);
        // The next load initialises again and succeeds.
        EXPECT_EQ(loadPkeLibrary(), kPkeLoaded) << c.entry;
        PkeControl::Reset();
    }
}

}  // namespace
