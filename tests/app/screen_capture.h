// Pictures of what the screen shows: a rectangle copied from the screen into 32-bit pixels,
// compared pixel by pixel, and written as PNG files (zlib does the compression).
#pragma once

#include <windows.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

struct TPixel {
  uint8_t R, G, B;
  bool operator==(const TPixel&) const = default;
};

class TCapture {
 public:
  int Width = 0, Height = 0;
  std::vector<TPixel> Pixels;  // rows from the top

  // The screen's pixels inside rc (screen coordinates).
  static TCapture FromScreen(const RECT& rc) {
    TCapture c;
    c.Width = rc.right - rc.left;
    c.Height = rc.bottom - rc.top;
    if (c.Width <= 0 || c.Height <= 0) return c;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = c.Width;
    bi.bmiHeader.biHeight = -c.Height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, c.Width, c.Height, screen, rc.left, rc.top, SRCCOPY);
    GdiFlush();
    const auto* p = static_cast<const uint8_t*>(bits);
    c.Pixels.resize(static_cast<size_t>(c.Width) * c.Height);
    for (size_t i = 0; i < c.Pixels.size(); ++i) c.Pixels[i] = {p[i * 4 + 2], p[i * 4 + 1], p[i * 4]};
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return c;
  }

  TPixel At(int x, int y) const { return Pixels[static_cast<size_t>(y) * Width + x]; }
  bool operator==(const TCapture&) const = default;

  // Share of the pixels inside rc (this picture's coordinates) for which test holds.
  template <class F>
  double Share(const RECT& rc, F test) const {
    long long hits = 0, all = 0;
    for (int y = rc.top; y < rc.bottom; ++y)
      for (int x = rc.left; x < rc.right; ++x) {
        if (x < 0 || y < 0 || x >= Width || y >= Height) continue;
        ++all;
        if (test(At(x, y))) ++hits;
      }
    return all ? static_cast<double>(hits) / static_cast<double>(all) : 0.0;
  }

  // An 8-bit RGB PNG; true when the file was written.
  bool SavePng(const std::wstring& path) const {
    std::string raw;
    raw.reserve(static_cast<size_t>(Height) * (Width * 3 + 1));
    for (int y = 0; y < Height; ++y) {
      raw += '\0';  // filter: none
      for (int x = 0; x < Width; ++x) {
        const TPixel px = At(x, y);
        raw += static_cast<char>(px.R);
        raw += static_cast<char>(px.G);
        raw += static_cast<char>(px.B);
      }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
                  static_cast<uLong>(raw.size()), 9) != Z_OK)
      return false;
    packed.resize(packedSize);

    std::string png("\x89PNG\r\n\x1a\n", 8);
    auto chunk = [&png](const char* type, const std::string& data) {
      Put32(png, static_cast<uint32_t>(data.size()));
      std::string body = std::string(type, 4) + data;
      png += body;
      Put32(png, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                             static_cast<uInt>(body.size()))));
    };
    std::string header;
    Put32(header, static_cast<uint32_t>(Width));
    Put32(header, static_cast<uint32_t>(Height));
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter set, no interlace
    chunk("IHDR", header);
    chunk("IDAT", packed);
    chunk("IEND", "");

    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, png.data(), static_cast<DWORD>(png.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == png.size();
  }

 private:
  static void Put32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(v >> shift & 0xFF);
  }
};
