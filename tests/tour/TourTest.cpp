// A tour of TokenManager.exe as a user takes it: the real program in its own
// process, driven only by mouse and keyboard events (SendInput), with what
// the windows show checked at every step and a picture of the screen saved
// for each.
//
// As a user: select a token, log in, list its objects, import a PFX, export
// the imported certificate, log out, generate a CSR for the imported key.
// As an administrator ("@"): clear the token, give it the default user PIN
// and log in with that PIN.
//
// Files go to TM_TOUR_OUTPUT (the exported certificate and the CSR, which a
// later test step checks with openssl) and pictures to TM_TOUR_SHOTS.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ProgramWindows.h"
#include "RealInput.h"
#include "ScreenCapture.h"
#include "app/AppState.h"
#include "app/ControlIds.h"
#include "cryptoki/ModuleLoader.h"
#include "res/resource.h"
#include "support/ClipboardText.h"
#include "support/ProgramRun.h"
#include "support/RemoteListView.h"
#include "support/TestFiles.h"
#include "support/TokenStore.h"

namespace {

using RealInput::Keys;
using RealInput::LeftClick;
using RealInput::ReplaceFocusedText;
using RealInput::Type;

const wchar_t kMainClass[] = L"Window Class";
const wchar_t kBoxClass[] = L"#32770";
constexpr DWORD kWaitMs = 15000;
constexpr DWORD kPaintSettleMs = 1500;

// The store: another token first, so that the tour has to pick its own.
constexpr CK_SLOT_ID kOtherSlot = 0;
constexpr CK_SLOT_ID kTourSlot = 1;
const char kTourSerial[] = "TOUR0001";
const wchar_t kUserPin[] = L"1234";  // kTestUserPin, as typed
const wchar_t kFactorySoPin[] = L"tolvane";
const wchar_t kDefaultUserPin[] = L"4826";

// The PFX of the fixtures and what its certificate holds.
const wchar_t kPfxFile[] = L"imp_modern.pfx";
const wchar_t kPfxPassword[] = L"secret";
const wchar_t kPfxCommonName[] = L"PFX Alice";
const wchar_t kPfxCertificateDer[] = L"imp_ee.der";
const wchar_t kPfxKeyId[] = L"imp_ee.keyid";

const wchar_t kCsrCommonName[] = L"Tour User";
const wchar_t kClearedLabel[] = L"Tour cleared";

// Cells of the object list.
constexpr int kTypeColumn = 1;
constexpr int kNameColumn = 2;
constexpr int kPrivateColumn = 3;
constexpr int kLabelColumn = 4;
constexpr int kIdColumn = 5;
constexpr int kExtractableColumn = 6;
constexpr int kKeyLengthColumn = 7;

// Cells of the token list and the information panel.
constexpr int kStatusColumn = 1;
constexpr int kSerialPanelRow = 2;

std::wstring ProgramPath() {
    return BinFolder() + L"\\TokenManager.exe";
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// The key identifier openssl computed for the PFX's key, as the object
// list shows it: upper-case hex.
std::wstring ExpectedKeyId() {
    std::wstring id;
    for (unsigned char c : ReadFixture(kPfxKeyId))
        if (isxdigit(c))
            id += static_cast<wchar_t>(toupper(c));
    return id;
}

// A public data object, so that the first listing has a row.
bool AddNote(CK_SLOT_ID slot) {
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    char label[] = "Tour note";
    char value[] = "for the tour";
    const CK_ATTRIBUTE note[] = {
        {CKA_CLASS, &dataClass, sizeof dataClass},
        {CKA_TOKEN, &yes, sizeof yes},
        {CKA_PRIVATE, &no, sizeof no},
        {CKA_LABEL, label, sizeof label - 1},
        {CKA_VALUE, value, sizeof value - 1},
    };
    const CK_ATTRIBUTE* templates[] = {note};
    const CK_ULONG counts[] = {ARRAYSIZE(note)};
    return TokenStore::Control().AddObjects(slot, templates, counts, 1) == CKR_OK;
}

class TourTest : public testing::Test {
protected:
    void SetUp() override {
        output_ = FolderFromEnvironment(L"TM_TOUR_OUTPUT");
        shots_ = FolderFromEnvironment(L"TM_TOUR_SHOTS");
        ASSERT_FALSE(output_.empty()) << "TM_TOUR_OUTPUT names the folder for the files the tour writes";
        ASSERT_FALSE(shots_.empty()) << "TM_TOUR_SHOTS names the folder for the pictures";
        CreateDirectoryW(output_.c_str(), nullptr);
        CreateDirectoryW(shots_.c_str(), nullptr);
        ASSERT_FALSE(ReadFixture(kPfxFile).empty()) << "the fixtures are made first (TM_FIXTURES)";

        ASSERT_TRUE(store_.AddToken(kOtherSlot, "Office token", "OFFICE01"));
        ASSERT_TRUE(store_.AddToken(kTourSlot, "Tour token", kTourSerial));  // user PIN kTestUserPin
        ASSERT_TRUE(AddNote(kTourSlot));
        ASSERT_TRUE(store_.LoadModule()) << "the tour reads the token itself too";
    }

    // A failed tour leaves a picture of the screen and the list of the
    // program's windows behind.
    void TearDown() override {
        if (run_ && HasFailure()) {
            Snapshot("failure");
            for (HWND window : run_->Windows()) {
                wchar_t name[64] = {};
                GetClassNameW(window, name, ARRAYSIZE(name));
                printf("open window: %s \"%s\"\n", Narrow(name).c_str(), Narrow(TextOf(window)).c_str());
            }
        }
        if (run_ && main_)
            ProgramRun::Close(main_);
        run_.reset();
    }

    // --- the program -----------------------------------------------------

    void StartProgram(const std::wstring& arguments) {
        run_.reset(new ProgramRun(ProgramPath(), arguments, {L"TOLVANE_SOFTTOKEN_STORE=" + store_.Path()}));
        ASSERT_TRUE(run_->Started());
        main_ = run_->WaitForWindow(kMainClass, kWaitMs);
        ASSERT_TRUE(main_) << "the main window did not appear";
        ASSERT_TRUE(WaitUntil([&] { return RemoteListViewText(TokenList(), kTourSlot, 0) == L"Tour token"; }, kWaitMs));
    }

    // Alt+F4 on the main window, as the user closes it: the process ends
    // with 0 and no box.
    void CloseProgram() {
        ASSERT_NO_FATAL_FAILURE(ClickEmptyPart());
        Keys({VK_MENU, VK_F4});
        DWORD exitCode = 99;
        ASSERT_TRUE(run_->WatchUntilExit(kWaitMs, &exitCode)) << "the program did not end after Alt+F4";
        EXPECT_EQ(0u, exitCode);
        EXPECT_TRUE(run_->Boxes().empty()) << Narrow(run_->Boxes()[0].caption + L": " + run_->Boxes()[0].text);
        main_ = nullptr;
    }

    // --- what the user sees ------------------------------------------------

    HWND Control(int id) const { return GetDlgItem(main_, id); }
    HWND TokenList() const { return Control(kTokenListId); }
    HWND ObjectList() const { return Control(kObjectListId); }
    std::wstring TourStatus() const { return RemoteListViewText(TokenList(), kTourSlot, kStatusColumn); }
    std::wstring LoginCaption() const { return TextOf(Control(kLoginCommand)); }
    int ObjectRows() const { return RemoteListViewRowCount(ObjectList()); }
    std::wstring ObjectCell(int row, int column) const { return RemoteListViewText(ObjectList(), row, column); }

    // Message boxes and dialogs of the program that are up now.
    int OpenBoxes() const {
        int count = 0;
        for (HWND window : run_->Windows()) {
            wchar_t name[16] = {};
            GetClassNameW(window, name, ARRAYSIZE(name));
            count += wcscmp(name, kBoxClass) == 0;
        }
        return count;
    }

    HWND WaitForDialog(const std::wstring& caption) { return WaitForTopLevel(*run_, kBoxClass, caption, kWaitMs); }

    bool WaitGone(HWND window) {
        return WaitUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); }, kWaitMs);
    }

    // A listing has ended when `rows` rows are there and the token list,
    // which the listing worker disables, takes input again.
    bool WaitForListing(int rows) {
        return WaitUntil([&] { return ObjectRows() == rows && IsWindowEnabled(TokenList()); }, kWaitMs);
    }

    // The box's text, checked, then OK (Enter) and the box gone.
    void AnswerBox(const std::wstring& caption, const std::wstring& text, const char* picture) {
        HWND box = WaitForDialog(caption);
        ASSERT_TRUE(box) << "no box \"" << Narrow(caption) << "\"";
        EXPECT_EQ(text, DescribeWindow(box).text);
        Snapshot(picture);
        Keys({VK_RETURN});
        ASSERT_TRUE(WaitGone(box));
    }

    // --- input ---------------------------------------------------------------

    void ClickRow(HWND list, int row, bool right = false) {
        RECT rect = {};
        ASSERT_TRUE(RemoteListViewRowRect(list, row, &rect)) << "row " << row;
        const POINT centre = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
        right ? RealInput::RightClick(centre) : LeftClick(centre);
    }

    // Clicks into the edit `id` of `dialog` (or the edit of a combo box)
    // and types over its text.
    void TypeInto(HWND dialog, int id, const std::wstring& text) {
        HWND edit = GetDlgItem(dialog, id);
        ASSERT_TRUE(edit) << "no control " << id;
        LeftClick(edit);
        ASSERT_TRUE(WaitUntil(
            [&] {
                HWND focus = GetGUIThreadFocus(edit);
                return focus == edit || IsChild(edit, focus);
            },
            kWaitMs))
            << "control " << id << " did not get the focus";
        ReplaceFocusedText(text);
        ASSERT_TRUE(WaitUntil([&] { return EditShows(edit, text); }, kWaitMs))
            << "control " << id << " reads \"" << Narrow(TextOf(edit)) << "\"";
    }

    // A password edit hides its text from WM_GETTEXT of other processes only
    // on Windows; the length tells that every character arrived.
    static bool EditShows(HWND edit, const std::wstring& text) {
        if (GetWindowLongW(edit, GWL_STYLE) & ES_PASSWORD)
            return SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0) == static_cast<LRESULT>(text.size());
        return TextOf(edit) == text;
    }

    static HWND GetGUIThreadFocus(HWND window) {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
        return info.hwndFocus;
    }

    // The file dialog that is up: the path typed into its name box, then
    // Enter; the dialog gone.
    void ChooseFile(const std::wstring& path, const char* picture, const std::wstring& proposed = L"") {
        HWND dialog = WaitForFileDialog(*run_, kWaitMs);
        ASSERT_TRUE(dialog) << "no file dialog";
        if (!proposed.empty()) {
            EXPECT_EQ(proposed, TextOf(GetDlgItem(dialog, kFileNameBox))) << "the proposed file name";
        }
        ASSERT_NO_FATAL_FAILURE(TypeInto(dialog, kFileNameBox, path));
        Snapshot(picture);
        Keys({VK_RETURN});
        ASSERT_TRUE(WaitGone(dialog)) << "the file dialog stayed";
    }

    // A click between the token list and the information panel, inside the
    // group box, which lets clicks through: the main window becomes the
    // active window and nothing else happens.
    void ClickEmptyPart() {
        POINT point = {290, 90};
        ClientToScreen(main_, &point);
        LeftClick(point);
        ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == main_; }, kWaitMs)) << "the main window is not active";
    }

    // --- pictures --------------------------------------------------------------

    // Saves the screen area of the program's windows as NN-name.bmp.
    void Snapshot(const char* name) {
        wchar_t file[64] = {};
        swprintf(file, ARRAYSIZE(file), L"\\%02d-%hs.bmp", ++shotNumber_, name);
        const ScreenPicture picture = CaptureSettled(AreaOf(run_->Windows()), kPaintSettleMs);
        EXPECT_TRUE(SaveBmp(picture, shots_ + file)) << name;
    }

    // --- the token as the module sees it, from this process ---------------

    CK_FLAGS TourTokenFlags() {
        CK_TOKEN_INFO info = {};
        EXPECT_EQ(CKR_OK, Cryptoki.FunctionList->C_GetTokenInfo(kTourSlot, &info));
        return info.flags;
    }

    // Objects that a public session sees on the tour's token.
    int PublicObjectCount() {
        CK_FUNCTION_LIST* f = Cryptoki.FunctionList;
        CK_SESSION_HANDLE session = 0;
        if (f->C_OpenSession(kTourSlot, CKF_SERIAL_SESSION, nullptr, nullptr, &session) != CKR_OK)
            return -1;
        int count = 0;
        CK_OBJECT_HANDLE handle = 0;
        CK_ULONG found = 0;
        f->C_FindObjectsInit(session, nullptr, 0);
        while (f->C_FindObjects(session, &handle, 1, &found) == CKR_OK && found == 1)
            ++count;
        f->C_FindObjectsFinal(session);
        f->C_CloseSession(session);
        return count;
    }

    // --- the user's steps ----------------------------------------------------

    // Right-click on `row` of `list`, then a click on entry `index` of the
    // menu (separators not counted); the picture shows the open menu.
    void ChooseFromRowMenu(HWND list, int row, int index, const char* picture) {
        ClickRow(list, row, true);
        HWND menu = WaitForPopupMenu(*run_, kWaitMs);
        ASSERT_TRUE(menu) << "no menu on a right-click";
        POINT entry = {};
        ASSERT_TRUE(FindMenuEntry(menu, index, &entry)) << "entry " << index;
        Snapshot(picture);
        LeftClick(entry);
        ASSERT_TRUE(WaitGone(menu));
    }

    // The pointer rests on `row` of `list` until the info tip holding
    // `part` shows; its text.
    std::wstring HoverForTip(HWND list, int row, const std::wstring& part, const char* picture) {
        RECT rect = {};
        EXPECT_TRUE(RemoteListViewRowRect(list, row, &rect)) << "row " << row;
        const POINT centre = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
        RealInput::MoveTo(POINT{centre.x - 8, centre.y});
        RealInput::MoveTo(centre);
        HWND tip = WaitForTooltip(*run_, part, kWaitMs);
        EXPECT_TRUE(tip) << "no tip with \"" << Narrow(part) << "\"";
        if (!tip)
            return std::wstring();
        Snapshot(picture);
        const std::wstring text = TextOf(tip);
        // Away from the lists the tip goes.
        POINT away = {290, 90};
        ClientToScreen(main_, &away);
        RealInput::MoveTo(away);
        return text;
    }

    void SelectTourToken();
    void LogIn(const std::wstring& pin, const char* picture);
    void ListObjects();
    void ImportPfx();
    void ExportCertificate();
    void ExportPem();
    void CopyUris();
    void ShowTips();
    void LogOut();
    void GenerateCsr();
    void ClearToken();
    void GiveDefaultUserPin();

    TokenStore store_{2};
    std::unique_ptr<ProgramRun> run_;
    HWND main_ = nullptr;
    std::wstring output_;
    std::wstring shots_;
    int shotNumber_ = 0;
};

// A click on the tour's row: its information in the panel, its status,
// and the Login button usable.
void TourTest::SelectTourToken() {
    ClickRow(TokenList(), kTourSlot);
    HWND panel = Control(kTokenInfoId);
    ASSERT_TRUE(WaitUntil([&] { return RemoteListViewText(panel, kSerialPanelRow, 1) == Widen(kTourSerial); },
                          kWaitMs))
        << "the panel shows " << Narrow(RemoteListViewText(panel, kSerialPanelRow, 1));
    EXPECT_EQ(static_cast<int>(kTourSlot), RemoteListViewSelectedRow(TokenList()));
    EXPECT_EQ(L"Not logged in", TourStatus());
    EXPECT_TRUE(IsWindowEnabled(Control(kLoginCommand)));
    EXPECT_EQ(L"Login", LoginCaption());
}

void TourTest::LogIn(const std::wstring& pin, const char* picture) {
    LeftClick(Control(kLoginCommand));
    HWND dialog = WaitForDialog(L"Login to token");
    ASSERT_TRUE(dialog) << "no login dialog";
    ASSERT_NO_FATAL_FAILURE(TypeInto(dialog, IDC_LOGIN_PIN, pin));
    Snapshot(picture);
    Keys({VK_RETURN});
    ASSERT_TRUE(WaitGone(dialog)) << "the login dialog stayed";
    ASSERT_TRUE(WaitUntil([&] { return TourStatus() == L"Logged in"; }, kWaitMs)) << Narrow(TourStatus());
    EXPECT_EQ(L"Log out", LoginCaption());
    EXPECT_EQ(0, OpenBoxes());
}

// Logged in, "Display objects" lists the private objects too, without the
// public-objects warning: the note of the store.
void TourTest::ListObjects() {
    LeftClick(Control(kDisplayObjectsCommand));
    ASSERT_TRUE(WaitForListing(1)) << ObjectRows() << " rows";
    EXPECT_EQ(L"Data object", ObjectCell(0, kTypeColumn));
    EXPECT_EQ(L"Tour note", ObjectCell(0, kLabelColumn));
    EXPECT_EQ(L"N/A", ObjectCell(0, kIdColumn));
    EXPECT_EQ(0, OpenBoxes()) << "no warning while logged in";
}

// "Import Cert/PFX", the fixture's PFX chosen in the open dialog, its
// password given: three new rows with one ID, the key pair's certificate.
void TourTest::ImportPfx() {
    LeftClick(Control(kImportCommand));
    ASSERT_NO_FATAL_FAILURE(ChooseFile(FixturePath(kPfxFile), "open-pfx"));
    HWND dialog = WaitForDialog(L"Import pfx properties");
    ASSERT_TRUE(dialog) << "no PFX dialog";
    ASSERT_NO_FATAL_FAILURE(TypeInto(dialog, IDC_PFX_PASSWORD, kPfxPassword));
    Snapshot("pfx-password");
    Keys({VK_RETURN});
    ASSERT_TRUE(WaitGone(dialog)) << "the PFX dialog stayed";
    ASSERT_TRUE(WaitForListing(4)) << ObjectRows() << " rows";
    EXPECT_EQ(0, OpenBoxes());

    const std::wstring id = ExpectedKeyId();
    const int certificate = FindListRow(ObjectList(), kTypeColumn, L"Digital certificate");
    const int publicKey = FindListRow(ObjectList(), kTypeColumn, L"RSA Public key");
    const int privateKey = FindListRow(ObjectList(), kTypeColumn, L"RSA private key");
    ASSERT_GE(certificate, 0);
    ASSERT_GE(publicKey, 0);
    ASSERT_GE(privateKey, 0);
    EXPECT_EQ(kPfxCommonName, ObjectCell(certificate, kNameColumn));
    for (int row : {certificate, publicKey, privateKey}) {
        EXPECT_EQ(kPfxCommonName, ObjectCell(row, kLabelColumn)) << "row " << row;
        EXPECT_EQ(id, ObjectCell(row, kIdColumn)) << "row " << row;
    }
    EXPECT_EQ(L"Yes", ObjectCell(privateKey, kPrivateColumn));
    EXPECT_EQ(L"No", ObjectCell(privateKey, kExtractableColumn)) << "the option was left off";
    EXPECT_EQ(L"2048", ObjectCell(publicKey, kKeyLengthColumn));
    EXPECT_EQ(L"N/A", ObjectCell(privateKey, kKeyLengthColumn));
    Snapshot("imported");
}

// The certificate row selected, "Export certificate" proposes the label as
// file name; the file holds the certificate's DER bytes, and nothing is said.
void TourTest::ExportCertificate() {
    HWND exportButton = Control(kExportCertificateCommand);
    EXPECT_FALSE(IsWindowEnabled(exportButton)) << "no certificate row selected yet";
    ClickRow(ObjectList(), FindListRow(ObjectList(), kTypeColumn, L"Digital certificate"));
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(exportButton) != FALSE; }, kWaitMs))
        << "Export certificate stays disabled";
    LeftClick(exportButton);
    const std::wstring path = output_ + L"\\tour-export.crt";
    ASSERT_NO_FATAL_FAILURE(ChooseFile(path, "export-save", kPfxCommonName));
    const std::vector<unsigned char> expected = ReadFixture(kPfxCertificateDer);
    std::vector<unsigned char> written;
    EXPECT_TRUE(WaitUntil([&] { return ReadFileBytes(path, &written) && written == expected; }, kWaitMs))
        << written.size() << " bytes written, " << expected.size() << " expected";
    EXPECT_EQ(0, OpenBoxes());
    Snapshot("exported");
}

// The same certificate as PEM: the second file type of the save dialog,
// chosen in its list with the mouse and the keyboard.
void TourTest::ExportPem() {
    HWND exportButton = Control(kExportCertificateCommand);
    ASSERT_TRUE(IsWindowEnabled(exportButton));
    LeftClick(exportButton);
    HWND dialog = WaitForFileDialog(*run_, kWaitMs);
    ASSERT_TRUE(dialog) << "no save dialog";
    constexpr int kFileTypeBox = 1136;
    HWND types = GetDlgItem(dialog, kFileTypeBox);
    ASSERT_TRUE(types);
    EXPECT_EQ(L"DER (*.cer)", TextOf(types)) << "DER stays the first type";
    LeftClick(types);
    Keys({VK_DOWN});
    Keys({VK_RETURN});
    ASSERT_TRUE(WaitUntil([&] { return TextOf(types) == L"PEM (*.pem)"; }, kWaitMs)) << Narrow(TextOf(types));
    const std::wstring path = output_ + L"\\tour-export";
    ASSERT_NO_FATAL_FAILURE(ChooseFile(path, "export-pem"));
    std::vector<unsigned char> written;
    EXPECT_TRUE(WaitUntil([&] { return ReadFileBytes(path + L".pem", &written) && written.size() > 28; }, kWaitMs))
        << "the dialog adds .pem";
    EXPECT_EQ("-----BEGIN CERTIFICATE-----\r\n", std::string(written.begin(), written.begin() + 29));
    EXPECT_EQ(0, OpenBoxes());
}

// "Copy PKCS#11 URI" on the certificate row and on the token's row.
void TourTest::CopyUris() {
    const std::wstring token = L"pkcs11:token=Tour%20token;manufacturer=Tolvane;model=SoftToken;serial=TOUR0001";
    const int certificate = FindListRow(ObjectList(), kTypeColumn, L"Digital certificate");
    ASSERT_GE(certificate, 0);
    ASSERT_NO_FATAL_FAILURE(ChooseFromRowMenu(ObjectList(), certificate, 1, "object-menu"));
    std::wstring id;
    const std::wstring hex = ExpectedKeyId();
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        id += L"%" + hex.substr(i, 2);
    const std::wstring objectUri = token + L";object=PFX%20Alice;type=cert;id=" + id;
    EXPECT_TRUE(WaitUntil([&] { return ClipboardText() == objectUri; }, kWaitMs)) << Narrow(ClipboardText());

    ASSERT_NO_FATAL_FAILURE(ChooseFromRowMenu(TokenList(), kTourSlot, 0, "token-menu"));
    EXPECT_TRUE(WaitUntil([&] { return ClipboardText() == token; }, kWaitMs)) << Narrow(ClipboardText());
    EXPECT_EQ(0, OpenBoxes());
}

// The info tips: the token's PIN states and memory, the certificate's
// validity and openssl's fingerprint.
void TourTest::ShowTips() {
    const std::wstring tokenTip = HoverForTip(TokenList(), kTourSlot, L"Label: Tour token", "token-tip");
    EXPECT_NE(tokenTip.find(L"User PIN state: OK"), std::wstring::npos) << Narrow(tokenTip);
    const int certificate = FindListRow(ObjectList(), kTypeColumn, L"Digital certificate");
    ASSERT_GE(certificate, 0);
    const std::wstring tip = HoverForTip(ObjectList(), certificate, L"Subject:", "certificate-tip");
    std::string fingerprint;
    for (unsigned char c : ReadFixture(L"imp_ee.sha1"))
        if (c != '\n' && c != '\r')
            fingerprint += static_cast<char>(c);
    EXPECT_NE(tip.find(L"SHA-1 fingerprint: " + Widen(fingerprint)), std::wstring::npos) << Narrow(tip);
}

// "Log out" logs out at once, without a dialog.
void TourTest::LogOut() {
    ASSERT_EQ(L"Log out", LoginCaption());
    LeftClick(Control(kLoginCommand));
    ASSERT_TRUE(WaitUntil([&] { return TourStatus() == L"Not logged in"; }, kWaitMs)) << Narrow(TourStatus());
    EXPECT_EQ(L"Login", LoginCaption());
    EXPECT_EQ(0, OpenBoxes()) << "no dialog for a logout";
    Snapshot("logged-out");
}

// The private key's row, right-click, "Generate CSR...": the dialog names
// the key; with a common name and the user PIN the CSR is made on the
// token and saved where the user says; the token is logged out after it.
void TourTest::GenerateCsr() {
    const int privateKey = FindListRow(ObjectList(), kTypeColumn, L"RSA private key");
    ASSERT_GE(privateKey, 0);
    ClickRow(ObjectList(), privateKey);
    ASSERT_TRUE(WaitUntil([&] { return RemoteListViewSelectedRow(ObjectList()) == privateKey; }, kWaitMs));
    ASSERT_NO_FATAL_FAILURE(ChooseFromRowMenu(ObjectList(), privateKey, 0, "csr-menu"));  // "Generate CSR..."

    HWND dialog = WaitForDialog(L"Generate CSR");
    ASSERT_TRUE(dialog) << "no CSR dialog";
    EXPECT_EQ(ExpectedKeyId(), TextOf(GetDlgItem(dialog, 1040))) << "the key-ID label";
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_CSR_KEY_LENGTH))) << "the key exists: no length to choose";
    ASSERT_NO_FATAL_FAILURE(TypeInto(dialog, IDC_CSR_COUNTRY, L"SE"));
    ASSERT_NO_FATAL_FAILURE(TypeInto(dialog, IDC_CSR_COMMON_NAME, kCsrCommonName));
    ASSERT_NO_FATAL_FAILURE(TypeInto(dialog, IDC_CSR_PIN, kUserPin));
    LeftClick(GetDlgItem(dialog, IDC_CSR_DIGITAL_SIGNATURE));
    ASSERT_TRUE(WaitUntil(
        [&] { return SendDlgItemMessageW(dialog, IDC_CSR_DIGITAL_SIGNATURE, BM_GETCHECK, 0, 0) == BST_CHECKED; },
        kWaitMs));
    Snapshot("csr-dialog");
    LeftClick(GetDlgItem(dialog, IDOK));

    // The worker logs out before it asks for the file.
    const std::wstring path = output_ + L"\\tour-request.pem";
    ASSERT_TRUE(WaitForFileDialog(*run_, kWaitMs)) << "no save dialog for the CSR";
    EXPECT_EQ(L"Not logged in", TourStatus());
    EXPECT_EQ(L"Login", LoginCaption());
    ASSERT_NO_FATAL_FAILURE(ChooseFile(path, "csr-save"));
    ASSERT_TRUE(WaitGone(dialog)) << "the CSR dialog stayed";

    std::vector<unsigned char> csr;
    ASSERT_TRUE(ReadFileBytes(path, &csr));
    const std::string begin = "-----BEGIN CERTIFICATE REQUEST-----";
    EXPECT_EQ(begin, std::string(csr.begin(), csr.begin() + std::min(csr.size(), begin.size())));
    EXPECT_EQ(0, OpenBoxes());
    Snapshot("csr-saved");
}

// "Clear token": the warning answered Yes, the factory SO PIN and a new
// label; the token is empty, has no user PIN, and its row has the label.
void TourTest::ClearToken() {
    ASSERT_EQ(3, PublicObjectCount()) << "the note, the certificate and the public key";
    LeftClick(Control(kClearTokenCommand));
    HWND warning = WaitForDialog(L"Warning");
    ASSERT_TRUE(warning) << "no warning";
    EXPECT_EQ(L"Initializing token removes all objects and closes all sessions.\nDo you want to continue?\n\r",
              DescribeWindow(warning).text);
    Snapshot("clear-warning");
    LeftClick(GetDlgItem(warning, IDYES));

    HWND dialog = WaitForDialog(L"Clear token");
    ASSERT_TRUE(dialog) << "no Clear token dialog";
    EXPECT_EQ(L"Tolvane", TextOf(GetDlgItem(dialog, IDC_CLEAR_LABEL)));
    ASSERT_NO_FATAL_FAILURE(TypeInto(dialog, IDC_CLEAR_SO_PIN, kFactorySoPin));
    ASSERT_NO_FATAL_FAILURE(TypeInto(dialog, IDC_CLEAR_LABEL, kClearedLabel));
    Snapshot("clear-dialog");
    Keys({VK_RETURN});
    ASSERT_NO_FATAL_FAILURE(AnswerBox(L"", L"Token initialized successfully.\r\n", "cleared"));
    ASSERT_TRUE(WaitGone(dialog));

    ASSERT_TRUE(WaitUntil([&] { return RemoteListViewText(TokenList(), kTourSlot, 0) == kClearedLabel; }, kWaitMs));
    EXPECT_EQ(L"Not logged in", TourStatus());
    EXPECT_EQ(0, PublicObjectCount());
    EXPECT_FALSE(TourTokenFlags() & CKF_USER_PIN_INITIALIZED);
}

// "Set default user pincode", then a login with that PIN.
void TourTest::GiveDefaultUserPin() {
    HWND button = Control(kDefaultUserPinCommand);
    // The button follows the SO's session state alone, and no step of the
    // program leaves the SO logged in when the main window looks: after
    // Clear token it stays disabled. The administrator reaches the command
    // from the token list's menu.
    EXPECT_FALSE(IsWindowEnabled(button));
    ASSERT_NO_FATAL_FAILURE(ChooseFromRowMenu(TokenList(), kTourSlot, 1, "default-pin-menu"));
    ASSERT_NO_FATAL_FAILURE(AnswerBox(L"Successful set pin", L"User pincode is set to 4826", "default-pin"));
    EXPECT_TRUE(TourTokenFlags() & CKF_USER_PIN_INITIALIZED);
    EXPECT_EQ(L"Not logged in", TourStatus());
    ASSERT_NO_FATAL_FAILURE(LogIn(kDefaultUserPin, "login-default-pin"));
    Snapshot("logged-in-default-pin");
}

TEST_F(TourTest, UserThenAdministrator) {
    const ULONGLONG started = GetTickCount64();
    ASSERT_NO_FATAL_FAILURE(StartProgram(L""));
    Snapshot("start");
    ASSERT_NO_FATAL_FAILURE(SelectTourToken());
    Snapshot("token-selected");
    ASSERT_NO_FATAL_FAILURE(LogIn(kUserPin, "login"));
    Snapshot("logged-in");
    ASSERT_NO_FATAL_FAILURE(ListObjects());
    Snapshot("objects");
    ASSERT_NO_FATAL_FAILURE(ImportPfx());
    ASSERT_NO_FATAL_FAILURE(ExportCertificate());
    ASSERT_NO_FATAL_FAILURE(ExportPem());
    ASSERT_NO_FATAL_FAILURE(CopyUris());
    ASSERT_NO_FATAL_FAILURE(ShowTips());
    ASSERT_NO_FATAL_FAILURE(LogOut());
    ASSERT_NO_FATAL_FAILURE(GenerateCsr());
    ASSERT_NO_FATAL_FAILURE(CloseProgram());

    ASSERT_NO_FATAL_FAILURE(StartProgram(L"@"));
    EXPECT_EQ(L"Tolvane Token Manager Admin v0.124 r990722_1", TextOf(main_));
    ASSERT_NO_FATAL_FAILURE(SelectTourToken());
    Snapshot("admin-selected");
    ASSERT_NO_FATAL_FAILURE(ClearToken());
    Snapshot("cleared-row");
    ASSERT_NO_FATAL_FAILURE(GiveDefaultUserPin());
    ASSERT_NO_FATAL_FAILURE(CloseProgram());
    printf("The tour took %.1f s\n", (GetTickCount64() - started) / 1000.0);
}

}  // namespace
