// "Display objects" in the main window against software tokens made for each
// test: the cells of every kind of object, the tables behind the rows, the
// public-objects warning, the failures of the search, and the guards of a
// listing that is still running.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/TokenPanel.h"
#include "cryptoki/ModuleLoader.h"
#include "objects/ObjectListRows.h"
#include "objects/ObjectListSelection.h"
#include "objects/ObjectTables.h"
#include "objects/TokenObjectList.h"
#include "support/CallCounter.h"
#include "support/MainWindowFixture.h"
#include "support/ObjectTemplates.h"
#include "support/UiDriver.h"

namespace {

using Cells = std::vector<std::wstring>;

constexpr CK_SLOT_ID kSlot = 0;
constexpr char kSoPin[] = "tolvane";
const wchar_t kWarningCaption[] = L"User not logged in";
const wchar_t kWarningText[] = L"Only public objects are visible.\nTo see all token objects, please login to token.\n\r";

std::vector<unsigned char> Id(size_t length, unsigned char first) {
    std::vector<unsigned char> id;
    for (size_t i = 0; i < length; ++i)
        id.push_back(static_cast<unsigned char>(first + i));
    return id;
}

std::wstring Hex(const std::vector<unsigned char>& bytes) {
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text;
    for (unsigned char byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

// Whether a message box shows the system's warning icon (its icon control
// is 20 on Windows, stc1 under Wine).
bool ShowsWarningIcon(HWND box) {
    const HICON warning = LoadIconW(nullptr, IDI_WARNING);
    for (int id : {20, 0x0440}) {
        HWND icon = GetDlgItem(box, id);
        if (icon && reinterpret_cast<HICON>(SendMessageW(icon, STM_GETICON, 0, 0)) == warning)
            return true;
    }
    return false;
}

class ListingWindowTest : public testing::Test {
protected:
    // One token in slot 0 with room for a few hundred objects.
    void SetUp() override {
        SoftTokenParams params = {};
        params.label = "Listing";
        params.serial = "LIST0001";
        params.userPin = kTestUserPin;
        params.capacity = 1 << 20;
        ASSERT_TRUE(window_.AddToken(kSlot, params));
    }

    void Start() { ASSERT_EQ(0, window_.Start()); }

    CK_RV Login(CK_USER_TYPE user, const char* pin) {
        return Cryptoki.FunctionList->C_Login(SessionTable[kSlot], user,
                                              reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin)),
                                              static_cast<CK_ULONG>(strlen(pin)));
    }

    // "Display objects", then the message loop until the listing has ended:
    // the worker's last step enables the token list again.
    void DisplayObjects() {
        window_.Click(kDisplayObjectsCommand);
        ASSERT_TRUE(WaitForListingEnd()) << "the listing never ended";
    }
    bool WaitForListingEnd() {
        return window_.PumpUntil([] { return !AppState.Busy && IsWindowEnabled(AppState.TokenListView); }, 30000);
    }

    static int Rows() { return MainWindowFixture::RowCount(AppState.ObjectListView); }

    static Cells Row(int row) {
        Cells cells;
        for (int cell = 0; cell < 8; ++cell)
            cells.push_back(CellText(AppState.ObjectListView, row, cell, 1000));
        return cells;
    }

    // The first row with this label (and this type, when one is given).
    static int RowLabelled(const std::wstring& label, const std::wstring& type = L"") {
        for (int row = 0; row < Rows(); ++row)
            if (CellText(AppState.ObjectListView, row, 4, 1000) == label &&
                (type.empty() || CellText(AppState.ObjectListView, row, 1, 40) == type))
                return row;
        return -1;
    }

    // Every row shows the handle the handle table holds for it.
    static void ExpectRowsMatchHandleTable() {
        EXPECT_EQ(ObjectRowCount(), Rows());
        for (int row = 0; row < Rows(); ++row)
            ASSERT_EQ(std::to_wstring(ObjectHandleAt(row)), CellText(AppState.ObjectListView, row, 0, 20))
                << "row " << row;
    }

    // The state after a listing has ended, whatever its outcome.
    void ExpectControlsBack() {
        EXPECT_FALSE(ObjectRowsAwaitRepaint()) << "every row of the ended listing is painted";
        EXPECT_FALSE(AppState.Busy);
        EXPECT_TRUE(window_.ButtonEnabled(kDisplayObjectsButton));
        EXPECT_TRUE(window_.ButtonEnabled(kLoginButton));
        EXPECT_TRUE(IsWindowEnabled(AppState.TokenListView));
    }

    MainWindowFixture window_;
    UiDriver ui_;
};

TEST_F(ListingWindowTest, EveryKindOfObjectShowsItsCells) {
    const std::vector<unsigned char> id20 = Id(20, 0xC0);
    const std::vector<unsigned char> id100 = Id(100, 0x01);
    ASSERT_EQ(CKR_OK, TokenStore::Control().GenerateKeyPair(kSlot, 2048, "rsa", id20.data(), 20));
    std::wstring longName;
    for (int i = 0; i < 30; ++i)
        longName += L"Long name \u0141" + std::to_wstring(i % 10);  // 360 units
    const std::vector<unsigned char> longNameCertificate = CertificateWithCommonName(longName, CERT_RDN_UTF8_STRING);
    const std::vector<unsigned char> bmpCertificate = CertificateWithCommonName(L"\u00D6l\u20ACZ", CERT_RDN_BMP_STRING);
    ASSERT_FALSE(longNameCertificate.empty());
    ASSERT_FALSE(bmpCertificate.empty());

    std::vector<ObjectTemplate> objects;
    objects.push_back(ObjectTemplate::EcPublicKey("ec public").Bytes(CKA_ID, std::string("\x0E\xC0", 2)));
    objects.push_back(ObjectTemplate::EcPrivateKey("ec private").Bytes(CKA_ID, std::string("\x0E\xC0", 2)));
    objects.push_back(ObjectTemplate::AesKey("aes", 32).Bool(CKA_PRIVATE, false).Bool(CKA_EXTRACTABLE, true));
    objects.push_back(ObjectTemplate::Data("note"));
    objects.push_back(ObjectTemplate::Data("K\xF6rv"));  // not UTF-8: shown byte by byte
    objects.push_back(ObjectTemplate::Certificate(ReadFixture(L"cn_simple.der"), "alice").Bytes(CKA_ID, id20));
    objects.push_back(ObjectTemplate::Certificate(ReadFixture(L"cn_none.der"), "nameless"));
    objects.push_back(ObjectTemplate::Certificate(longNameCertificate, "long name"));
    objects.push_back(ObjectTemplate::Certificate(bmpCertificate, "bmp name"));
    objects.push_back(ObjectTemplate::EcPublicKey("no id"));
    objects.push_back(ObjectTemplate::EcPublicKey("id100").Bytes(CKA_ID, id100));
    ASSERT_EQ(CKR_OK, AddTokenObjects(kSlot, objects));
    Start();
    ASSERT_EQ(CKR_OK, Login(CKU_USER, kTestUserPin));  // private keys are listed only then

    DisplayObjects();

    EXPECT_TRUE(ui_.Unexpected().empty()) << "no warning for the user, no other box";
    ASSERT_EQ(13, Rows());
    ExpectRowsMatchHandleTable();
    const std::wstring hex20 = Hex(id20);
    const struct {
        const wchar_t* label;
        Cells cells;  // cell 0, the handle, is compared with the handle table above
        std::wstring keyId;
    } expected[] = {
        {L"rsa", {L"RSA Public key", L"N/A", L"No", L"rsa", hex20, L"N/A", L"2048"}, hex20},
        {L"ec public", {L"EC Public key", L"N/A", L"No", L"ec public", L"0EC0", L"N/A", L"256"}, L"0EC0"},
        {L"ec private", {L"EC private key", L"N/A", L"Yes", L"ec private", L"0EC0", L"No", L"256"}, L"0EC0"},
        {L"aes", {L"AES Secret key", L"N/A", L"No", L"aes", L"", L"Yes", L"32"}, L""},
        {L"note", {L"Data object", L"N/A", L"No", L"note", L"N/A", L"No", L"N/A"}, L""},
        {L"K\u00F6rv", {L"Data object", L"N/A", L"No", L"K\u00F6rv", L"N/A", L"No", L"N/A"}, L""},
        {L"alice", {L"Digital certificate", L"Alice Example", L"No", L"alice", hex20, L"N/A", L"N/A"}, L""},
        {L"nameless", {L"Digital certificate", L"", L"No", L"nameless", L"", L"N/A", L"N/A"}, L""},
        {L"long name", {L"Digital certificate", longName, L"No", L"long name", L"", L"N/A", L"N/A"}, L""},
        {L"bmp name", {L"Digital certificate", L"\u00D6l\u20ACZ", L"No", L"bmp name", L"", L"N/A", L"N/A"}, L""},
        {L"no id", {L"EC Public key", L"N/A", L"No", L"no id", L"", L"N/A", L"256"}, L""},
        {L"id100", {L"EC Public key", L"N/A", L"No", L"id100", Hex(id100), L"N/A", L"256"}, Hex(id100)},
    };
    for (const auto& e : expected) {
        const int row = RowLabelled(e.label, e.cells[0]);
        ASSERT_NE(-1, row) << Narrow(e.label);
        Cells cells = Row(row);
        cells.erase(cells.begin());
        EXPECT_EQ(e.cells, cells) << Narrow(e.label);
        const std::string keyId = KeyIdTextAt(row);
        EXPECT_EQ(e.keyId, std::wstring(keyId.begin(), keyId.end())) << Narrow(e.label);
    }
    // The private half of the generated pair: no length shown, same ID.
    int rsaPrivate = -1;
    for (int row = 0; row < Rows(); ++row)
        if (CellText(AppState.ObjectListView, row, 1, 40) == L"RSA private key")
            rsaPrivate = row;
    ASSERT_NE(-1, rsaPrivate);
    EXPECT_EQ(L"N/A", Row(rsaPrivate)[7]);
    EXPECT_EQ(L"Yes", Row(rsaPrivate)[3]);
    EXPECT_EQ(hex20, Row(rsaPrivate)[5]);
    EXPECT_EQ(std::string(hex20.begin(), hex20.end()), KeyIdTextAt(rsaPrivate));
    ExpectControlsBack();
}

// Values longer than the usual buffers (a 300-byte label, a 120-byte ID,
// 40 bytes of EC parameters) are read whole among ordinary objects, and the
// ordinary objects cost no more calls for it: a data object one attribute
// read, an EC key three, a certificate four.
TEST_F(ListingWindowTest, LongValuesAreReadWholeWithoutCallsForOrdinaryObjects) {
    std::string longLabel;
    for (int i = 0; i < 100; ++i)
        longLabel += "\xC3\xA9" "e";  // "ée", 300 bytes of UTF-8
    const std::vector<unsigned char> id120 = Id(120, 0x10);
    const std::vector<unsigned char> params40(40, 0x06);
    ASSERT_EQ(CKR_OK, AddTokenObjects(kSlot, {ObjectTemplate::Data("note"),
                                              ObjectTemplate::EcPublicKey("ec").Bytes(CKA_ID, std::string("\x0E", 1)),
                                              ObjectTemplate::Certificate(ReadFixture(L"cn_simple.der"), "alice")}));
    Start();
    ASSERT_EQ(CKR_OK, Login(CKU_USER, kTestUserPin));  // no public-objects warning
    const long kOrdinaryReads = 1 + 3 + 4;
    CallCounter calls;
    DisplayObjects();
    ASSERT_EQ(3, Rows());
    EXPECT_EQ(kOrdinaryReads, calls.Count("C_GetAttributeValue")) << calls.Summary();

    ASSERT_EQ(CKR_OK, AddTokenObjects(kSlot, {ObjectTemplate::Data(longLabel),
                                              ObjectTemplate::EcPublicKey("long id").Bytes(CKA_ID, id120),
                                              ObjectTemplate::EcPublicKey("long params", params40)
                                                  .Bytes(CKA_ID, std::string("\x0F", 1))}));
    calls.Reset();
    DisplayObjects();
    EXPECT_TRUE(ui_.Unexpected().empty()) << Narrow(ui_.Unexpected()[0].text);
    ASSERT_EQ(6, Rows());
    // The long objects' own reads, and at most a length query and a second
    // read each for the value that does not fit.
    const long longReads = calls.Count("C_GetAttributeValue") - kOrdinaryReads;
    EXPECT_GE(longReads, 1 + 3 + 3) << calls.Summary();
    EXPECT_LE(longReads, 1 + 3 + 3 + 3 * 2) << calls.Summary();

    std::wstring longLabelShown;
    for (int i = 0; i < 100; ++i)
        longLabelShown += L"\u00E9e";
    const struct {
        std::wstring label;
        int cell;
        std::wstring text;
        std::wstring keyId;
    } expected[] = {
        {longLabelShown, 4, longLabelShown, L""},
        {L"long id", 5, Hex(id120), Hex(id120)},
        {L"long params", 7, L"0", L"0F"},  // no curve has such parameters
        {L"ec", 7, L"256", L"0E"},
        {L"note", 5, L"N/A", L""},
        {L"alice", 2, L"Alice Example", L""},
    };
    for (const auto& e : expected) {
        const int row = RowLabelled(e.label);
        ASSERT_NE(-1, row) << Narrow(e.label);
        EXPECT_EQ(e.text, CellText(AppState.ObjectListView, row, e.cell, 1000)) << Narrow(e.label);
        const std::string keyId = KeyIdTextAt(row);
        EXPECT_EQ(e.keyId, std::wstring(keyId.begin(), keyId.end())) << Narrow(e.label);
    }
    ExpectRowsMatchHandleTable();
    ExpectControlsBack();
}

// UniversalString holds UTF-32; Wine 8's crypt32 cannot decode such a name,
// so the case can only be seen on Windows.
TEST_F(ListingWindowTest, UniversalStringCommonNameIsShownAsItsText) {
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine's crypt32 cannot decode a UniversalString in a Name";
    const std::vector<unsigned char> der = CertificateWithCommonName(L"\u00E9t\u00E9 Z", CERT_RDN_UNIVERSAL_STRING);
    ASSERT_FALSE(der.empty());
    ASSERT_EQ(CKR_OK, AddTokenObjects(kSlot, {ObjectTemplate::Certificate(der, "universal")}));
    Start();
    ASSERT_EQ(CKR_OK, Login(CKU_USER, kTestUserPin));
    DisplayObjects();
    ASSERT_EQ(1, Rows());
    EXPECT_EQ(L"\u00E9t\u00E9 Z", Row(0)[2]);
}

TEST_F(ListingWindowTest, ThreeHundredObjectsAreAllListed) {
    ASSERT_EQ(CKR_OK, AddTokenObjects(kSlot, NumberedDataObjects("data ", 300)));
    Start();
    ASSERT_EQ(CKR_OK, Login(CKU_USER, kTestUserPin));
    DisplayObjects();
    ASSERT_EQ(300, Rows());
    ExpectRowsMatchHandleTable();
    for (int i : {0, 259, 260, 299})
        EXPECT_NE(-1, RowLabelled(L"data " + std::to_wstring(i))) << i;
    ExpectControlsBack();
}

// The list shows at most 10,000 rows. The box that says so comes only when
// the token holds more: a token of exactly 10,000 objects lists without it.
TEST_F(ListingWindowTest, CapBoxOnlyWhenAnObjectPastTheCapExists) {
    ASSERT_EQ(CKR_OK, TokenStore::Control().SetCapacity(kSlot, 1 << 24));
    ASSERT_EQ(CKR_OK, AddTokenObjects(kSlot, NumberedDataObjects("data ", kMaxListedObjects)));
    Start();
    ASSERT_EQ(CKR_OK, Login(CKU_USER, kTestUserPin));
    const struct {
        int objects;
        bool box;
    } rows[] = {{kMaxListedObjects, false}, {kMaxListedObjects + 1, true}};
    for (const auto& row : rows) {
        if (row.objects > kMaxListedObjects) {
            ASSERT_EQ(CKR_OK, AddTokenObjects(kSlot, NumberedDataObjects("more ", row.objects - kMaxListedObjects)));
        }
        // The box comes at the end of a listing of 10,001 objects, which on
        // a loaded machine takes longer than a step's usual 10 s.
        UiDriver ui(60000);
        if (row.box)
            ui.Then({L"Display objects", {}, nullptr, IDOK});
        CallCounter calls;
        DisplayObjects();
        std::string why;
        EXPECT_TRUE(ui.WaitDone(&why)) << row.objects << ": " << why;
        EXPECT_TRUE(ui.Unexpected().empty()) << row.objects << ": " << Narrow(ui.Unexpected()[0].text);
        if (row.box) {
            ASSERT_EQ(1u, ui.Seen().size()) << row.objects;
            EXPECT_EQ(kTooManyObjectsText, ui.Seen()[0].text);
        }
        EXPECT_EQ(kMaxListedObjects, Rows()) << row.objects;
        EXPECT_EQ(kMaxListedObjects + 1, calls.Count("C_FindObjects")) << "object 10,001 is asked for";
        ExpectControlsBack();
    }
}

// Shown once per selection of a token in a public or SO session, never to
// the user; a click on the token list arms it again.
TEST_F(ListingWindowTest, PublicObjectsWarningOncePerSelection) {
    ASSERT_EQ(CKR_OK, AddTokenObjects(kSlot, {ObjectTemplate::Data("public")}));
    Start();
    auto warnings = [this] {
        int count = 0;
        for (const SeenWindow& seen : ui_.Seen())
            count += seen.caption == kWarningCaption;
        return count;
    };
    auto expectWarning = [this](const char* when) {
        ui_.Then({kWarningCaption, {}, [when](HWND box) { EXPECT_TRUE(ShowsWarningIcon(box)) << when; }, IDOK});
        DisplayObjects();
        std::string why;
        EXPECT_TRUE(ui_.WaitDone(&why)) << when << ": " << why;
        EXPECT_EQ(1, Rows()) << when;
    };

    expectWarning("public session");
    ASSERT_EQ(1u, ui_.Seen().size());
    EXPECT_EQ(kWarningText, ui_.Seen()[0].text);
    EXPECT_EQ(nullptr, ui_.Seen()[0].owner);
    DisplayObjects();
    EXPECT_EQ(1, Rows()) << "listed again";
    EXPECT_EQ(1, warnings()) << "not again without a click on the token list";

    window_.ClickTokenRow(0);
    expectWarning("after a click on the token list");
    EXPECT_EQ(2, warnings());

    ASSERT_EQ(CKR_OK, Login(CKU_SO, kSoPin));
    window_.ClickTokenRow(0);
    expectWarning("SO session");
    DisplayObjects();
    EXPECT_EQ(3, warnings());

    ASSERT_EQ(CKR_OK, Cryptoki.FunctionList->C_Logout(SessionTable[kSlot]));
    ASSERT_EQ(CKR_OK, Login(CKU_USER, kTestUserPin));
    window_.ClickTokenRow(0);
    DisplayObjects();
    EXPECT_EQ(1, Rows());
    EXPECT_EQ(3, warnings()) << "the user sees every object";
    EXPECT_TRUE(AppState.PublicOnlyWarningArmed) << "still armed for a later public session";
    EXPECT_TRUE(ui_.Unexpected().empty());
}

// The software token's faults: each failure is reported once, the rows
// already shown stay, and the controls come back.
TEST_F(ListingWindowTest, FailuresAreReportedAndTheControlsComeBack) {
    ASSERT_EQ(CKR_OK, AddTokenObjects(kSlot, NumberedDataObjects("object ", 3)));
    Start();
    ASSERT_EQ(CKR_OK, Login(CKU_USER, kTestUserPin));
    const struct {
        const char* function;
        CK_ULONG nth;
        CK_RV rv;
        const wchar_t* caption;  // null: no report
        const wchar_t* text;
        int rows;
    } cases[] = {
        // The third search step fails after two objects were shown.
        {"C_FindObjects", 3, CKR_DEVICE_ERROR, L"Find object error",
         L"An error occured due to CKR_DEVICE_ERROR 0x30\r\n", 2},
        // One attribute read per data object: the second object cannot be read.
        {"C_GetAttributeValue", 2, CKR_DEVICE_REMOVED, L"Read object error",
         L"An error occured due to CKR_DEVICE_REMOVED 0x32\r\n", 1},
        // The search cannot start: nothing listed, nothing said.
        {"C_FindObjectsInit", 1, CKR_DEVICE_ERROR, nullptr, nullptr, 0},
    };
    for (const auto& c : cases) {
        UiDriver ui;
        if (c.caption)
            ui.Then({c.caption, {}, nullptr, IDOK});
        CallCounter calls;
        ASSERT_EQ(CKR_OK, TokenStore::Control().SetFault(c.function, c.nth, c.rv));
        DisplayObjects();
        std::string why;
        ASSERT_TRUE(ui.WaitDone(&why)) << c.function << ": " << why;
        if (c.caption) {
            ASSERT_EQ(1u, ui.Seen().size()) << c.function;
            EXPECT_EQ(c.text, ui.Seen()[0].text) << c.function;
            EXPECT_EQ(nullptr, ui.Seen()[0].owner) << c.function;
        }
        EXPECT_TRUE(ui.Unexpected().empty()) << c.function;
        EXPECT_EQ(c.rows, Rows()) << c.function;
        EXPECT_GE(calls.Count("C_FindObjectsFinal"), 1) << c.function << ": the search is ended";
        ExpectControlsBack();
        TokenStore::Control().ClearFaults();

        // The search was ended: the next listing runs to its end.
        DisplayObjects();
        EXPECT_EQ(3, Rows()) << "after " << c.function;
        ExpectRowsMatchHandleTable();
    }
}

// Long enough that the listing still runs after its first batch of rows.
constexpr int kLongListing = 1500;
// The search step at which the tests hold the listing's worker: its first
// batch of rows is on the list by then, and most of the listing is to come.
constexpr long kHeldSearchStep = 300;

// While a listing runs, the buttons and the token list are disabled, a
// further "Display objects" (a quick second click) neither empties the list
// nor starts a second search, and the rows keep matching the handle table.
TEST_F(ListingWindowTest, SecondClickWhileListingStartsNothing) {
    ASSERT_EQ(CKR_OK, AddTokenObjects(kSlot, NumberedDataObjects("data ", kLongListing)));
    Start();
    ASSERT_EQ(CKR_OK, Login(CKU_USER, kTestUserPin));
    CallCounter calls;
    calls.HoldAt("C_FindObjects", kHeldSearchStep);

    window_.Click(kDisplayObjectsCommand);
    ASSERT_TRUE(AppState.Busy);
    EXPECT_FALSE(window_.ButtonEnabled(kDisplayObjectsButton));
    EXPECT_FALSE(IsWindowEnabled(AppState.TokenListView));
    window_.Click(kDisplayObjectsCommand);  // the quick second click
    ASSERT_TRUE(window_.PumpEachUntil([&calls] { return Rows() >= 50 && calls.Held(); }));
    ASSERT_TRUE(AppState.Busy) << "the listing should still run";
    EXPECT_FALSE(window_.ButtonEnabled(kDisplayObjectsButton)) << "nothing re-enables the buttons meanwhile";
    MainWindowFixture::ClickRow(AppState.TokenListView, 0);  // the selection steps may not enable them either
    EXPECT_FALSE(window_.ButtonEnabled(kDisplayObjectsButton));
    window_.Click(kDisplayObjectsCommand);  // a third, in the middle
    calls.Release();
    ASSERT_TRUE(WaitForListingEnd());

    EXPECT_EQ(1, calls.Count("C_FindObjectsInit")) << calls.Summary();
    EXPECT_EQ(kLongListing, Rows());
    ExpectRowsMatchHandleTable();
    ExpectControlsBack();
}

// A double-click on a certificate row while its listing still runs does
// not show the certificate: the worker owns the session until it ends.
TEST_F(ListingWindowTest, DoubleClickOnARowOfARunningListingIsIgnored) {
    std::vector<ObjectTemplate> objects;
    objects.push_back(ObjectTemplate::Certificate(ReadFixture(L"cn_simple.der"), "alice"));
    for (ObjectTemplate& data : NumberedDataObjects("data ", kLongListing))
        objects.push_back(std::move(data));
    ASSERT_EQ(CKR_OK, AddTokenObjects(kSlot, objects));
    Start();
    ASSERT_EQ(CKR_OK, Login(CKU_USER, kTestUserPin));

    CallCounter calls;
    calls.HoldAt("C_FindObjects", kHeldSearchStep);
    window_.Click(kDisplayObjectsCommand);
    ASSERT_TRUE(window_.PumpEachUntil([&calls] { return Rows() >= 2 && calls.Held(); }));
    ASSERT_TRUE(AppState.Busy);
    ASSERT_EQ(L"Digital certificate", CellText(AppState.ObjectListView, 0, 1, 40));
    // The worker waits at its search, so every Cryptoki call from now on
    // is the double-click's.
    calls.Reset();
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(AppState.ObjectListView, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&item));
    NMITEMACTIVATE click = {};
    click.hdr.hwndFrom = AppState.ObjectListView;
    click.hdr.idFrom = kObjectListId;
    click.hdr.code = NM_DBLCLK;
    click.iItem = 0;
    SendMessageW(window_.Window(), WM_NOTIFY, kObjectListId, reinterpret_cast<LPARAM>(&click));
    EXPECT_EQ(0, calls.Total()) << calls.Summary();
    EXPECT_FALSE(window_.ButtonEnabled(kExportButton)) << "the export rule waits for the end too";

    calls.Release();
    ASSERT_TRUE(WaitForListingEnd());
    EXPECT_EQ(kLongListing + 1, Rows());
    EXPECT_TRUE(ui_.Unexpected().empty());
    window_.ClickObjectRow(0);
    EXPECT_TRUE(window_.ButtonEnabled(kExportButton)) << "a certificate row, once the listing has ended";
}

// A slow token shows its first object as soon as it is read: the row is in
// the list while the worker still waits for its second search step, and
// the list is repainted for it at once. The rows that follow in quick
// batches wait for one repaint, which comes at the latest when the listing
// ends.
TEST_F(ListingWindowTest, TheFirstRowShowsBeforeTheSecondIsSought) {
    ASSERT_EQ(CKR_OK, AddTokenObjects(kSlot, NumberedDataObjects("data ", kLongListing)));
    Start();
    ASSERT_EQ(CKR_OK, Login(CKU_USER, kTestUserPin));
    CallCounter calls;
    calls.HoldAt("C_FindObjects", 2);
    window_.Click(kDisplayObjectsCommand);
    ASSERT_TRUE(window_.PumpEachUntil([&calls] { return calls.Held(); }));
    EXPECT_EQ(1, Rows());
    EXPECT_EQ(L"data 0", Row(0)[4]);
    EXPECT_FALSE(ObjectRowsAwaitRepaint()) << "the first row is painted at once";
    calls.Release();
    ASSERT_TRUE(WaitForListingEnd());
    EXPECT_EQ(kLongListing, Rows());
    ExpectRowsMatchHandleTable();
    ExpectControlsBack();
}

// Batches that come quickly after the first rows are put in without a
// repaint; the held repaint happens when asked for (a listing's end or box)
// and when the list is emptied, so that no list stays unpainted.
TEST_F(ListingWindowTest, QuickBatchesShareOneRepaint) {
    Start();
    auto batch = [](int firstRow, int rows) {
        ObjectRowBatch made;
        made.generation = ObjectListGeneration();
        made.firstRow = firstRow;
        for (int i = 0; i < rows; ++i) {
            ListedRow row;
            row.handle = static_cast<CK_OBJECT_HANDLE>(firstRow + i + 1);
            row.cells[0] = std::to_wstring(row.handle);
            made.rows.push_back(row);
        }
        return made;
    };
    for (bool emptyInstead : {false, true}) {
        EmptyObjectList(AppState.ObjectListView);
        ASSERT_TRUE(AddListedRows(AppState.ObjectListView, batch(0, 1)));
        EXPECT_FALSE(ObjectRowsAwaitRepaint()) << "the first row is painted at once";
        ASSERT_TRUE(AddListedRows(AppState.ObjectListView, batch(1, 20)));
        EXPECT_TRUE(ObjectRowsAwaitRepaint()) << "a batch right after the first waits for its repaint";
        EXPECT_EQ(21, Rows());
        EXPECT_EQ(21u, ObjectHandleAt(20));
        if (emptyInstead)
            EmptyObjectList(AppState.ObjectListView);
        else
            ShowHeldObjectRows(AppState.ObjectListView);
        EXPECT_FALSE(ObjectRowsAwaitRepaint()) << (emptyInstead ? "emptied" : "shown");
    }
}

// A long listing reaches the window thread in few hand-overs: the first row
// alone, then batches that double from 256 rows up to 4096. Each hand-over
// costs two thread switches, slow on a loaded machine. (A batch may also be
// cut short when its rows take 200 ms to read, hence the margin.)
TEST_F(ListingWindowTest, ALongListingTakesFewHandOvers) {
    constexpr int kObjects = 5000;
    ASSERT_EQ(CKR_OK, TokenStore::Control().SetCapacity(kSlot, 1 << 24));
    ASSERT_EQ(CKR_OK, AddTokenObjects(kSlot, NumberedDataObjects("data ", kObjects)));
    Start();
    class CountingSink : public ObjectRowSink {
    public:
        bool AddRows(const ObjectRowBatch& batch) override {
            sizes.push_back(batch.rows.size());
            return AddListedRows(AppState.ObjectListView, batch);
        }
        void ShowNotice(const wchar_t*) override {}
        bool StopRequested() override { return false; }
        std::vector<size_t> sizes;
    } sink;
    EmptyObjectList(AppState.ObjectListView);
    const ListingOutcome outcome = ListTokenObjects(SessionTable[kSlot], ObjectListGeneration(), sink);
    ShowHeldObjectRows(AppState.ObjectListView);
    EXPECT_EQ(0, outcome.status);
    EXPECT_EQ(kObjects, Rows());
    ASSERT_FALSE(sink.sizes.empty());
    EXPECT_EQ(1u, sink.sizes[0]) << "the first row alone";
    for (size_t size : sink.sizes)
        EXPECT_LE(size, 4096u);
    EXPECT_LE(sink.sizes.size(), 12u) << "1 + 256 + 512 + 1024 + 2048 + 1159 rows: 6 hand-overs, 21 in batches of 256";
    ExpectRowsMatchHandleTable();
}

}  // namespace
