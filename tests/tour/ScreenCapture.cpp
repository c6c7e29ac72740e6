#include "ScreenCapture.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr DWORD kSettlePollMs = 60;

int RowBytes(int width) {
    return (width * 3 + 3) & ~3;
}

}  // namespace

RECT AreaOf(const std::vector<HWND>& windows) {
    RECT area = {};
    for (HWND window : windows) {
        RECT rect = {};
        if (GetWindowRect(window, &rect))
            UnionRect(&area, &area, &rect);
    }
    const RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    IntersectRect(&area, &area, &screen);
    return area;
}

ScreenPicture CaptureScreen(const RECT& area) {
    ScreenPicture picture;
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0)
        return picture;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    const bool copied = BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY) != FALSE;
    SelectObject(memory, old);

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as BMP files keep their rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<unsigned char> pixels(static_cast<size_t>(RowBytes(width)) * height);
    if (copied && GetDIBits(memory, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS) == height) {
        picture.width = width;
        picture.height = height;
        picture.pixels = std::move(pixels);
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return picture;
}

ScreenPicture CaptureSettled(const RECT& area, DWORD timeoutMs) {
    const ULONGLONG until = GetTickCount64() + timeoutMs;
    ScreenPicture last = CaptureScreen(area);
    while (GetTickCount64() < until) {
        Sleep(kSettlePollMs);
        ScreenPicture next = CaptureScreen(area);
        const bool same = next.pixels == last.pixels;
        last = std::move(next);
        if (same)
            break;
    }
    return last;
}

bool SaveBmp(const ScreenPicture& picture, const std::wstring& path) {
    if (picture.pixels.empty())
        return false;
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = picture.width;
    header.biHeight = picture.height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(picture.pixels.size());
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + header.biSizeImage;

    FILE* out = _wfopen(path.c_str(), L"wb");
    if (!out)
        return false;
    bool written = fwrite(&file, sizeof file, 1, out) == 1 && fwrite(&header, sizeof header, 1, out) == 1 &&
                   fwrite(picture.pixels.data(), 1, picture.pixels.size(), out) == picture.pixels.size();
    written = fclose(out) == 0 && written;
    return written;
}
