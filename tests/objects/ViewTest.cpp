// Viewing a certificate by a double-click on its object row: the copy in the
// temporary folder, the shell's open command (a probe registered for .crt
// files while a test runs), key rows, and every failure's result and message.
#include "ObjectsWindowFixture.h"

#include <cwctype>
#include <functional>
#include <memory>
#include <regex>

#include "app/AppState.h"
#include "cryptoki/ErrorReport.h"
#include "objects/CertificateView.h"
#include "support/TestFiles.h"

namespace {

const wchar_t kProgId[] = L"TokenManagerTest.ViewerProbe";

bool SetDefaultValue(HKEY root, const std::wstring& key, const std::wstring& value) {
    HKEY handle = nullptr;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const LONG result = RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
}

// The default value of a key; false when the key does not exist.
bool ReadDefaultValue(HKEY root, const std::wstring& key, std::wstring* value) {
    wchar_t text[1024] = {};
    LONG size = sizeof text - sizeof(wchar_t);
    if (RegQueryValueW(root, key.c_str(), text, &size) != ERROR_SUCCESS)
        return false;
    *value = text;
    return true;
}

// A key's default value set for the object's lifetime: the old value is put
// back afterwards, or the key removed when it did not exist before.
class ScopedDefaultValue {
public:
    ScopedDefaultValue(HKEY root, const std::wstring& key, const std::wstring& value) : root_(root), key_(key) {
        existed_ = ReadDefaultValue(root, key, &old_);
        set_ = SetDefaultValue(root, key, value);
    }
    ~ScopedDefaultValue() {
        if (existed_)
            SetDefaultValue(root_, key_, old_);
        else
            RegDeleteTreeW(root_, key_.c_str());
    }
    ScopedDefaultValue(const ScopedDefaultValue&) = delete;
    ScopedDefaultValue& operator=(const ScopedDefaultValue&) = delete;
    bool Set() const { return set_; }

private:
    HKEY root_;
    std::wstring key_;
    bool existed_ = false;
    bool set_ = false;
    std::wstring old_;
};

// The open command of .crt files points, for the object's lifetime, to the
// viewer probe, which writes what it was given to `record`. It is registered
// for the user (HKCU\Software\Classes); Wine 8 does not read the user's
// classes through HKEY_CLASSES_ROOT, so there it also goes into the
// machine's classes. What was there before is put back afterwards.
class CrtOpenCommand {
public:
    explicit CrtOpenCommand(const std::wstring& record)
        : command_(L"\"" + BinFolder() + L"\\viewer_probe.exe\" \"" + record + L"\" \"%1\"") {
        Register(HKEY_CURRENT_USER, L"Software\\Classes\\");
        if (!Registered())
            Register(HKEY_CLASSES_ROOT, L"");
    }

    ~CrtOpenCommand() {
        for (const auto& progId : progIds_)
            RegDeleteTreeW(progId.first, progId.second.c_str());
    }

    CrtOpenCommand(const CrtOpenCommand&) = delete;
    CrtOpenCommand& operator=(const CrtOpenCommand&) = delete;

    // True when the shell finds the probe for .crt files.
    bool Registered() const {
        std::wstring progId, command;
        return ReadDefaultValue(HKEY_CLASSES_ROOT, L".crt", &progId) && progId == kProgId &&
               ReadDefaultValue(HKEY_CLASSES_ROOT, progId + L"\\shell\\open\\command", &command) &&
               command == command_;
    }

private:
    void Register(HKEY root, const std::wstring& classes) {
        extensions_.push_back(std::make_unique<ScopedDefaultValue>(root, classes + L".crt", kProgId));
        progIds_.emplace_back(root, classes + kProgId);
        SetDefaultValue(root, classes + kProgId + L"\\shell\\open\\command", command_);
    }

    std::wstring command_;
    std::vector<std::unique_ptr<ScopedDefaultValue>> extensions_;
    std::vector<std::pair<HKEY, std::wstring>> progIds_;
};

// An environment variable set for the object's lifetime.
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
        wchar_t old[1024];
        const DWORD length = GetEnvironmentVariableW(name, old, 1024);
        had_ = length > 0 && length < 1024;
        if (had_)
            old_ = old;
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedVariable() { SetEnvironmentVariableW(name_, had_ ? old_.c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const wchar_t* name_;
    bool had_ = false;
    std::wstring old_;
};

std::wstring TemporaryFolder() {
    wchar_t folder[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, folder);
    return folder;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// Names and write times of the viewer files in the temporary folder.
std::vector<std::pair<std::wstring, ULONGLONG>> ViewerFiles() {
    std::vector<std::pair<std::wstring, ULONGLONG>> files;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((TemporaryFolder() + L"cert*.crt").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do {
        const ULONGLONG time = (static_cast<ULONGLONG>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                               found.ftLastWriteTime.dwLowDateTime;
        files.emplace_back(found.cFileName, time);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return files;
}

class ViewTest : public ObjectsWindowTest {
protected:
    void SetUp() override {
        ObjectsWindowTest::SetUp();
        der_ = ReadFixture(L"cn_simple.der");
        AddCertificate("alice", der_);
        AddKeyPair("pair");
        ListObjects();
        certificateRow_ = RowLabelled(L"alice");
        ASSERT_GE(certificateRow_, 0);
        ASSERT_TRUE(viewer_.Registered());
    }

    // Waits for the probe's record: the opened path and the file's bytes.
    bool WaitForRecord(std::wstring* path, Bytes* bytes, DWORD timeoutMs) {
        Bytes record;
        const ULONGLONG until = GetTickCount64() + timeoutMs;
        while (!ReadFileBytes(record_, &record)) {
            if (GetTickCount64() >= until)
                return false;
            window_.Pump();
            Sleep(20);
        }
        const auto newline = std::find(record.begin(), record.end(), '\n');
        const std::string utf8(record.begin(), newline);
        path->assign(utf8.size(), L'\0');
        path->resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &(*path)[0],
                                         static_cast<int>(utf8.size())));
        bytes->assign(newline == record.end() ? record.end() : newline + 1, record.end());
        return true;
    }

    Bytes der_;
    int certificateRow_ = -1;
    TempFolder probeFolder_;
    std::wstring record_ = probeFolder_.File(L"record");
    CrtOpenCommand viewer_{record_};
};

TEST_F(ViewTest, DoubleClickedCertificateIsCopiedToTheTemporaryFolderAndOpened) {
    UiDriver ui;
    DoubleClickObjectRow(certificateRow_);
    std::wstring opened;
    Bytes bytes;
    ASSERT_TRUE(WaitForRecord(&opened, &bytes, 15000)) << "the shell did not start the viewer";
    const std::shared_ptr<void> removeCopy(nullptr, [&opened](void*) { DeleteFileW(opened.c_str()); });
    EXPECT_EQ(Captions(ui.Unexpected()), "");

    // "cert", up to five digits, ".crt", in the temporary folder.
    const size_t separator = opened.find_last_of(L'\\');
    ASSERT_NE(separator, std::wstring::npos) << Narrow(opened);
    EXPECT_EQ(Lower(opened.substr(0, separator + 1)), Lower(TemporaryFolder()));
    const std::wstring name = opened.substr(separator + 1);
    EXPECT_TRUE(std::regex_match(Narrow(name), std::regex("cert[0-9]{1,5}\\.crt"))) << Narrow(name);
    EXPECT_TRUE(bytes == der_) << "the viewer read " << bytes.size() << " bytes, openssl made " << der_.size();
    Bytes kept;
    ASSERT_TRUE(ReadFileBytes(opened, &kept));
    EXPECT_TRUE(kept == der_);
}

TEST_F(ViewTest, DoubleClickOnKeyRowDoesNothing) {
    const auto before = ViewerFiles();
    UiDriver ui;
    for (int row = 0; row < ObjectRows(); ++row)
        if (row != certificateRow_)
            DoubleClickObjectRow(row);
    std::wstring opened;
    Bytes bytes;
    EXPECT_FALSE(WaitForRecord(&opened, &bytes, 2000)) << "opened " << Narrow(opened);
    EXPECT_EQ(ViewerFiles(), before) << "no viewer file is written";
    EXPECT_EQ(Captions(ui.Unexpected()), "");
}

TEST_F(ViewTest, EveryFailureHasItsResultAndMessage) {
    const std::wstring longFolder = L"C:\\" + std::wstring(300, L'x') + L"\\";
    using Condition = std::function<std::shared_ptr<void>()>;
    const auto fault = [](CK_ULONG nth, CK_RV rv) -> Condition {
        return [nth, rv] {
            TokenStore::Control().SetFault("C_GetAttributeValue", nth, rv);
            return std::shared_ptr<void>(nullptr, [](void*) { TokenStore::Control().ClearFaults(); });
        };
    };
    const auto temporaryFolder = [](const std::wstring& folder) -> Condition {
        return [folder] { return std::make_shared<ScopedVariable>(L"TMP", folder); };
    };
    const std::wstring failed = L"Show certificate failed.\r\n";
    const struct {
        const char* what;
        Condition condition;  // holds while its result lives
        long long result;
        std::wstring caption;
        std::wstring text;
    } rows[] = {
        {"temporary folder too long", temporaryFolder(longFolder), 1, L"certificate error", failed},
        {"no memory for the value", [] { return std::make_shared<HugeValueLength>(); }, 3,
         L"certificate error", failed},
        {"value read fails", fault(2, CKR_DEVICE_ERROR), 4, L"certificate error", failed},
        {"viewer file cannot be created", temporaryFolder(L"C:\\no such folder of the test\\"), 5,
         L"certificate error", failed},
        {"length query: general error", fault(1, CKR_GENERAL_ERROR), 10 + CKR_GENERAL_ERROR,
         L"Show certificate error", ComposeCkErrorW(CKR_GENERAL_ERROR, L"General error occured.\r\n")},
        {"length query: another code", fault(1, CKR_OBJECT_HANDLE_INVALID), 10 + CKR_OBJECT_HANDLE_INVALID,
         L"Show certificate error", L"Couldn't retrieve the certificate (error: 82)"},
        {"length query: a vendor code", fault(1, 0xFFFFFFF6UL), 10 + 0xFFFFFFF6LL, L"Show certificate error",
         L"Couldn't retrieve the certificate (error: fffffff6)"},
    };
    for (const auto& row : rows) {
        {
            auto condition = row.condition();
            EXPECT_EQ(ShowCertificate(kObjectsSlot, certificateRow_), row.result) << row.what;
        }
        UiDriver ui;
        DialogStep box;
        box.caption = row.caption;
        ui.Then(box);
        {
            auto condition = row.condition();
            DoubleClickObjectRow(certificateRow_);
        }
        std::string why;
        EXPECT_TRUE(ui.WaitDone(&why)) << row.what << ": " << why;
        const std::vector<SeenWindow> seen = ui.Seen();
        ASSERT_EQ(seen.size(), 1u) << row.what;
        EXPECT_EQ(seen[0].text, row.text) << row.what;
        EXPECT_EQ(seen[0].owner, nullptr) << row.what;
        EXPECT_EQ(Captions(ui.Unexpected()), "") << row.what;
    }
    std::wstring opened;
    Bytes bytes;
    EXPECT_FALSE(WaitForRecord(&opened, &bytes, 500)) << "no failure reaches the shell";
}

}  // namespace
