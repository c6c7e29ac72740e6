// "Generate CSR" where no vexpke.dll can be found: this executable copied,
// with the software token but without the library, into a folder of its
// own and run there on the one test below.
#include <cstdlib>

#include "CsrFixture.h"
#include "csr/CsrDialog.h"
#include "csr/PkeLibrary.h"
#include "res/resource.h"
#include "support/TestFiles.h"

namespace {

const wchar_t kChildVariable[] = L"CSR_MISSING_LIBRARY_CHILD";

bool IsChild() {
    return GetEnvironmentVariableW(kChildVariable, nullptr, 0) != 0;
}

// In the copy: the message, and the dialog left as it was.
TEST_F(CsrTest, MissingLibraryLeavesTheDialogAsItWas) {
    if (!IsChild())
        GTEST_SKIP() << "runs in the copy made by MissingLibraryRun";
    bool editable = false;
    bool waitLabel = true;
    UiDriver driver;
    driver.Then(CsrDialog({{IDC_CSR_PIN, L"1234"}}))
        .Then(Box(L"CSR Generation Error"))
        .Then(CsrDialog({}, {}, IDCANCEL, [&](HWND dialog) {
            editable = DialogEnabled(dialog, IDOK) && DialogEnabled(dialog, IDC_CSR_PIN) &&
                       DialogEnabled(dialog, IDC_CSR_KEY_LENGTH) && DialogEnabled(dialog, IDC_CSR_COUNTRY);
            waitLabel = GetDlgItem(dialog, kCsrWaitLabelId) != nullptr;
        }));
    RunCsr(driver);
    const auto seen = driver.Seen();
    ASSERT_EQ(seen.size(), 3u);
    ExpectBox(seen[1], L"CSR Generation Error", L"Can not load PKE dll");
    EXPECT_TRUE(editable);
    EXPECT_FALSE(waitLabel);
    EXPECT_EQ(pkeLibraryHandle(), nullptr);
}

TEST(CsrMissingLibrary, MissingLibraryRun) {
    if (IsChild())
        GTEST_SKIP() << "the copy runs the dialog test only";
    TempFolder folder;
    const std::wstring exe = folder.File(L"csr_tests.exe");
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_TRUE(CopyFileW(self, exe.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((BinFolder() + L"\\tolvane11.dll").c_str(), folder.File(L"tolvane11.dll").c_str(), FALSE));
    ASSERT_FALSE(FileExists(folder.File(L"vexpke.dll")));

    const std::wstring report = folder.File(L"report.xml");
    const std::wstring command = L"\"" + exe + L"\" --gtest_filter=CsrTest.MissingLibraryLeavesTheDialogAsItWas" +
                                 L" --gtest_output=xml:" + report;
    const ProcessResult result = RunProcess(command, {std::wstring(kChildVariable) + L"=1"}, 60000);
    ASSERT_TRUE(result.started);
    EXPECT_FALSE(result.timedOut);
    const std::string xml = ReadText(report);
    EXPECT_EQ(result.exitCode, 0u) << xml;
    EXPECT_NE(xml.find("result=\"completed\""), std::string::npos) << "the dialog test ran: " << xml;
}

}  // namespace
