// The object listing against the software token, into a real list view.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/AppState.h"
#include "cryptoki/ModuleLoader.h"
#include "objects/ObjectListSelection.h"
#include "objects/ObjectTables.h"
#include "objects/TokenObjectList.h"
#include "support/DirectListing.h"
#include "support/TokenStore.h"
#include "support/UiDriver.h"

namespace {

using Cells = std::vector<std::wstring>;

CK_OBJECT_CLASS kData = CKO_DATA, kCertificate = CKO_CERTIFICATE, kPublic = CKO_PUBLIC_KEY,
                kSecret = CKO_SECRET_KEY;
CK_KEY_TYPE kEc = CKK_EC, kAes = CKK_AES;
CK_CERTIFICATE_TYPE kX509 = CKC_X_509;
CK_BBOOL kTrue = CK_TRUE, kFalse = CK_FALSE;
const unsigned char kPrime256v1[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
const unsigned char kEcPoint[] = {0x04, 0x41, 0x04, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14,
                                  15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31,
                                  32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48,
                                  49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64};

CK_ATTRIBUTE Attr(CK_ATTRIBUTE_TYPE type, const void* value, size_t length) {
    return {type, const_cast<void*>(value), static_cast<CK_ULONG>(length)};
}

template <typename T>
CK_ATTRIBUTE Attr(CK_ATTRIBUTE_TYPE type, const T& value) {
    return Attr(type, &value, sizeof value);
}

// A report-style list view with the object list's eight columns, standing in
// for the main window's.
class ListingTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(store_.AddToken(0, "Listing", "L0001"));
        ASSERT_TRUE(store_.LoadModule());
        ASSERT_TRUE(store_.OpenSession(0));
        AppState.CurrentSlot = 0;  // the token is the selected one, as the window has it
        frame_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 800, 400, nullptr, nullptr,
                                 nullptr, nullptr);
        AppState.ObjectListView = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | LVS_REPORT, 0, 0,
                                                  800, 400, frame_, nullptr, nullptr, nullptr);
        for (int i = 0; i < 8; ++i) {
            LVCOLUMNW column = {};
            column.mask = LVCF_WIDTH;
            column.cx = 80;
            SendMessageW(AppState.ObjectListView, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
        }
    }

    void TearDown() override { DestroyWindow(frame_); }

    void Add(std::vector<CK_ATTRIBUTE> attributes) {
        const CK_ATTRIBUTE* templates[] = {attributes.data()};
        const CK_ULONG counts[] = {static_cast<CK_ULONG>(attributes.size())};
        ASSERT_EQ(TokenStore::Control().AddObjects(0, templates, counts, 1), CKR_OK);
    }

    int Rows() { return static_cast<int>(SendMessageW(AppState.ObjectListView, LVM_GETITEMCOUNT, 0, 0)); }

    Cells Row(int row) {
        Cells cells;
        for (int cell = 0; cell < 8; ++cell)
            cells.push_back(CellText(AppState.ObjectListView, row, cell, 1000));
        return cells;
    }

    // The row whose label cell reads `label`, or -1.
    int RowLabelled(const std::wstring& label) {
        for (int row = 0; row < Rows(); ++row)
            if (CellText(AppState.ObjectListView, row, 4, 1000) == label)
                return row;
        return -1;
    }

    TokenStore store_;
    HWND frame_ = nullptr;
};

TEST_F(ListingTest, EmptyTokenListsNothing) {
    EXPECT_EQ(ListTokenObjectsHere(AppState.ObjectListView, 0), 0);
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(ObjectRowCount(), 0);
}

TEST_F(ListingTest, EveryKindOfObjectGetsItsCells) {
    const unsigned char id20[20] = {0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    ASSERT_EQ(TokenStore::Control().GenerateKeyPair(0, 2048, "rsa", id20, sizeof id20), CKR_OK);
    const std::vector<unsigned char> alice = ReadFixture(L"cn_simple.der");
    const std::vector<unsigned char> noName = ReadFixture(L"cn_none.der");
    ASSERT_FALSE(alice.empty());
    Add({Attr(CKA_CLASS, kCertificate), Attr(CKA_CERTIFICATE_TYPE, kX509), Attr(CKA_TOKEN, kTrue),
         Attr(CKA_VALUE, alice.data(), alice.size()), Attr(CKA_LABEL, "alice", 5), Attr(CKA_ID, "\x0A\xFF", 2)});
    Add({Attr(CKA_CLASS, kCertificate), Attr(CKA_CERTIFICATE_TYPE, kX509), Attr(CKA_TOKEN, kTrue),
         Attr(CKA_VALUE, noName.data(), noName.size()), Attr(CKA_LABEL, "nameless", 8)});
    Add({Attr(CKA_CLASS, kPublic), Attr(CKA_KEY_TYPE, kEc), Attr(CKA_TOKEN, kTrue), Attr(CKA_LABEL, "ecpub", 5),
         Attr(CKA_ID, "\x01", 1), Attr(CKA_EC_PARAMS, kPrime256v1, sizeof kPrime256v1),
         Attr(CKA_EC_POINT, kEcPoint, sizeof kEcPoint)});
    const unsigned char aesValue[32] = {1};
    Add({Attr(CKA_CLASS, kSecret), Attr(CKA_KEY_TYPE, kAes), Attr(CKA_TOKEN, kTrue), Attr(CKA_PRIVATE, kFalse),
         Attr(CKA_LABEL, "aes", 3), Attr(CKA_VALUE, aesValue, sizeof aesValue), Attr(CKA_EXTRACTABLE, kTrue)});
    Add({Attr(CKA_CLASS, kData), Attr(CKA_TOKEN, kTrue), Attr(CKA_LABEL, "data", 4), Attr(CKA_VALUE, "x", 1)});
    // A label that is not UTF-8 is shown byte by byte.
    Add({Attr(CKA_CLASS, kData), Attr(CKA_TOKEN, kTrue), Attr(CKA_LABEL, "K\xF6r", 3)});
    // A session object is not listed.
    CK_ATTRIBUTE sessionObject[] = {Attr(CKA_CLASS, kData), Attr(CKA_TOKEN, kFalse), Attr(CKA_LABEL, "session", 7)};
    CK_OBJECT_HANDLE created = 0;
    ASSERT_EQ(Cryptoki.FunctionList->C_CreateObject(SessionTable[0], sessionObject, 3, &created), CKR_OK);

    ASSERT_EQ(ListTokenObjectsHere(AppState.ObjectListView, 0), 0);
    EXPECT_EQ(RowLabelled(L"session"), -1);
    EXPECT_NE(RowLabelled(L"K\u00F6r"), -1);

    const std::wstring hex20 = L"DEADBEEF0102030405060708090A0B0C0D0E0F10";
    const struct {
        const wchar_t* label;
        Cells cells;  // cell 0, the handle, is checked against the handle table
        const char* keyId;  // only public and private keys carry one
    } expected[] = {
        {L"alice", {L"", L"Digital certificate", L"Alice Example", L"No", L"alice", L"0AFF", L"N/A", L"N/A"}, ""},
        {L"nameless", {L"", L"Digital certificate", L"", L"No", L"nameless", L"", L"N/A", L"N/A"}, ""},
        {L"ecpub", {L"", L"EC Public key", L"N/A", L"No", L"ecpub", L"01", L"N/A", L"256"}, "01"},
        {L"aes", {L"", L"AES Secret key", L"N/A", L"No", L"aes", L"", L"Yes", L"32"}, ""},
        {L"data", {L"", L"Data object", L"N/A", L"No", L"data", L"N/A", L"No", L"N/A"}, ""},
    };
    for (const auto& e : expected) {
        const int row = RowLabelled(e.label);
        ASSERT_NE(row, -1) << Narrow(e.label);
        Cells cells = Row(row);
        EXPECT_EQ(cells[0], std::to_wstring(ObjectHandleAt(row))) << Narrow(e.label);
        cells[0].clear();
        EXPECT_EQ(cells, e.cells) << Narrow(e.label);
        EXPECT_EQ(KeyIdTextAt(row), e.keyId) << Narrow(e.label);
    }

    // The generated pair: public key with its size, private key hidden until login.
    int rsa = -1;
    for (int row = 0; row < Rows(); ++row)
        if (CellText(AppState.ObjectListView, row, 1, 100) == L"RSA Public key")
            rsa = row;
    ASSERT_NE(rsa, -1);
    EXPECT_EQ(Row(rsa)[7], L"2048");
    EXPECT_EQ(Row(rsa)[5], hex20);
    EXPECT_EQ(KeyIdTextAt(rsa), "DEADBEEF0102030405060708090A0B0C0D0E0F10");
    for (int row = 0; row < Rows(); ++row)
        EXPECT_NE(CellText(AppState.ObjectListView, row, 1, 100), L"RSA private key") << "private before login";
}

TEST_F(ListingTest, PrivateObjectsAppearAfterLogin) {
    ASSERT_EQ(TokenStore::Control().GenerateKeyPair(0, 1024, "pair", reinterpret_cast<const unsigned char*>("\x0A\xFF"), 2), CKR_OK);
    ASSERT_EQ(Cryptoki.FunctionList->C_Login(SessionTable[0], CKU_USER,
                                             reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(kTestUserPin)), 4),
              CKR_OK);
    ASSERT_EQ(ListTokenObjectsHere(AppState.ObjectListView, 0), 0);
    ASSERT_EQ(Rows(), 2);
    const int privateRow = CellText(AppState.ObjectListView, 0, 1, 100) == L"RSA private key" ? 0 : 1;
    const Cells cells = Row(privateRow);
    EXPECT_EQ(cells[1], L"RSA private key");
    EXPECT_EQ(cells[3], L"Yes");
    EXPECT_EQ(cells[5], L"0AFF");
    EXPECT_EQ(cells[7], L"N/A");
    EXPECT_EQ(KeyIdTextAt(privateRow), "0AFF");
}

TEST_F(ListingTest, ListsEveryObjectBeyondThe260RowsOfOld) {
    std::vector<std::vector<CK_ATTRIBUTE>> templates;
    std::vector<std::string> labels(300);
    for (int i = 0; i < 300; ++i) {
        labels[i] = "data " + std::to_string(i);
        templates.push_back({Attr(CKA_CLASS, kData), Attr(CKA_TOKEN, kTrue),
                             Attr(CKA_LABEL, labels[i].data(), labels[i].size())});
    }
    std::vector<const CK_ATTRIBUTE*> pointers;
    std::vector<CK_ULONG> counts;
    for (auto& t : templates) {
        pointers.push_back(t.data());
        counts.push_back(static_cast<CK_ULONG>(t.size()));
    }
    TokenStore::Control().SetCapacity(0, 1 << 20);
    ASSERT_EQ(TokenStore::Control().AddObjects(0, pointers.data(), counts.data(), 300), CKR_OK);
    ASSERT_EQ(ListTokenObjectsHere(AppState.ObjectListView, 0), 0);
    EXPECT_EQ(Rows(), 300);
    EXPECT_EQ(ObjectRowCount(), 300);
    EXPECT_NE(ObjectHandleAt(299), 0u);
    EXPECT_NE(RowLabelled(L"data 299"), -1);
}

TEST_F(ListingTest, FailingSearchIsReportedAndEndsTheListing) {
    Add({Attr(CKA_CLASS, kData), Attr(CKA_TOKEN, kTrue), Attr(CKA_LABEL, "one", 3)});
    Add({Attr(CKA_CLASS, kData), Attr(CKA_TOKEN, kTrue), Attr(CKA_LABEL, "two", 3)});
    TokenStore::Control().SetFault("C_FindObjects", 2, CKR_DEVICE_ERROR);
    UiDriver ui;
    ui.Press(IDOK);
    EXPECT_EQ(ListTokenObjectsHere(AppState.ObjectListView, 0), 1);
    std::string why;
    ASSERT_TRUE(ui.WaitDone(&why)) << why;
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].caption, L"Find object error");
    EXPECT_EQ(ui.Seen()[0].text, L"An error occured due to CKR_DEVICE_ERROR 0x30\r\n");
    EXPECT_EQ(Rows(), 1) << "the row found before the failure stays";
    // The search was ended: a new one can start (on an emptied list, as
    // every caller starts one).
    SendMessageW(AppState.ObjectListView, LVM_DELETEALLITEMS, 0, 0);
    EXPECT_EQ(ListTokenObjectsHere(AppState.ObjectListView, 0), 0);
    EXPECT_EQ(Rows(), 2);
}

// A row that cannot stand at its own index (the list holds other rows) is
// never shown: export, view and delete would take another row's object.
TEST_F(ListingTest, RowsThatCannotLandAtTheirIndexEndTheListing) {
    Add({Attr(CKA_CLASS, kData), Attr(CKA_TOKEN, kTrue), Attr(CKA_LABEL, "one", 3)});
    LVITEMW stray = {};
    stray.mask = LVIF_TEXT;
    stray.pszText = const_cast<wchar_t*>(L"stray");
    SendMessageW(AppState.ObjectListView, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&stray));
    EXPECT_EQ(ListTokenObjectsHere(AppState.ObjectListView, 0), 0);
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(CellText(AppState.ObjectListView, 0, 0, 20), L"stray");
    EXPECT_EQ(ObjectRowCount(), 0) << "the tables describe no row";
    // The search was ended all the same.
    SendMessageW(AppState.ObjectListView, LVM_DELETEALLITEMS, 0, 0);
    EXPECT_EQ(ListTokenObjectsHere(AppState.ObjectListView, 0), 0);
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(Row(0)[4], L"one");
}

TEST_F(ListingTest, FailingAttributeReadKeepsTheRowsShown) {
    Add({Attr(CKA_CLASS, kData), Attr(CKA_TOKEN, kTrue), Attr(CKA_LABEL, "one", 3)});
    Add({Attr(CKA_CLASS, kData), Attr(CKA_TOKEN, kTrue), Attr(CKA_LABEL, "two", 3)});
    TokenStore::Control().SetFault("C_GetAttributeValue", 2, CKR_DEVICE_REMOVED);
    UiDriver ui;
    ui.Press(IDOK);
    EXPECT_EQ(ListTokenObjectsHere(AppState.ObjectListView, 0), 1);
    std::string why;
    ASSERT_TRUE(ui.WaitDone(&why)) << why;
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].caption, L"Read object error");
    EXPECT_EQ(ui.Seen()[0].text, L"An error occured due to CKR_DEVICE_REMOVED 0x32\r\n");
    EXPECT_EQ(Rows(), 1);
}

// Labels are read whole, however long: the usual buffer's 100 bytes, one
// more, and 300 bytes of UTF-8.
TEST_F(ListingTest, LabelsAreShownWholeWhateverTheirLength) {
    std::string euros;
    for (int i = 0; i < 100; ++i)
        euros += "\xE2\x82\xAC";
    const struct {
        std::string label;
        std::wstring shown;
    } rows[] = {
        {std::string(100, 'a'), std::wstring(100, L'a')},
        {std::string(101, 'b'), std::wstring(101, L'b')},
        {euros, std::wstring(100, L'\u20AC')},
    };
    for (const auto& row : rows)
        Add({Attr(CKA_CLASS, kData), Attr(CKA_TOKEN, kTrue), Attr(CKA_LABEL, row.label.data(), row.label.size())});
    UiDriver ui;
    EXPECT_EQ(ListTokenObjectsHere(AppState.ObjectListView, 0), 0);
    EXPECT_TRUE(ui.Unexpected().empty()) << Narrow(ui.Unexpected()[0].text);
    EXPECT_EQ(Rows(), 3);
    for (const auto& row : rows)
        EXPECT_NE(RowLabelled(row.shown), -1) << row.label.size() << " bytes";
}

}  // namespace
