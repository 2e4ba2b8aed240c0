// velmar.exe's own icons 9000-9014: the image index is the node or row kind, so each icon
// must show its kind's picture. Each kind's picture has a colour of its own, the commonest
// colour of the icon other than its black outlines and white paper; a shuffled order fails.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "suite_paths.h"

namespace {

struct Kind {
    int index;
    const char *picture;
    COLORREF colour;
};

const Kind kKinds[] = {
    {0, "project: a blue ring binder", RGB(40, 110, 200)},
    {1, "printer: a grey printer", RGB(190, 190, 190)},
    {2, "disk: a slate drive", RGB(90, 100, 120)},
    {3, "flash or network-card store: a dark card", RGB(60, 60, 60)},
    {4, "PJL volume: a teal partition", RGB(0, 150, 150)},
    {5, "common volume: a green partition", RGB(110, 160, 60)},
    {6, "PostScript volume: a magenta partition", RGB(170, 60, 170)},
    {7, "directory: a yellow folder", RGB(240, 200, 60)},
    {8, "bitmapped PCL font: a red letter", RGB(200, 0, 0)},
    {9, "TrueType font: a blue letter", RGB(0, 90, 200)},
    {10, "file, demo page or macro: a page with grey lines", RGB(150, 150, 150)},
    {11, "PostScript font: a purple letter", RGB(120, 0, 160)},
    {12, "PostScript form: a cream ruled form", RGB(255, 255, 200)},
    {13, "colour profile: red, green and blue bars", RGB(220, 0, 0)},
    {14, "unknown item: a pale tile", RGB(210, 210, 230)},
};

// The pixels of a bitmap, top-down, as 0x00RRGGBB.
std::vector<DWORD> Pixels(HBITMAP bitmap, int size) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size;
    info.bmiHeader.biHeight = -size;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> pixels(static_cast<std::size_t>(size) * size);
    HDC dc = GetDC(nullptr);
    const int lines = GetDIBits(dc, bitmap, 0, size, pixels.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    if (lines != size)
        pixels.clear();
    return pixels;
}

// The commonest opaque colour of the icon other than black and white, as "RRGGBB"; or a
// text saying what could not be read.
std::string DominantColour(HICON icon, int size) {
    ICONINFO info = {};
    if (!GetIconInfo(icon, &info))
        return "no icon info";
    const std::vector<DWORD> colour =
        info.hbmColor ? Pixels(info.hbmColor, size) : std::vector<DWORD>{};
    const std::vector<DWORD> mask = Pixels(info.hbmMask, size);
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    if (colour.empty() || mask.size() != colour.size())
        return "no colour pixels";
    std::map<DWORD, int> counts;
    for (std::size_t i = 0; i < colour.size(); ++i) {
        const DWORD rgb = colour[i] & 0xFFFFFF;
        if ((mask[i] & 0xFFFFFF) == 0 && rgb != 0 && rgb != 0xFFFFFF)
            ++counts[rgb];
    }
    DWORD best = 0;
    int most = 0;
    for (const auto &[rgb, n] : counts)
        if (n > most) {
            best = rgb;
            most = n;
        }
    if (most == 0)
        return "only black and white";
    char text[8];
    std::snprintf(text, sizeof text, "%06lX", static_cast<unsigned long>(best));
    return text;
}

std::string Hex(COLORREF c) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X%02X%02X", GetRValue(c), GetGValue(c), GetBValue(c));
    return text;
}

} // namespace

TEST(Icons, EachIndexShowsThePictureOfItsKindAtBothSizes) {
    const std::string exe = suite::BinPath("velmar.exe");
    HMODULE module = LoadLibraryExA(exe.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << "cannot load " << exe << ": error " << GetLastError();
    for (const Kind &kind : kKinds) {
        for (int size : {16, 32}) {
            HICON icon = static_cast<HICON>(
                LoadImageA(module, MAKEINTRESOURCEA(9000 + kind.index), IMAGE_ICON, size, size, 0));
            ASSERT_NE(icon, nullptr) << "icon " << 9000 + kind.index << " at " << size << " px";
            EXPECT_EQ(DominantColour(icon, size), Hex(kind.colour))
                << "icon " << 9000 + kind.index << " at " << size << " px should show "
                << kind.picture;
            DestroyIcon(icon);
        }
    }
    FreeLibrary(module);
}
