// The "Import Cert/PFX" command with its real open-file dialog: what is
// stored, the message to the "CLASS" window, the listing, every message, and
// the hand-over to the PFX dialog.
#include "ImportWindowFixture.h"

#include <functional>

#include "app/AppState.h"
#include "app/ControlIds.h"
#include "cryptoki/ErrorReport.h"
#include "cryptoki/ModuleLoader.h"
#include "import/ImportCertificate.h"
#include "import/ImportCommand.h"
#include "import/ImportPfx.h"
#include "import/PfxImportState.h"
#include "objects/ObjectListSelection.h"
#include "resource.h"
#include "support/MemoryProbe.h"
#include "support/TestFiles.h"
#include "support/UiDriver.h"

namespace {


// A file of `size` bytes that takes no room on disk: its length is set, not written.
bool MakeSparseFile(const std::wstring& path, long long size) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER end;
    end.QuadPart = size;
    const bool made = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return made;
}

class ImportCommandTest : public ImportWindowTest {};

TEST_F(ImportCommandTest, CertificateIsStoredAnnouncedAndListed) {
    ClassWindow classWindow;
    AddMarkerRow();
    RunImportCommand(FixturePath(L"cn_simple.pem"));
    EXPECT_EQ(classWindow.Received(), 1);
    EXPECT_EQ(classWindow.Others(), 0);
    ASSERT_TRUE(WaitForListing());
    EXPECT_EQ(ObjectRows(), 1) << "the list emptied, then the one certificate listed";
    EXPECT_EQ(Objects(CKO_CERTIFICATE).size(), 1u);

    // The same file again: a second object, a second message.
    RunImportCommand(FixturePath(L"cn_simple.pem"));
    ASSERT_TRUE(WaitForListing());
    EXPECT_EQ(ObjectRows(), 2);
    EXPECT_EQ(classWindow.Received(), 2);
}

// A common name of 34 CJK characters becomes a 102-byte label, longer than
// the listing's usual buffer: the token is listed whole afterwards, and
// again later.
TEST_F(ImportCommandTest, CertificateWithALongCommonNameIsListedAfterwards) {
    std::wstring name;
    for (int i = 0; i < 17; ++i)
        name += L"\u6F22\u5B57";
    AddMarkerRow();
    RunImportCommand(FixturePath(L"imp_cn_cjk.pem"));
    for (int listing = 0; listing < 2; ++listing) {
        UiDriver boxes;  // a "Read object error" would show here
        ASSERT_TRUE(WaitForListing());
        EXPECT_TRUE(boxes.Unexpected().empty()) << Narrow(boxes.Unexpected()[0].text);
        ASSERT_EQ(ObjectRows(), 1) << "listing " << listing;
        EXPECT_EQ(CellText(AppState.ObjectListView, 0, 4, 100), name) << "the label, whole";
        EXPECT_EQ(CellText(AppState.ObjectListView, 0, 2, 100), name) << "the common name";
        AppState.PublicOnlyWarningArmed = false;
        window_.Click(kDisplayObjectsCommand);
    }
    ASSERT_TRUE(WaitForListing());
}

TEST_F(ImportCommandTest, CancelledFileChoiceDoesNothing) {
    ClassWindow classWindow;
    AddMarkerRow();
    UiDriver driver;
    driver.Fill(L"Open", {}, IDCANCEL);
    window_.Click(kImportCommand);
    ASSERT_TRUE(driver.WaitDone());
    EXPECT_EQ(classWindow.Received(), 0);
    EXPECT_EQ(ObjectRows(), 1);
    EXPECT_FALSE(AppState.Busy);
}

TEST_F(ImportCommandTest, RefusalsAndFailuresHaveTheirMessages) {
    const std::function<void()> nothing = [] {};
    const struct {
        const char* what;
        const wchar_t* file;
        std::function<void()> prepare;
        const wchar_t* caption;
        std::wstring text;
    } rows[] = {
        {"text file", L"imp_text.txt", nothing, L"Invalid file", L"This is not a valid certificate or pfx file.\n\r"},
        {"PEM private key", L"cn_simple.key", nothing, L"Invalid file",
         L"This is not a valid certificate or pfx file.\n\r"},
        {"PFX, logged out", L"imp_modern.pfx", nothing, L"Login required", L"To import pfx you must login first.\n\r"},
        {"PFX, security officer", L"imp_modern.pfx",
         [this] {
             CK_UTF8CHAR so[] = {'t', 'o', 'l', 'v', 'a', 'n', 'e'};
             ASSERT_EQ(Cryptoki.FunctionList->C_Login(Session(), CKU_SO, so, sizeof so), CKR_OK);
         },
         L"Login required", L"To import pfx you must login first.\n\r"},
        {"full token", L"cn_simple.der",
         [] { ASSERT_EQ(TokenStore::Control().SetCapacity(kImportSlot, 300), CKR_OK); }, L"Device memory",
         ComposeCkErrorW(CKR_DEVICE_MEMORY, L"Insuffiecient device memory to store certificate.\n\r")},
        {"general error", L"cn_simple.der",
         [] { TokenStore::Control().SetFault("C_CreateObject", 1, CKR_GENERAL_ERROR); }, L"General error",
         ComposeCkErrorW(CKR_GENERAL_ERROR, L"General error occured.\n\r")},
        {"bad arguments", L"cn_simple.der",
         [] { TokenStore::Control().SetFault("C_CreateObject", 1, CKR_ARGUMENTS_BAD); }, L"Certificate error",
         ComposeCkErrorW(CKR_ARGUMENTS_BAD, L"Out of range argument supplied.\n\r")},
        // Any other code: "General error" without detail.
        {"session gone", L"cn_simple.der",
         [] { TokenStore::Control().SetFault("C_CreateObject", 1, CKR_SESSION_HANDLE_INVALID); }, L"General error",
         ComposeCkErrorW(CKR_SESSION_HANDLE_INVALID, L"")},
    };
    ClassWindow classWindow;
    AddMarkerRow();
    for (const auto& row : rows) {
        row.prepare();
        DialogStep box;
        box.caption = row.caption;
        box.button = IDOK;
        const std::vector<SeenWindow> seen = RunImportCommand(FixturePath(row.file), {box});
        ASSERT_EQ(seen.size(), 2u) << row.what;
        EXPECT_EQ(seen[1].text, row.text) << row.what;
        EXPECT_EQ(seen[1].owner, nullptr) << row.what << ": a box without owner";
        Cryptoki.FunctionList->C_Logout(Session());
        TokenStore::Control().ClearFaults();
        TokenStore::Control().SetCapacity(kImportSlot, 65536);
    }
    EXPECT_EQ(classWindow.Received(), 0) << "only a stored or attempted certificate is announced";
    EXPECT_EQ(ObjectRows(), 1) << "the object list is not rebuilt";
    EXPECT_TRUE(Objects(CKO_CERTIFICATE).empty());
}

TEST_F(ImportCommandTest, PfxOfLoggedInUserOpensItsDialogWithClearedOptions) {
    LoginUser();
    // What a previous import left behind.
    PfxImportState.PfxImportChain = true;
    PfxImportState.PfxKeyExtractable = true;
    wcscpy(PfxImportState.PfxPasswordBuffer, L"old password");
    PfxImportState.DialogSlot = -1;
    const std::wstring path = FixturePath(L"imp_modern.pfx");
    DialogStep dialog;
    dialog.caption = L"Import pfx properties";
    dialog.inspect = [&path](HWND window) {
        EXPECT_EQ(std::wstring(PfxImportState.PfxFilePath), path);
        EXPECT_EQ(PfxImportState.PfxPasswordBuffer[0], L'\0');
        EXPECT_FALSE(PfxImportState.PfxImportChain);
        EXPECT_FALSE(PfxImportState.PfxKeyExtractable);
        EXPECT_EQ(PfxImportState.DialogSlot, kImportSlot);
        EXPECT_EQ(GetWindow(window, GW_OWNER), AppState.MainWindow);
        EXPECT_EQ(IsDlgButtonChecked(window, IDC_PFX_IMPORT_CHAIN), static_cast<UINT>(BST_UNCHECKED));
        EXPECT_EQ(IsDlgButtonChecked(window, IDC_PFX_KEY_EXTRACTABLE), static_cast<UINT>(BST_UNCHECKED));
    };
    dialog.button = IDCANCEL;
    RunImportCommand(path, {dialog});
    EXPECT_EQ(ObjectRows(), 0);
    EXPECT_EQ(Objects(CKO_CERTIFICATE).size(), 0u);
}

// A module's own return codes from C_CreateObject, at each object an import
// creates, are failures like any other code: reported by name, no message
// 458, no listing, and the PFX dialog closes.
TEST_F(ImportCommandTest, VendorCodesFromObjectCreationAreFailures) {
    const struct {
        CK_RV rv;
        const wchar_t* name;
    } codes[] = {
        {0x80000000, L"Unknown return code 0x80000000"},  // CKR_VENDOR_DEFINED
        {0xFFFFFFF6, L"Unknown return code 0xFFFFFFF6"},  // 10 + rv wraps to 0: success
        {0xFFFFFFFA, L"Unknown return code 0xFFFFFFFA"},  // to 4: a PFX, or the wrong password
        {0xFFFFFFFB, L"Unknown return code 0xFFFFFFFB"},  // to 5: no certificate
        {0xFFFFFFFF, L"Unknown return code 0xFFFFFFFF"},
    };
    const struct {
        const char* what;
        const wchar_t* file;
        CK_ULONG call;  // of C_CreateObject
    } imports[] = {
        {"certificate file", L"cn_simple.der", 1},
        {"PFX certificate", L"imp_modern.pfx", 1},
        {"PFX public key", L"imp_modern.pfx", 2},
        {"PFX private key", L"imp_modern.pfx", 3},
    };
    LoginUser();
    ClassWindow classWindow;
    AddMarkerRow();
    for (const auto& import : imports)
        for (const auto& code : codes) {
            const std::string what = std::string(import.what) + ", " + Narrow(code.name);
            ASSERT_EQ(TokenStore::Control().SetFault("C_CreateObject", import.call, code.rv), CKR_OK);
            std::vector<DialogStep> steps;
            if (wcsstr(import.file, L".pfx"))
                steps.push_back({L"Import pfx properties", {{IDC_PFX_PASSWORD, L"secret"}}, nullptr, IDOK});
            steps.push_back(Box(L"General error"));
            const std::vector<SeenWindow> seen = RunImportCommand(FixturePath(import.file), steps);
            TokenStore::Control().ClearFaults();
            ASSERT_EQ(seen.size(), steps.size() + 1) << what;
            EXPECT_EQ(seen.back().text, ComposeCkErrorW(code.rv, L"")) << what;
            EXPECT_NE(seen.back().text.find(code.name), std::wstring::npos) << what;
        }
    EXPECT_EQ(classWindow.Received(), 0) << "no import is announced";
    EXPECT_EQ(ObjectRows(), 1) << "no listing ran";
    EXPECT_FALSE(AppState.Busy);
}

// Files over 16 MiB are refused before any of them is read: the program's
// memory does not grow. A file of exactly 16 MiB is read, then refused.
TEST_F(ImportCommandTest, HugeFilesAreRefusedUnread) {
    constexpr SIZE_T kReadWouldShow = 8 << 20;
    const struct {
        const char* what;
        long long size;
        bool read;
    } rows[] = {
        {"600 MB", 600000000, false},
        {"16 MiB and a byte", kLargestImportFile + 1, false},
        {"16 MiB of zeros", kLargestImportFile, true},  // last: reading it raises the peak
    };
    // The open-file dialog takes its own memory the first time it shows.
    UiDriver cancel;
    cancel.Fill(L"Open", {}, IDCANCEL);
    window_.Click(kImportCommand);
    ASSERT_TRUE(cancel.WaitDone());
    TempFolder folder;
    const std::wstring path = folder.File(L"huge.cer");
    wcsncpy(PfxImportState.PfxFilePath, path.c_str(), kPfxPathCapacity - 1);
    for (const auto& row : rows) {
        ASSERT_TRUE(MakeSparseFile(path, row.size)) << row.what;
        const WorkingSet before = ProcessWorkingSet();
        ASSERT_LT(before.Peak - before.Current, kReadWouldShow) << row.what << ": a read would not show";
        const std::vector<SeenWindow> seen = RunImportCommand(path, {Box(L"Invalid file")});
        ASSERT_EQ(seen.size(), 2u) << row.what;
        EXPECT_EQ(seen[1].text, L"This is not a valid certificate or pfx file.\n\r") << row.what;
        EXPECT_EQ(ImportPfx(L"secret"), kPfxInvalid) << row.what << ": the PFX import";
        const WorkingSet after = ProcessWorkingSet();
        if (row.read)
            EXPECT_GE(after.Peak, before.Current + kLargestImportFile) << row.what;
        else
            EXPECT_LT(after.Peak - before.Peak, kReadWouldShow) << row.what;
    }
}

TEST_F(ImportCommandTest, HungClassWindowDoesNotHoldTheImport) {
    ClassWindow hung(true);
    const ULONGLONG start = GetTickCount64();
    NotifyCertificateImported();
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_LT(elapsed, kCertificateImportedTimeoutMs + 1000u);
    EXPECT_EQ(hung.Received(), 0);
}

}  // namespace
