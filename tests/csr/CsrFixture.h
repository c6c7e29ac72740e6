// The main window on a software token with a user PIN, and the windows of
// a "Generate CSR" run: the dialog, its message boxes and the save dialog,
// driven as a user would. The key-management library is the build's
// vexpke.dll.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "cryptoki/Cryptoki.h"
#include "support/MainWindowFixture.h"
#include "support/UiDriver.h"

constexpr int kCsrSlot = 0;
constexpr int kFileNameBox = 1148;  // the save dialog's "File name" box (cmb13)
const wchar_t kCsrCaption[] = L"Generate CSR";

using ControlTexts = std::vector<std::pair<int, std::wstring>>;

class CsrTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // An RSA key pair with ID 0A FF and a certificate on the token, listed
    // in the object list (logged in for the listing, logged out again).
    void AddKeyAndCertificate(CK_ULONG bits = 1024);
    void ListObjects();
    // The first object-list row whose type cell reads `type`; -1 when none.
    int ObjectRow(const std::wstring& type);

    // Command 108 with `driver` handling the windows; returns once the
    // command has returned. Every queued step must have run and no other
    // window may have appeared.
    void RunCsr(UiDriver& driver);

    // The "Generate CSR" dialog: fills `texts`, checks `boxes`, runs
    // `inspect`, then presses `button`.
    static DialogStep CsrDialog(ControlTexts texts, std::vector<int> boxes = {}, int button = IDOK,
                                std::function<void(HWND)> inspect = {});
    // A message box captioned `caption`, answered with OK.
    static DialogStep Box(const std::wstring& caption, std::function<void(HWND)> inspect = {});
    // The save dialog, given `path`.
    static DialogStep SaveAs(const std::wstring& path);

    // "Modulus=<hex>" of the public key with ID 0A FF, as openssl prints a
    // request's modulus.
    std::string KeyModulusLine();

    // The CSR the library makes for the last request (CsrRequest) when
    // asked directly; RSA PKCS #1 v1.5 signatures are deterministic, so for
    // a key on the token this is the text the run got. A failure's
    // description otherwise.
    std::string RegeneratedCsr();

    CK_STATE SessionState();
    std::wstring RowStatus();
    std::wstring LoginCaption() { return window_.ButtonCaption(0); }

    // Folder whose CSR files the openssl step checks after this executable.
    static std::wstring VerifiedCsrFolder();

    MainWindowFixture window_;
    TempFolder files_;
};

// Expected caption and text of a seen window.
void ExpectBox(const SeenWindow& seen, const std::wstring& caption, const std::wstring& text);

// Polls `done` for up to five seconds (for changes the worker thread makes
// while the dialog is open).
bool WaitFor(const std::function<bool()>& done);

// The text of a control of the dialog, and whether it is enabled.
std::wstring DialogText(HWND dialog, int id);
bool DialogEnabled(HWND dialog, int id);

std::string ReadText(const std::wstring& path);
bool FileExists(const std::wstring& path);
