// The demo's hands and eyes: starts Morvane.exe, takes a picture of the window when it is
// Ready, presses the button, reports every state the window goes through, and takes pictures
// while the gauge is mid-way and when the installation is done.
//   demo_driver <Morvane.exe> <folder for pictures> [report file]
// The report goes to the standard output and, when given, to the file as well (a program that
// Wine's desktop starts has no console to write to).
#include <windows.h>

#include <cstdio>
#include <string>

#include "launcher_driver.h"
#include "system/text.h"

namespace {

std::wstring ReportPath;

void Say(const std::wstring& text) {
  const std::string line = EncodeUtf8(text) + "\n";
  fwrite(line.data(), 1, line.size(), stdout);
  fflush(stdout);
  if (ReportPath.empty()) return;
  HANDLE file = CreateFileW(ReportPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

// The window as it is on the screen, saved as a 24-bit BMP.
void Capture(HWND window, const std::wstring& path) {
  RECT rc;
  GetWindowRect(window, &rc);
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  if (w <= 0 || h <= 0) return;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY);
  SelectObject(memory, old);
  const DWORD stride = ((w * 3 + 3) & ~3u), size = stride * h;
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
  fh.bfSize = fh.bfOffBits + size;
  std::string bytes(reinterpret_cast<const char*>(&fh), sizeof fh);
  bytes.append(reinterpret_cast<const char*>(&bi.bmiHeader), sizeof bi.bmiHeader);
  bytes.append(static_cast<const char*>(bits), size);
  WriteFileBytes(path, bytes);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

int Percent(const std::wstring& reading) { return reading.empty() ? -1 : _wtoi(reading.c_str()); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const std::wstring pictures = argv[2];
  if (argc > 3) ReportPath = argv[3];
  TProcess launcher = TProcess::Start(argv[1], L"", {});
  TWindowView view;
  if (!WaitUntil([&] { return (view = TWindowView::Find(launcher.Id())).Found() && view.WindowVisible(); })) {
    Say(L"the window did not appear");
    Say(L"end");
    return 1;
  }
  Sleep(500);  // let the first painting finish before the picture
  Say(L"state: " + view.StatusText() + L" | button \"" + view.ButtonText() + L"\"");
  Capture(view.Window, pictures + L"\\ready.bmp");
  view.Press();

  std::wstring lastStatus = view.StatusText(), lastGauge;
  bool midway = false;
  while (launcher.Running()) {
    const std::wstring status = StoredWindowText(view.Status);
    const std::wstring gauge = view.GaugeVisible() ? StoredWindowText(view.Gauge) : L"";
    if (!status.empty() && status != lastStatus) {
      Say(L"state: " + status + (gauge.empty() ? L"" : L" | gauge " + gauge));
      if (status == L"Обновление завершено!") {
        // Wine puts a busy window's drawing on the screen late: keep taking pictures until
        // the window goes, and keep the last one taken while it was still there.
        while (view.WindowVisible()) {
          Capture(view.Window, pictures + L"\\done.bmp");
          Sleep(1);
        }
      }
      lastStatus = status;
    }
    if (!gauge.empty() && gauge != lastGauge) {
      const int p = Percent(gauge);
      if (!midway && p >= 35 && p <= 75) {
        Capture(view.Window, pictures + L"\\downloading.bmp");
        midway = true;
      }
      if (p % 20 == 0 || p == 100) Say(L"  gauge " + gauge);
      lastGauge = gauge;
    }
    Sleep(1);
  }
  Say(L"launcher ended with exit code " + IntToStr(launcher.ExitCode()));
  Say(L"end");
  return 0;
}
