// Pictures of the screen: the area that a program's windows cover, read
// from the desktop and saved as 24-bit BMP files.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct ScreenPicture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;  // bottom-up rows of BGR, each padded to 4 bytes
};

// The bounding rectangle of the windows, clipped to the screen.
RECT AreaOf(const std::vector<HWND>& windows);

// Reads the area of the screen; an empty picture when it cannot.
ScreenPicture CaptureScreen(const RECT& area);

// Reads the area until two readings in a row are the same, so that the
// windows have finished painting, or until `timeoutMs` has passed; the
// last reading.
ScreenPicture CaptureSettled(const RECT& area, DWORD timeoutMs);

bool SaveBmp(const ScreenPicture& picture, const std::wstring& path);
