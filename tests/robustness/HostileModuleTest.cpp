// The main window against a module whose answers are hostile: slot lists
// of any size and ID, token fields of arbitrary bytes, attribute values
// longer than every buffer or unavailable, certificates that are no DER, a
// search without end, and each call of a listing failing in turn. After
// every case the window exists, shows what it was told and takes the next
// command; the heap stays intact.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "HostileFiles.h"
#include "HostileModule.h"
#include "RobustnessSupport.h"
#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/TokenPanel.h"
#include "objects/ObjectTables.h"
#include "objects/TokenObjectList.h"
#include "objects/CertificateName.h"
#include "objects/ObjectListSelection.h"
#include "support/MainWindowFixture.h"
#include "support/TestFiles.h"
#include "support/UiDriver.h"

namespace {

constexpr int kSlot = 0;

std::wstring Cell(HWND list, int row, int column) {
    return MainWindowFixture::CellText(list, row, column);
}

int ObjectRows() {
    return MainWindowFixture::RowCount(AppState.ObjectListView);
}

HostileObject KeyObject(CK_OBJECT_HANDLE handle, CK_OBJECT_CLASS objectClass, const AttributeBytes& id) {
    HostileObject object = DataObject(handle, "key");
    object.values[CKA_CLASS] = UlongBytes(objectClass);
    object.values[CKA_ID] = id;
    object.values[CKA_KEY_TYPE] = UlongBytes(CKK_RSA);
    object.values[CKA_EXTRACTABLE] = {CK_FALSE};
    object.values[CKA_MODULUS_BITS] = UlongBytes(2048);
    return object;
}

HostileObject CertificateObject(CK_OBJECT_HANDLE handle, const AttributeBytes& value) {
    HostileObject object = DataObject(handle, "certificate");
    object.values[CKA_CLASS] = UlongBytes(CKO_CERTIFICATE);
    object.values[CKA_ID] = {0x01};
    object.values[CKA_KEY_TYPE] = UlongBytes(0);
    object.values[CKA_EXTRACTABLE] = {CK_FALSE};
    object.values[CKA_VALUE] = value;
    return object;
}

// cn_simple.der with its signature replaced by "03 00", a BIT STRING
// without even its unused-bits octet.
AttributeBytes CertificateWithEmptyBitString() {
    std::vector<DerElement> certificate;
    EXPECT_TRUE(ParseDer(ReadFixture(L"cn_simple.der"), &certificate));
    DerElement empty;
    empty.Tag = {0x03};
    certificate[0].Children[2] = empty;
    return EncodeDer(certificate);
}

class HostileModuleTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(window_.AddToken(kSlot, "Hostile", "H0001")); }
    void TearDown() override { RemoveHostileModule(); }

    int StartHostile(const HostileScript& script) {
        static HostileScript pending;
        pending = script;
        return window_.StartWith([] { InstallHostileModule(pending); });
    }

    // "Display objects" without the public-objects warning, until the
    // worker has given the token list back.
    bool DisplayObjects() {
        AppState.PublicOnlyWarningArmed = false;
        window_.Click(kDisplayObjectsCommand);
        return window_.PumpUntil([] { return !AppState.Busy && IsWindowEnabled(AppState.TokenListView); },
                                 60000);
    }

    // The window took the case: it exists, its token list answers a click
    // and a listing of harmless objects runs to its end.
    void ExpectWindowStillUsable(const std::string& what) {
        ASSERT_TRUE(IsWindow(window_.Window())) << what;
        EXPECT_TRUE(ProcessHeapsAreIntact()) << what << ": the heap was damaged";
        HostileScript& script = ActiveScript();
        script.scriptObjects = true;
        script.objects = {DataObject(7, "after")};
        script.endlessSearch = false;
        script.failCall = 0;
        script.actionCall = 0;
        window_.ClickTokenRow(kSlot);
        EXPECT_TRUE(window_.ButtonEnabled(kDisplayObjectsButton)) << what;
        ASSERT_TRUE(DisplayObjects()) << what << ": the listing after the case never ended";
        ASSERT_EQ(1, ObjectRows()) << what;
        EXPECT_EQ(L"after", Cell(AppState.ObjectListView, 0, 4)) << what;
    }

    MainWindowFixture window_{4};
};

// Slot lists no module should answer: each row is one start-up.
TEST(HostileSlots, StartUpKeepsToRowsAndSessionsThatExist) {
    const struct {
        const char* what;
        CK_ULONG slotCount;
        std::vector<CK_SLOT_ID> tokenSlots;
        CK_ULONG tokenCountAnswer;
        int rows;
    } cases[] = {
        // 200 slots, tokens on both sides of the 64 the session table holds:
        // the list holds the 64 rows that can have a token.
        {"200 slots", 200, {0, 3, 63, 64, 150, 199}, 6, 64},
        // A count no module has: still 64 rows, and start-up ends.
        {"0x7FFFFFFF slots", 0x7FFFFFFF, {0, 5}, 2, 64},
        // IDs far past every table and the row count.
        {"slot IDs of 64 and more", 4, {64, 1000, 0xFFFFFFFF, 0}, 4, 4},
        // The token list claims far more entries than the count query did.
        {"a count that grows between the calls", 2, {0, 1, 2, 3, 4, 5, 6, 7}, 5000, 2},
        // ... and fewer: only what was written counts.
        {"a count that shrinks between the calls", 100, {0}, 1, 64},
    };
    for (const auto& c : cases) {
        MainWindowFixture window(4);
        ASSERT_TRUE(window.AddToken(0, "Real", "R0"));
        UiDriver ui(10000, UiDriver::kNoGrace);  // records the reports
        static HostileScript script;
        script = HostileScript();
        script.scriptSlots = true;
        script.slotCount = c.slotCount;
        script.tokenSlots = c.tokenSlots;
        script.tokenCountAnswer = c.tokenCountAnswer;
        script.hostileTokenInfo = true;
        script.tokenFieldByte = 0xE9;  // no blank, no valid UTF-8
        ASSERT_EQ(0, window.StartWith([] { InstallHostileModule(script); })) << c.what;

        EXPECT_EQ(c.rows, MainWindowFixture::RowCount(AppState.TokenListView)) << c.what;
        EXPECT_LE(AppState.TokenCount, static_cast<CK_ULONG>(kMaxSlots)) << c.what;
        EXPECT_LE(AppState.TokenCount, c.slotCount) << c.what;
        // Sessions only for slots that have a row and an entry.
        for (int slot = 0; slot < kMaxSlots; ++slot) {
            if (slot >= static_cast<int>(c.slotCount)) {
                EXPECT_EQ(0u, SessionTable[slot]) << c.what << ": slot " << slot;
            }
        }
        // The fields are shown byte for byte, all 32 of them.
        const std::wstring field(32, L'\xE9');
        for (CK_SLOT_ID slot : c.tokenSlots) {
            if (slot < c.slotCount && slot < static_cast<CK_SLOT_ID>(kMaxSlots)) {
                EXPECT_EQ(field, Cell(AppState.TokenListView, static_cast<int>(slot), 0)) << c.what;
            }
        }
        if (AppState.CurrentSlot >= 0) {
            EXPECT_EQ(field, Cell(AppState.TokenInfoView, 1, 1)) << c.what << ": manufacturer";
            EXPECT_EQ(field.substr(0, 16), Cell(AppState.TokenInfoView, 2, 1)) << c.what << ": serial";
        }
        // Rows past the session table are refused cleanly, row 0 works.
        for (int row : {c.rows - 1, 70, 0}) {
            window.ClickTokenRow(row);
            EXPECT_TRUE(IsWindow(window.Window())) << c.what;
        }
        if (c.rows > 0 && SessionTable[0] != 0) {
            EXPECT_TRUE(window.ButtonEnabled(kDisplayObjectsButton)) << c.what;
        }
        EXPECT_TRUE(ui.Unexpected().empty()) << c.what << ": " << Narrow(ui.Unexpected()[0].text);
        EXPECT_TRUE(ProcessHeapsAreIntact()) << c.what;
        RemoveHostileModule();
    }
}

// Attribute values that do not fit, lengths that lie or are unavailable.
TEST_F(HostileModuleTest, AttributeAnswersNeverOverrunAndFailuresAreReported) {
    const AttributeBytes longBytes(5000, 'L');
    const struct {
        const char* what;
        HostileObject object;
        bool overstate;
        const wchar_t* report;  // text of the "Read object error" box, or none
        int cell;               // a cell of the hostile row to check
        std::wstring expected;
    } cases[] = {
        // An honest module refuses a label longer than the usual buffer; the
        // label is then read into a buffer sized to it.
        {"a 5000-byte label", [&] { auto o = DataObject(2, "x"); o.values[CKA_LABEL] = longBytes; return o; }(),
         false, nullptr, 4, std::wstring(5000, L'L')},
        {"a 5000-byte ID", KeyObject(2, CKO_PUBLIC_KEY, longBytes), false, nullptr, 5,
         [] { std::wstring hex; for (int i = 0; i < 5000; ++i) hex += L"4C"; return hex; }()},
        // A length past every bound gets no memory: the read fails.
        {"a 70000-byte label",
         [] { auto o = DataObject(2, "x"); o.values[CKA_LABEL] = AttributeBytes(70000, 'L'); return o; }(), false,
         L"An error occured due to CKR_BUFFER_TOO_SMALL 0x150\r\n", 0, L""},
        // A length query that contradicts the short buffer's refusal.
        {"a label whose length query answers 50",
         [&] { auto o = DataObject(2, "x"); o.values[CKA_LABEL] = longBytes; o.claimedLength[CKA_LABEL] = 50; return o; }(),
         false, L"An error occured due to CKR_BUFFER_TOO_SMALL 0x150\r\n", 0, L""},
        // A careless one fills the buffer and reports the whole length.
        {"an overstated label", [&] { auto o = DataObject(2, "x"); o.values[CKA_LABEL] = longBytes; return o; }(),
         true, nullptr, 4, std::wstring(100, L'L')},
        {"an overstated ID", KeyObject(2, CKO_PRIVATE_KEY, AttributeBytes(5000, 0xAB)), true, nullptr, 5,
         [] { std::wstring hex; for (int i = 0; i < 100; ++i) hex += L"AB"; return hex; }()},
        // CKR_OK with CK_UNAVAILABLE_INFORMATION for the label and the ID.
        {"unavailable label and ID",
         [] { auto o = KeyObject(2, CKO_PUBLIC_KEY, {1}); o.unavailable = {CKA_LABEL, CKA_ID}; return o; }(),
         false, nullptr, 5, L""},
        {"unavailable label", [] { auto o = DataObject(2, "x"); o.unavailable = {CKA_LABEL}; return o; }(), false,
         nullptr, 4, L""},
        // A label of bytes that are no UTF-8 is widened byte by byte.
        {"a label of non-UTF-8 bytes",
         [] { auto o = DataObject(2, "x"); o.values[CKA_LABEL] = AttributeBytes(100, 0xFF); return o; }(), false,
         nullptr, 4, std::wstring(100, L'\xFF')},
    };
    ASSERT_EQ(0, StartHostile(HostileScript()));
    for (const auto& c : cases) {
        HostileScript& script = ActiveScript();
        script.scriptObjects = true;
        script.overstateLengths = c.overstate;
        script.objects = {DataObject(1, "first"), c.object};
        UiDriver ui(10000, UiDriver::kNoGrace);  // records the reports
        ASSERT_TRUE(DisplayObjects()) << c.what << ": the listing never ended";
        if (c.report) {
            ASSERT_EQ(1u, ui.Unexpected().size()) << c.what;
            EXPECT_EQ(L"Read object error", ui.Unexpected()[0].caption) << c.what;
            EXPECT_EQ(c.report, ui.Unexpected()[0].text) << c.what;
            EXPECT_EQ(1, ObjectRows()) << c.what << ": the row before the failure stays";
        } else {
            EXPECT_TRUE(ui.Unexpected().empty()) << c.what << ": " << Narrow(ui.Unexpected()[0].text);
            ASSERT_EQ(2, ObjectRows()) << c.what;
            EXPECT_EQ(c.expected, CellText(AppState.ObjectListView, 1, c.cell, 20000)) << c.what;
        }
        EXPECT_EQ(L"first", Cell(AppState.ObjectListView, 0, 4)) << c.what;
        ExpectWindowStillUsable(c.what);
        ActiveScript().overstateLengths = false;
    }
}

// Certificate values that are no certificate: the name cell stays empty,
// the decoder never sees what DER forbids, the listing goes on.
TEST_F(HostileModuleTest, CertificateValuesThatAreNoCertificate) {
    ReportCrashingCase(nullptr);
    AttributeBytes truncated = ReadFixture(L"cn_simple.der");
    truncated.resize(truncated.size() / 2);
    const struct {
        const char* what;
        AttributeBytes value;
        const wchar_t* box;  // the one box expected, or none
    } cases[] = {
        {"a sound certificate", ReadFixture(L"cn_simple.der"), nullptr},
        {"a value that is no DER", AttributeBytes(300, 0x5A), nullptr},
        {"an empty value", AttributeBytes(), L"Can't read certificate from the token"},
        {"a certificate whose BIT STRING is empty", CertificateWithEmptyBitString(), nullptr},
        {"a certificate cut in half", truncated, nullptr},
        {"a CKA_VALUE whose length is unavailable", AttributeBytes(), nullptr},
        {"a CKA_VALUE that claims 4 GB", ReadFixture(L"cn_simple.der"), L"Error in allocating memory"},
        {"64 KB of a SEQUENCE's header and zeros",
         [] { AttributeBytes v(65536, 0); v[0] = 0x30; v[1] = 0x83; v[2] = 0x00; v[3] = 0xFF; v[4] = 0xFC; return v; }(),
         nullptr},
    };
    ASSERT_EQ(0, StartHostile(HostileScript()));
    std::string current;
    for (const auto& c : cases) {
        current = c.what;
        ReportCrashingCase(&current);
        HostileScript& script = ActiveScript();
        script.scriptObjects = true;
        script.objects = {CertificateObject(1, c.value), DataObject(2, "next")};
        if (current == "a CKA_VALUE whose length is unavailable")
            script.objects[0].unavailable = {CKA_VALUE};
        if (current == "a CKA_VALUE that claims 4 GB")
            script.objects[0].claimedLength[CKA_VALUE] = 0xFFFFFFF0;
        UiDriver ui(10000, UiDriver::kNoGrace);  // records the reports
        ASSERT_TRUE(DisplayObjects()) << c.what << ": the listing never ended";
        ASSERT_EQ(2, ObjectRows()) << c.what << ": the listing goes on past the certificate";
        EXPECT_EQ(L"Digital certificate", Cell(AppState.ObjectListView, 0, 1)) << c.what;
        const bool sound = c.value == ReadFixture(L"cn_simple.der") && script.objects[0].claimedLength.empty();
        const std::wstring expectedName = sound ? L"Alice Example" : L"";
        EXPECT_EQ(expectedName, Cell(AppState.ObjectListView, 0, 2)) << c.what;
        if (c.box) {
            ASSERT_EQ(1u, ui.Unexpected().size()) << c.what;
            EXPECT_EQ(c.box, ui.Unexpected()[0].text) << c.what;
        } else {
            EXPECT_TRUE(ui.Unexpected().empty()) << c.what << ": " << Narrow(ui.Unexpected()[0].text);
        }
        ExpectWindowStillUsable(c.what);
    }
    ReportCrashingCase(nullptr);
}

// A search that hands out handles for ever: the listing stops at its cap,
// says so once, ends the search and gives the window back.
TEST_F(HostileModuleTest, EndlessSearchStopsAtTheCap) {
    HostileScript script;
    script.scriptObjects = true;
    script.endlessSearch = true;
    ASSERT_EQ(0, StartHostile(script));
    UiDriver ui(10000, UiDriver::kNoGrace);  // records the reports
    ASSERT_TRUE(DisplayObjects()) << "the listing never ended";
    EXPECT_EQ(kMaxListedObjects, ObjectRows());
    EXPECT_EQ(kMaxListedObjects, ObjectRowCount());
    EXPECT_GE(HostileHandlesFound(), static_cast<unsigned long>(kMaxListedObjects));
    EXPECT_LE(HostileHandlesFound(), static_cast<unsigned long>(kMaxListedObjects) + 1);
    const std::vector<std::string> calls = HostileCallLog();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(1, std::count(calls.begin(), calls.end(), "C_FindObjectsFinal")) << "the search is ended once";
    ASSERT_EQ(1u, ui.Unexpected().size());
    EXPECT_EQ(L"Display objects", ui.Unexpected()[0].caption);
    EXPECT_EQ(kTooManyObjectsText, ui.Unexpected()[0].text);
    ExpectWindowStillUsable("after the endless search");
}

// Each Cryptoki call of a listing fails once, in turn: the failure gets its
// report (or none where the listing keeps quiet), the listing ends, and the
// window lists again afterwards.
TEST_F(HostileModuleTest, EachCallOfAListingFailsInTurn) {
    HostileScript script;
    script.scriptObjects = true;
    const std::vector<HostileObject> objects = {
        CertificateObject(1, ReadFixture(L"cn_simple.der")),
        KeyObject(2, CKO_PUBLIC_KEY, {0x0A, 0x0B}),
        [] {
            HostileObject o = KeyObject(3, CKO_SECRET_KEY, {0x0C});
            o.values[CKA_KEY_TYPE] = UlongBytes(CKK_AES);
            o.values[CKA_VALUE_LEN] = UlongBytes(32);
            return o;
        }(),
        DataObject(4, "data"),
    };
    script.objects = objects;
    ASSERT_EQ(0, StartHostile(script));

    // The calls of a clean listing, from the command on.
    ResetHostileCalls();
    ASSERT_TRUE(DisplayObjects());
    ASSERT_EQ(4, ObjectRows());
    const std::vector<std::string> calls = HostileCallLog();
    ASSERT_GE(calls.size(), 12u) << "every call of the listing is seen";

    for (size_t n = 0; n < calls.size(); ++n) {
        const std::string& call = calls[n];
        const std::string what = "call " + std::to_string(n + 1) + " (" + call + ") fails";
        // What the failure of this call shows.
        const wchar_t* caption = nullptr;
        if (call == "C_FindObjects")
            caption = L"Find object error";
        else if (call.rfind("C_GetAttributeValue:", 0) == 0 && call != "C_GetAttributeValue:11")
            caption = L"Read object error";  // CKA_VALUE (0x11) is the common name's read: quiet
        window_.ClickTokenRow(kSlot);
        HostileScript& active = ActiveScript();
        active.scriptObjects = true;
        active.objects = objects;
        active.failCall = static_cast<long>(n + 1);
        active.failRv = CKR_DEVICE_ERROR;
        ResetHostileCalls();
        UiDriver ui(10000, UiDriver::kNoGrace);  // records the reports
        ASSERT_TRUE(DisplayObjects()) << what << ": the listing never ended";
        EXPECT_EQ(call, HostileCallLog()[n]) << what << ": the listing took another way";
        if (caption) {
            ASSERT_EQ(1u, ui.Unexpected().size()) << what;
            EXPECT_EQ(caption, ui.Unexpected()[0].caption) << what;
            EXPECT_EQ(L"An error occured due to CKR_DEVICE_ERROR 0x30\r\n", ui.Unexpected()[0].text) << what;
        } else {
            EXPECT_TRUE(ui.Unexpected().empty()) << what << ": " << Narrow(ui.Unexpected()[0].text);
        }
        // Every row shown has its handle in the table (the table may hold
        // one more: the object whose read failed).
        for (int row = 0; row < ObjectRows(); ++row)
            EXPECT_EQ(std::to_wstring(ObjectHandleAt(row)), Cell(AppState.ObjectListView, row, 0)) << what;
        ExpectWindowStillUsable(what);
    }
}

// The common name is read from sound DER only; the check comes before the
// decoder, so the empty BIT STRING never reaches it.
TEST(HostileCertificateName, DecoderSeesOnlySoundDer) {
    EXPECT_EQ(L"Alice Example", CommonNameFromCertificate(ReadFixture(L"cn_simple.der")));
    for (int round = 0; round < 50; ++round)
        EXPECT_EQ(L"", CommonNameFromCertificate(CertificateWithEmptyBitString()));
    EXPECT_EQ(L"", CommonNameFromCertificate({0x30, 0x02, 0x03, 0x00}));
    EXPECT_EQ(L"", CommonNameFromCertificate({}));
    EXPECT_TRUE(ProcessHeapsAreIntact()) << "the decoder damaged the heap";
}

}  // namespace
