// The "Export certificate" command in the main window, with the real
// save-file dialog: the proposed name, the file's bytes against openssl's,
// and every failure's message; and the button that follows the selection.
#include "ObjectsWindowFixture.h"

#include <functional>
#include <memory>

#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/TokenPanel.h"
#include "cryptoki/ErrorReport.h"
#include "objects/ObjectTables.h"
#include "support/TestFiles.h"

namespace {

constexpr int kFileNameBox = 1148;  // the save dialog's "File name" box (cmb13)
constexpr int kFileTypeBox = 1136;  // its "Save as type" box (cmb1)
const wchar_t kCantRetrieve[] = L"Can't retrieve certificate from the token.\r";

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

class ExportTest : public ObjectsWindowTest {
protected:
    // A save dialog: its proposed name is recorded, then `target` (a full
    // path) is typed and Save pressed; Cancel when `target` is empty.
    DialogStep SaveDialog(const std::wstring& target) {
        DialogStep step;
        step.inspect = [this, target](HWND dialog) {
            proposals_.push_back(ControlText(dialog, kFileNameBox));
            fileTypes_.push_back(ControlText(dialog, kFileTypeBox));
            if (!target.empty())
                SendMessageW(GetDlgItem(dialog, kFileNameBox), WM_SETTEXT, 0,
                             reinterpret_cast<LPARAM>(target.c_str()));
        };
        step.button = target.empty() ? IDCANCEL : IDOK;
        return step;
    }

    // Runs the command on object row `row` with these steps; they must all
    // run and nothing else may appear. What the steps saw, in order.
    std::vector<SeenWindow> Export(int row, std::vector<DialogStep> steps) {
        window_.ClickObjectRow(row);
        UiDriver driver;
        for (DialogStep& step : steps)
            driver.Then(std::move(step));
        window_.Click(kExportCertificateCommand);
        std::string why;
        EXPECT_TRUE(driver.WaitDone(&why)) << why;
        EXPECT_EQ(Captions(driver.Unexpected()), "");
        return driver.Seen();
    }

    TempFolder out_;
    std::vector<std::wstring> proposals_;
    std::vector<std::wstring> fileTypes_;
};

TEST_F(ExportTest, LabelledCertificateIsSavedUnderItsLabelWithOpensslsBytes) {
    const Bytes der = ReadFixture(L"cn_simple.der");
    AddCertificate("alice", der);
    ListObjects();
    const int row = RowLabelled(L"alice");
    ASSERT_GE(row, 0);

    const std::vector<SeenWindow> seen = Export(row, {SaveDialog(out_.File(L"alice"))});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].owner, AppState.MainWindow) << "the save dialog belongs to the main window";
    EXPECT_EQ(proposals_, std::vector<std::wstring>{L"alice"});
    EXPECT_EQ(fileTypes_, std::vector<std::wstring>{L"Certificate files (*.crt)"});
    // The default extension is added; the bytes are the DER openssl wrote.
    EXPECT_EQ(FilesIn(out_.Path()), std::vector<std::wstring>{L"alice.crt"});
    Bytes saved;
    ASSERT_TRUE(ReadFileBytes(out_.File(L"alice.crt"), &saved));
    EXPECT_TRUE(saved == der) << "saved " << saved.size() << " bytes, openssl made " << der.size();
}

TEST_F(ExportTest, ProposedNameComesFromTheLabel) {
    const std::string utf8 = "\xC3\x85sa \xC3\x96" "berg";  // "Åsa Öberg"
    const std::string seventy(70, 'a');
    const std::string seventyOne(71, 'b');
    const struct {
        const char* what;
        const char* label;  // null: the object has no CKA_LABEL
        size_t length;
        std::wstring proposal;
    } rows[] = {
        {"no label", nullptr, 0, L"Exported Certificate"},
        {"empty label", "", 0, L"Exported Certificate"},
        {"UTF-8 label", utf8.c_str(), utf8.size(), L"\u00C5sa \u00D6berg"},
        // Not UTF-8: each byte becomes the character of the same value.
        {"Latin-1 label", "K\xF6r", 3, L"K\u00F6r"},
        // The label is read into 70 bytes: 70 fit, 71 do not.
        {"70-byte label", seventy.c_str(), 70, std::wstring(70, L'a')},
        {"71-byte label", seventyOne.c_str(), 71, L"Exported Certificate"},
    };
    const Bytes der = ReadFixture(L"cn_simple.der");
    for (const auto& row : rows)
        AddCertificate(row.label, row.length, der);
    ListObjects();
    ASSERT_EQ(ObjectRows(), static_cast<int>(std::size(rows)));

    // Each dialog is cancelled: nothing is written and nothing is shown.
    for (size_t i = 0; i < std::size(rows); ++i) {
        proposals_.clear();
        const std::vector<SeenWindow> seen = Export(static_cast<int>(i), {SaveDialog(L"")});
        EXPECT_EQ(seen.size(), 1u) << rows[i].what;
        EXPECT_EQ(proposals_, std::vector<std::wstring>{rows[i].proposal}) << rows[i].what;
    }
    EXPECT_TRUE(FilesIn(out_.Path()).empty());
    EXPECT_FALSE(AppState.Busy);
}

TEST_F(ExportTest, LabelThatIsNoFileNameFallsBackToExportedCertificate) {
    const Bytes der = ReadFixture(L"cn_none.der");
    AddCertificate("a<b>|c", der);
    ListObjects();
    const std::vector<SeenWindow> seen = Export(0, {SaveDialog(out_.File(L"Exported Certificate"))});
    ASSERT_EQ(seen.size(), 1u) << "the refused name opens no dialog of its own";
    EXPECT_EQ(proposals_, std::vector<std::wstring>{L"Exported Certificate"});
    Bytes saved;
    ASSERT_TRUE(ReadFileBytes(out_.File(L"Exported Certificate.crt"), &saved));
    EXPECT_TRUE(saved == der);
}

TEST_F(ExportTest, RowWithoutHandleIsReportedBeforeAnyDialog) {
    // A certificate row that no listing filled: its handle is 0.
    ClearObjectTables();
    MainWindowFixture::AddRow(AppState.ObjectListView, {L"7", L"Digital certificate", L"N/A"});
    const std::vector<SeenWindow> seen = Export(0, {Box(L"General error")});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, kCantRetrieve);
    EXPECT_EQ(seen[0].owner, nullptr);
}

TEST_F(ExportTest, FailedReadsAreReportedAndWriteNothing) {
    using Condition = std::function<std::shared_ptr<void>()>;
    // C_GetAttributeValue calls: 1 the label, 2 the length query, 3 the value.
    const auto fault = [](CK_ULONG nth, CK_RV rv) -> Condition {
        return [nth, rv] {
            TokenStore::Control().SetFault("C_GetAttributeValue", nth, rv);
            return std::shared_ptr<void>(nullptr, [](void*) { TokenStore::Control().ClearFaults(); });
        };
    };
    const struct {
        const char* what;
        Condition condition;  // holds while its result lives
        CK_RV reported;
    } rows[] = {
        {"length query", fault(2, CKR_GENERAL_ERROR), CKR_GENERAL_ERROR},
        {"value read", fault(3, CKR_DEVICE_ERROR), CKR_DEVICE_ERROR},
        // No buffer is made for the length: reported, never used.
        {"value too large", [] { return std::make_shared<HugeValueLength>(); }, CKR_HOST_MEMORY},
        // Vendor-defined codes: 10 + rv neither turns negative nor wraps
        // to a small result (0xFFFFFFF6 once read as "written").
        {"vendor code", fault(3, 0x80000000UL), 0x80000000UL},
        {"highest vendor codes", fault(2, 0xFFFFFFF6UL), 0xFFFFFFF6UL},
    };
    AddCertificate("alice", ReadFixture(L"cn_simple.der"));
    ListObjects();
    for (const auto& row : rows) {
        std::vector<SeenWindow> seen;
        {
            auto condition = row.condition();
            seen = Export(0, {SaveDialog(out_.File(L"alice")), Box(L"General error")});
        }
        ASSERT_EQ(seen.size(), 2u) << row.what;
        EXPECT_EQ(seen[1].text, ComposeCkErrorW(row.reported, kCantRetrieve)) << row.what;
        EXPECT_EQ(seen[1].owner, nullptr) << row.what;
        EXPECT_TRUE(FilesIn(out_.Path()).empty()) << row.what;
    }
}

TEST_F(ExportTest, FailedWriteLeavesNoFileAndKeepsTheOldOne) {
    AddCertificate("alice", ReadFixture(L"cn_simple.der"));
    ListObjects();
    const std::wstring target = out_.File(L"alice.crt");
    const Bytes old = {'o', 'l', 'd'};
    ASSERT_TRUE(WriteFileBytes(target, old));
    // Held open without sharing, the file cannot be replaced.
    HANDLE held = CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    DialogStep replace;  // the save dialog asks before it overwrites
    replace.button = IDYES;
    const std::vector<SeenWindow> seen =
        Export(0, {SaveDialog(target), replace, Box(L"file error")});
    CloseHandle(held);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2].text, L"Can't create the file.\r");
    EXPECT_EQ(seen[2].owner, nullptr);
    EXPECT_EQ(FilesIn(out_.Path()), std::vector<std::wstring>{L"alice.crt"}) << "no partial file is left";
    Bytes kept;
    ASSERT_TRUE(ReadFileBytes(target, &kept));
    EXPECT_TRUE(kept == old);
}

TEST_F(ExportTest, ButtonFollowsTheSelectedRow) {
    AddCertificate("alice", ReadFixture(L"cn_simple.der"));
    AddKeyPair("pair");
    ListObjects();
    ASSERT_EQ(ObjectRows(), 3);
    EXPECT_FALSE(window_.ButtonEnabled(kExportButton)) << "a listing leaves it disabled";
    const int certificate = RowLabelled(L"alice");
    ASSERT_GE(certificate, 0);

    const struct {
        int row;
        bool enabled;
    } clicks[] = {{certificate, true}, {(certificate + 1) % 3, false}, {certificate, true},
                  {(certificate + 2) % 3, false}, {certificate, true}, {-1, false}};
    for (const auto& click : clicks) {
        window_.ClickObjectRow(click.row);
        EXPECT_EQ(window_.ButtonEnabled(kExportButton), click.enabled)
            << "row " << click.row << " of type "
            << Narrow(click.row < 0 ? L"none" : MainWindowFixture::CellText(AppState.ObjectListView, click.row, 1));
        EXPECT_TRUE(window_.ButtonEnabled(kDeleteButton)) << "the user stays logged in";
    }
}

}  // namespace
