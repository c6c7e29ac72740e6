// What the object list offers beyond its cells: a certificate row's info
// tip, read from the certificate on the token, and the PKCS#11 URI of the
// selected object on the clipboard.
#include "ObjectsWindowFixture.h"

#include <commctrl.h>

#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/InfoTips.h"
#include "objects/Pkcs11UriCommand.h"
#include "support/ClipboardText.h"

namespace {


class ObjectRowExtrasTest : public ObjectsWindowTest {
protected:
    // The tip of `row`, asked as the list view asks.
    std::wstring ListViewTip(int row) {
        wchar_t text[2048] = L"stale";
        NMLVGETINFOTIPW request = {};
        request.hdr.hwndFrom = AppState.ObjectListView;
        request.hdr.idFrom = kObjectListId;
        request.hdr.code = LVN_GETINFOTIPW;
        request.pszText = text;
        request.cchTextMax = ARRAYSIZE(text);
        request.iItem = row;
        SendMessageW(window_.Window(), WM_NOTIFY, kObjectListId, reinterpret_cast<LPARAM>(&request));
        return text;
    }
};

TEST_F(ObjectRowExtrasTest, CertificateRowsHaveTipsAndKeyRowsNone) {
    AddCertificate("alice", ReadFixture(L"imp_ee.der"));
    AddKeyPair("pair");
    ListObjects();
    const int certificate = RowLabelled(L"alice");
    ASSERT_GE(certificate, 0);
    EXPECT_TRUE(SendMessageW(AppState.ObjectListView, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_INFOTIP);
    const std::wstring tip = ListViewTip(certificate);
    EXPECT_EQ(tip.rfind(L"Subject: ", 0), 0u) << Narrow(tip);
    EXPECT_NE(tip.find(L"Import CA Two"), std::wstring::npos) << Narrow(tip);
    EXPECT_NE(tip.find(L"\r\nSerial number: 0D\r\n"), std::wstring::npos) << Narrow(tip);
    EXPECT_EQ(ListViewTip((certificate + 1) % 3), L"") << "a key row has no tip";

    // Read from the token each time: a failing read gives no tip, and the
    // next read gives it again.
    TokenStore::Control().SetFault("C_GetAttributeValue", 1, CKR_DEVICE_ERROR);
    EXPECT_EQ(ListViewTip(certificate), L"");
    TokenStore::Control().ClearFaults();
    EXPECT_EQ(ListViewTip(certificate), tip);
}

TEST_F(ObjectRowExtrasTest, ObjectUriNamesTokenAndObject) {
    AddCertificate("my cert/1", ReadFixture(L"cn_simple.der"));
    AddDataObject("notes");
    ListObjects();
    ASSERT_TRUE(PutTextOnClipboard(window_.Window(), L"before"));
    const std::wstring token = L"pkcs11:token=Objects;manufacturer=Tolvane;model=SoftToken;serial=O0001";

    window_.ClickObjectRow(RowLabelled(L"my cert/1"));
    window_.Click(kCopyObjectUriCommand);
    const std::wstring uri = ClipboardText();
    EXPECT_EQ(uri.rfind(token + L";object=my%20cert%2F1;type=cert", 0), 0u) << Narrow(uri);

    window_.ClickObjectRow(RowLabelled(L"notes"));
    window_.Click(kCopyObjectUriCommand);
    EXPECT_EQ(ClipboardText(), token + L";object=notes;type=data");

    // No row selected: the clipboard keeps what it had.
    window_.ClickObjectRow(-1);
    window_.Click(kCopyObjectUriCommand);
    EXPECT_EQ(ClipboardText(), token + L";object=notes;type=data");
}

}  // namespace
