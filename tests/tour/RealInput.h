// Mouse and keyboard input as a user gives it: events put into the window
// system's input stream with SendInput, which then reach whatever window is
// under the pointer or holds the keyboard focus, in any process.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>

namespace RealInput {

// Moves the pointer to the screen point and presses and releases a button.
void LeftClick(POINT screen);
void RightClick(POINT screen);

// Moves the pointer to the screen point, pressing nothing (a hover).
void MoveTo(POINT screen);

// The same at the centre of a window or control.
void LeftClick(HWND window);
void RightClick(HWND window);

// Types the text key by key: a character of the keyboard layout as its key
// (with Shift where needed), any other character as a Unicode key event.
void Type(const std::wstring& text);

// Presses the keys in order, then releases them in reverse order:
// {VK_RETURN}, {VK_MENU, VK_F4}, {VK_SHIFT, VK_HOME}.
void Keys(std::initializer_list<WORD> keys);

// Replaces the whole text of the edit that has the focus: End, Shift+Home,
// then the new text over the selection.
void ReplaceFocusedText(const std::wstring& text);

POINT CentreOf(HWND window);

}  // namespace RealInput
