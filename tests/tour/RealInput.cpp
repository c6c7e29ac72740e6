#include "RealInput.h"

#include <vector>

namespace RealInput {
namespace {

// SendInput's absolute coordinates run from 0 to 65535 across the screen.
LONG Normalised(LONG pixel, int screenSize) {
    return static_cast<LONG>((static_cast<LONGLONG>(pixel) * 65535 + (screenSize - 1) / 2) / (screenSize - 1));
}

INPUT MouseEvent(DWORD flags, POINT screen) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = Normalised(screen.x, GetSystemMetrics(SM_CXSCREEN));
    input.mi.dy = Normalised(screen.y, GetSystemMetrics(SM_CYSCREEN));
    input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE;
    return input;
}

INPUT KeyEvent(WORD key, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

INPUT UnicodeEvent(wchar_t character, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wScan = character;
    input.ki.dwFlags = KEYEVENTF_UNICODE | (up ? KEYEVENTF_KEYUP : 0);
    return input;
}

void Send(std::vector<INPUT>& events) {
    SendInput(static_cast<UINT>(events.size()), events.data(), sizeof(INPUT));
}

void Click(POINT screen, DWORD down, DWORD up) {
    std::vector<INPUT> events = {MouseEvent(MOUSEEVENTF_MOVE, screen), MouseEvent(MOUSEEVENTF_MOVE | down, screen),
                                 MouseEvent(MOUSEEVENTF_MOVE | up, screen)};
    Send(events);
}

// The key events of one character: its key with Shift when the layout
// needs it; characters the layout has no plain or shifted key for go as
// Unicode key events.
void AppendCharacter(wchar_t character, std::vector<INPUT>* events) {
    const SHORT scan = VkKeyScanW(character);
    const WORD key = LOBYTE(scan);
    const BYTE modifiers = HIBYTE(scan);
    if (scan == -1 || (modifiers & ~1) != 0) {
        events->push_back(UnicodeEvent(character, false));
        events->push_back(UnicodeEvent(character, true));
        return;
    }
    const bool shift = (modifiers & 1) != 0;
    if (shift)
        events->push_back(KeyEvent(VK_SHIFT, false));
    events->push_back(KeyEvent(key, false));
    events->push_back(KeyEvent(key, true));
    if (shift)
        events->push_back(KeyEvent(VK_SHIFT, true));
}

}  // namespace

POINT CentreOf(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

void LeftClick(POINT screen) {
    Click(screen, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
}

void MoveTo(POINT screen) {
    std::vector<INPUT> events = {MouseEvent(MOUSEEVENTF_MOVE, screen)};
    Send(events);
}

void RightClick(POINT screen) {
    Click(screen, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP);
}

void LeftClick(HWND window) {
    LeftClick(CentreOf(window));
}

void RightClick(HWND window) {
    RightClick(CentreOf(window));
}

void Type(const std::wstring& text) {
    std::vector<INPUT> events;
    for (wchar_t character : text)
        AppendCharacter(character, &events);
    Send(events);
}

void Keys(std::initializer_list<WORD> keys) {
    std::vector<INPUT> events;
    for (WORD key : keys)
        events.push_back(KeyEvent(key, false));
    for (auto key = keys.end(); key != keys.begin();)
        events.push_back(KeyEvent(*--key, true));
    Send(events);
}

void ReplaceFocusedText(const std::wstring& text) {
    Keys({VK_END});
    Keys({VK_SHIFT, VK_HOME});
    if (text.empty())
        Keys({VK_DELETE});
    else
        Type(text);
}

}  // namespace RealInput
