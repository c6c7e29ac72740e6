// Stands in for the certificate viewer that the shell starts for a .crt
// file. Registered by the viewing tests as the open command
//   "viewer_probe.exe" "<record>" "%1"
// it writes <record>: the opened path (UTF-8), a line feed, then the bytes
// of the opened file. The record is renamed into place when complete, so a
// test that sees it sees all of it.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

bool ReadAll(const wchar_t* path, std::string* bytes) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char buffer[4096];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != FALSE) && got > 0)
        bytes->append(buffer, got);
    CloseHandle(file);
    return ok;
}

std::string Utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], size, nullptr, nullptr);
    return utf8;
}

bool WriteRecord(const std::wstring& record, const std::string& content) {
    const std::wstring partial = record + L".partial";
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
                    written == content.size();
    CloseHandle(file);
    return ok && MoveFileExW(partial.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments || count != 3)
        return 2;
    std::string content = Utf8(arguments[2]) + "\n";
    if (!ReadAll(arguments[2], &content))
        return 3;
    return WriteRecord(arguments[1], content) ? 0 : 4;
}
