#include "skin/controls.h"

#include <oleacc.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>

#include "skin/accessible.h"
#include "skin/window_object.h"
#include "system/handles.h"
#include "system/text.h"
#include "system/win_error.h"

namespace Skin {

namespace {

// Hand cursor without depending on the resource's numeric value in old headers.
HCURSOR HandCursor() { return LoadCursorW(nullptr, IDC_HAND); }

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);

GetDpiForWindowFn DpiForWindowFunction() {
  static const GetDpiForWindowFn fn = SystemProc<GetDpiForWindowFn>(L"user32.dll", "GetDpiForWindow");
  return fn;
}

// A premultiplied 32-bit DIB section of a picture.
HBITMAP CreatePremultipliedBitmap(const TPicture& picture, std::vector<uint32_t> pixels) {
  if (picture.Empty()) return nullptr;
  PremultiplyPixels(pixels);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = picture.Width;
  bi.bmiHeader.biHeight = -picture.Height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bmp && bits) std::memcpy(bits, pixels.data(), pixels.size() * sizeof(uint32_t));
  return bmp;
}

// Draws a premultiplied bitmap stretched to dst, keeping a border of `border` source pixels
// (drawn `borderDst` pixels wide) unstretched so rounded corners stay round.
void DrawNineSlice(HDC dc, HBITMAP bmp, int sw, int sh, const RECT& dst, int border, int borderDst) {
  const Sys::TMemoryDC src(CreateCompatibleDC(dc));
  const Sys::TSelectObject selected(src.Get(), bmp);
  BLENDFUNCTION bf{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  const int dw = dst.right - dst.left, dh = dst.bottom - dst.top;
  borderDst = std::min({borderDst, dw / 2, dh / 2});
  const int sx[4] = {0, border, sw - border, sw};
  const int sy[4] = {0, border, sh - border, sh};
  const int dx[4] = {dst.left, dst.left + borderDst, dst.right - borderDst, dst.right};
  const int dy[4] = {dst.top, dst.top + borderDst, dst.bottom - borderDst, dst.bottom};
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < 3; ++i) {
      const int w = dx[i + 1] - dx[i], h = dy[j + 1] - dy[j];
      const int ws = sx[i + 1] - sx[i], hs = sy[j + 1] - sy[j];
      if (w <= 0 || h <= 0 || ws <= 0 || hs <= 0) continue;
      GdiAlphaBlend(dc, dx[i], dy[j], w, h, src.Get(), sx[i], sy[j], ws, hs, bf);
    }
  }
}

COLORREF Mix(COLORREF a, COLORREF b, int percentB) {
  auto ch = [&](int ca, int cb) { return (ca * (100 - percentB) + cb * percentB) / 100; };
  return RGB(ch(GetRValue(a), GetRValue(b)), ch(GetGValue(a), GetGValue(b)), ch(GetBValue(a), GetBValue(b)));
}

void FillSolid(HDC dc, const RECT& rc, COLORREF color) {
  SetDCBrushColor(dc, color);
  FillRect(dc, &rc, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

// Limits drawing to rc (logical coordinates): clip regions are in device coordinates, so the
// viewport's origin is added.
void ClipTo(HDC dc, const RECT& rc) {
  POINT origin{};
  GetViewportOrgEx(dc, &origin);
  RECT device = rc;
  OffsetRect(&device, origin.x, origin.y);
  const Sys::TRegion region(CreateRectRgnIndirect(&device));
  SelectClipRgn(dc, region.Get());  // the DC keeps a copy of the region
}

void RoundRectSolid(HDC dc, const RECT& rc, int radius, COLORREF fill, COLORREF border) {
  SetDCBrushColor(dc, fill);
  SetDCPenColor(dc, border);
  const Sys::TSelectObject brush(dc, GetStockObject(DC_BRUSH));
  const Sys::TSelectObject pen(dc, GetStockObject(DC_PEN));
  RoundRect(dc, rc.left, rc.top, rc.right, rc.bottom, radius, radius);
}

}  // namespace

TPalette LightPalette() {
  TPalette p;
  p.GrayText = GetSysColor(COLOR_GRAYTEXT);
  return p;
}

TPalette SystemPalette() {
  TPalette p;
  p.HighContrast = true;
  p.Window = GetSysColor(COLOR_WINDOW);
  p.WindowText = GetSysColor(COLOR_WINDOWTEXT);
  p.ButtonFace = GetSysColor(COLOR_BTNFACE);
  p.ButtonText = GetSysColor(COLOR_BTNTEXT);
  p.Highlight = GetSysColor(COLOR_HIGHLIGHT);
  p.HighlightText = GetSysColor(COLOR_HIGHLIGHTTEXT);
  p.GrayText = GetSysColor(COLOR_GRAYTEXT);
  p.Track = p.Window;
  p.TrackBorder = p.WindowText;
  return p;
}

TPalette CurrentPalette() {
  HIGHCONTRASTW hc{};
  hc.cbSize = sizeof hc;
  const bool on = SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof hc, &hc, 0) && (hc.dwFlags & HCF_HIGHCONTRASTON);
  return on ? SystemPalette() : LightPalette();
}

const wchar_t* EngineVersion() { return L"Morvane drawn controls 1.0.0 (Windows 11 light)"; }

bool AnswerVersionRequest(const std::wstring& commandLine) {
  // Only the exact argument "/acver" (any letter case), never the program's own path.
  bool found = false;
  size_t i = 0;
  int index = 0;
  const size_t n = commandLine.size();
  while (i < n && !found) {
    while (i < n && commandLine[i] <= L' ') ++i;
    std::wstring arg;
    bool quoted = false;
    while (i < n && (quoted || commandLine[i] > L' ')) {
      if (commandLine[i] == L'"') quoted = !quoted; else arg.push_back(commandLine[i]);
      ++i;
    }
    if (index++ > 0 && SameTextAscii(arg, L"/acver")) found = true;
  }
  if (found) MessageBoxW(nullptr, EngineVersion(), L"Morvane", MB_OK | MB_ICONINFORMATION);
  return found;
}

int Scale(int value96, int dpi) { return MulDiv(value96, dpi, 96); }

int WindowDpi(HWND hwnd) {
  if (auto fn = DpiForWindowFunction()) {
    const UINT dpi = fn(hwnd);
    if (dpi > 0) return static_cast<int>(dpi);
  }
  const Sys::TWindowDC screen(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 96;
  return dpi > 0 ? dpi : 96;
}

TPicture PictureFromBmp(const void* data, size_t size) {
  TPicture pic;
  const auto* p = static_cast<const unsigned char*>(data);
  if (size < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) || p[0] != 'B' || p[1] != 'M') return pic;
  BITMAPFILEHEADER fh;
  BITMAPINFOHEADER ih;
  std::memcpy(&fh, p, sizeof fh);
  std::memcpy(&ih, p + sizeof fh, sizeof ih);
  if (ih.biBitCount != 32 || ih.biCompression != BI_RGB || ih.biWidth <= 0 || ih.biHeight == 0) return pic;
  const int w = ih.biWidth;
  const int h = ih.biHeight < 0 ? -ih.biHeight : ih.biHeight;
  const size_t need = static_cast<size_t>(w) * static_cast<size_t>(h) * 4;
  if (fh.bfOffBits > size || size - fh.bfOffBits < need) return pic;
  pic.Width = w;
  pic.Height = h;
  pic.Pixels.resize(static_cast<size_t>(w) * h);
  const unsigned char* bits = p + fh.bfOffBits;
  for (int y = 0; y < h; ++y) {
    const int srcRow = ih.biHeight > 0 ? h - 1 - y : y;
    std::memcpy(&pic.Pixels[static_cast<size_t>(y) * w], bits + static_cast<size_t>(srcRow) * w * 4,
                static_cast<size_t>(w) * 4);
  }
  return pic;
}

TPicture PictureFromResource(HINSTANCE instance, int id) {
  HRSRC res = FindResourceW(instance, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (!res) return {};
  HGLOBAL mem = LoadResource(instance, res);
  if (!mem) return {};
  return PictureFromBmp(LockResource(mem), SizeofResource(instance, res));
}

bool LoadPrivateFont(HINSTANCE instance, int id) {
  HRSRC res = FindResourceW(instance, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (!res) return false;
  HGLOBAL mem = LoadResource(instance, res);
  if (!mem) return false;
  DWORD count = 0;
  return AddFontMemResourceEx(LockResource(mem), SizeofResource(instance, res), nullptr, &count) != nullptr &&
         count > 0;
}

// ---------------------------------------------------------------------------------------------
// TControl

TControl::~TControl() {
  if (FHandle) {
    SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
    DestroyWindow(FHandle);
  }
}

void TControl::CreateControl(const wchar_t* className, HWND parent, int id, DWORD style) {
  FHandle = CreateWindowExW(0, className, L"", WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | style, 0, 0, 0,
                            0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                            reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), this);
}

LRESULT CALLBACK TControl::StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return WindowObjectProc(hwnd, msg, wParam, lParam, &TControl::FHandle, &TControl::WndProc);
}

LRESULT TControl::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(FHandle, &ps);
      RECT rc;
      GetClientRect(FHandle, &rc);
      // Drawn off screen first, so nothing flickers.
      {
        const Sys::TMemoryDC mem(CreateCompatibleDC(dc));
        const Sys::TBitmap bmp(CreateCompatibleBitmap(dc, std::max<LONG>(1, rc.right), std::max<LONG>(1, rc.bottom)));
        const Sys::TSelectObject selectedBitmap(mem.Get(), bmp.Get());
        Draw(mem.Get(), CurrentPalette());
        BitBlt(dc, 0, 0, rc.right, rc.bottom, mem.Get(), 0, 0, SRCCOPY);
      }
      EndPaint(FHandle, &ps);
      return 0;
    }
    case WM_SETFONT:
      FFont = reinterpret_cast<HFONT>(wParam);
      if (LOWORD(lParam)) InvalidateRect(FHandle, nullptr, FALSE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(FFont);
    case WM_ENABLE:
      Repaint();
      return 0;
    case WM_GETOBJECT:
      if (static_cast<LONG>(lParam) == OBJID_CLIENT && AccessibleRole() != 0)
        return AccessibleObjectResult(FHandle, wParam);
      return DefWindowProcW(FHandle, msg, wParam, lParam);
    default:
      return DefWindowProcW(FHandle, msg, wParam, lParam);
  }
}

void TControl::Paint(HDC, const RECT&, const TPalette&) {}

void TControl::Draw(HDC dc, const TPalette& palette) {
  RECT rc{};
  if (FHandle) GetClientRect(FHandle, &rc);
  const Sys::TSelectObject font(dc, FFont);
  FillSolid(dc, rc, palette.Window);
  Paint(dc, rc, palette);
}

long TControl::AccessibleState() const {
  long state = 0;
  if (!FHandle || !IsWindowVisible(FHandle)) state |= STATE_SYSTEM_INVISIBLE;
  if (!Enabled()) state |= STATE_SYSTEM_UNAVAILABLE;
  if (FHandle && GetFocus() == FHandle) state |= STATE_SYSTEM_FOCUSED;
  return state;
}

void TControl::Repaint() {
  if (FHandle) RedrawWindow(FHandle, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void TControl::SetVisible(bool value) {
  if (FHandle && Visible() != value) ShowWindow(FHandle, value ? SW_SHOWNA : SW_HIDE);
}

bool TControl::Visible() const {
  return FHandle && (GetWindowLongPtrW(FHandle, GWL_STYLE) & WS_VISIBLE) != 0;
}

void TControl::SetEnabled(bool value) {
  if (FHandle) EnableWindow(FHandle, value ? TRUE : FALSE);
}

bool TControl::Enabled() const { return FHandle && IsWindowEnabled(FHandle); }

void TControl::SetBounds(int x, int y, int w, int h) {
  if (FHandle) SetWindowPos(FHandle, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

RECT TControl::BoundsRect() const {
  RECT rc{};
  if (FHandle) {
    GetWindowRect(FHandle, &rc);
    MapWindowPoints(HWND_DESKTOP, GetParent(FHandle), reinterpret_cast<POINT*>(&rc), 2);
  }
  return rc;
}

void TControl::SetFont(HFONT font) {
  FFont = font;
  if (FHandle) InvalidateRect(FHandle, nullptr, FALSE);
}

void TControl::SetDpi(int dpi) {
  FDpi = dpi;
  if (FHandle) InvalidateRect(FHandle, nullptr, FALSE);
}

std::wstring TControl::Text() const {
  if (!FHandle) return {};
  const int n = GetWindowTextLengthW(FHandle);
  std::wstring text(static_cast<size_t>(n) + 1, L'\0');
  const int got = GetWindowTextW(FHandle, text.data(), n + 1);
  text.resize(static_cast<size_t>(std::max(0, got)));
  return text;
}

// ---------------------------------------------------------------------------------------------
// Classes

void RegisterControlClasses(HINSTANCE instance) {
  static bool done = false;
  if (done) return;
  done = true;
  const wchar_t* names[] = {L"TsPanel", L"TLabel", L"TsButton", L"TsGauge", L"TsImage", L"TsWebBrowser"};
  for (const wchar_t* name : names) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = TControl::StaticProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = name;
    RegisterClassExW(&wc);
  }
}

// ---------------------------------------------------------------------------------------------
// TsPanel

void TsPanel::Create(HWND parent, int id) { CreateControl(L"TsPanel", parent, id, WS_VISIBLE); }

// ---------------------------------------------------------------------------------------------
// TLabel

void TLabel::Create(HWND parent, int id) { CreateControl(L"TLabel", parent, id, WS_VISIBLE); }

void TLabel::SetText(const std::wstring& text) {
  if (FHandle) SetWindowTextW(FHandle, text.c_str());
}

LRESULT TLabel::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_SETTEXT) {
    const std::wstring before = Text();
    const LRESULT r = DefWindowProcW(FHandle, msg, wParam, lParam);
    Repaint();
    // A screen reader announces the new status without polling.
    if (Text() != before) NotifyAccessibleEvent(EVENT_OBJECT_NAMECHANGE, FHandle);
    return r;
  }
  return TControl::WndProc(msg, wParam, lParam);
}

long TLabel::AccessibleRole() const { return ROLE_SYSTEM_STATICTEXT; }

long TLabel::AccessibleState() const { return TControl::AccessibleState() | STATE_SYSTEM_READONLY; }

void TLabel::Paint(HDC dc, const RECT& rc, const TPalette& palette) {
  const std::wstring text = Text();
  RECT r = rc;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, Enabled() ? palette.WindowText : palette.GrayText);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_CENTER | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
}

// ---------------------------------------------------------------------------------------------
// TsCharImageList

TsCharImageList::~TsCharImageList() = default;

void TsCharImageList::SetFont(const std::wstring& family, int imageSize96, int glyphHeight96) {
  FFamily = family;
  FImageSize96 = imageSize96;
  FGlyphHeight96 = glyphHeight96;
  FFont.Reset();
  FFontDpi = 0;
}

void TsCharImageList::Draw(HDC dc, int index, int x, int y, COLORREF color, int dpi) const {
  if (index < 0 || index >= Count()) return;
  if (!FFont || FFontDpi != dpi) {
    FFont.Reset(CreateFontW(-Scale(FGlyphHeight96, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH,
                        FFamily.c_str()));
    FFontDpi = dpi;
  }
  const int size = ImageSize(dpi);
  RECT r{x, y, x + size, y + size};
  const Sys::TSelectObject font(dc, FFont.Get());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, color);
  wchar_t glyph[2] = {FGlyphs[static_cast<size_t>(index)], 0};
  DrawTextW(dc, glyph, 1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

// ---------------------------------------------------------------------------------------------
// TsButton

namespace {
constexpr int kSkinBorder = 12;  // unstretched border of the button's skin picture
}

TsButton::~TsButton() = default;

void TsButton::Create(HWND parent, int id, const TPicture& skin) {
  FSkin = skin;
  CreateControl(L"TsButton", parent, id, WS_VISIBLE | WS_TABSTOP);
  RebuildLooks();
}

void TsButton::RebuildLooks() {
  for (Sys::TBitmap& look : FLooks) look.Reset();
  if (FSkin.Empty()) return;
  const COLORREF tones[LookCount] = {FTone, Mix(FTone, RGB(255, 255, 255), 18), Mix(FTone, RGB(0, 0, 0), 22),
                                     ColorDisabledTone};
  for (int i = 0; i < LookCount; ++i) {
    std::vector<uint32_t> px = FSkin.Pixels;
    TintPixels(px, tones[i]);
    FLooks[i].Reset(CreatePremultipliedBitmap(FSkin, std::move(px)));
  }
}

void TsButton::SetCaption(const std::wstring& caption) {
  if (FHandle) {
    const bool changed = Text() != caption;
    SetWindowTextW(FHandle, caption.c_str());
    Repaint();
    if (changed) NotifyAccessibleEvent(EVENT_OBJECT_NAMECHANGE, FHandle);
  }
}

void TsButton::SetImageIndex(int index) {
  FImageIndex = index;
#ifdef MORVANE_TEST_HOOKS
  // Lets UI tests see which icon the button shows (the index plus one; no property: none).
  if (FHandle) SetPropW(FHandle, L"MorvaneImageIndex", reinterpret_cast<HANDLE>(static_cast<INT_PTR>(index + 1)));
#endif
  Repaint();
}

void TsButton::SetTone(COLORREF tone) {
  FTone = tone;
  RebuildLooks();
  Repaint();
}

void TsButton::Click() {
  if (!Enabled()) return;
#ifdef MORVANE_TEST_HOOKS
  // Lets UI tests see from outside how many times the button was pressed.
  SetPropW(FHandle, L"MorvaneClickCount",
           reinterpret_cast<HANDLE>(reinterpret_cast<INT_PTR>(GetPropW(FHandle, L"MorvaneClickCount")) + 1));
#endif
  if (OnClick) OnClick(this);
}

long TsButton::AccessibleRole() const { return ROLE_SYSTEM_PUSHBUTTON; }

long TsButton::AccessibleState() const {
  long state = TControl::AccessibleState() | STATE_SYSTEM_DEFAULT;
  if (Enabled()) state |= STATE_SYSTEM_FOCUSABLE;
  if (FPressed) state |= STATE_SYSTEM_PRESSED;
  if (FHover) state |= STATE_SYSTEM_HOTTRACKED;
  return state;
}

std::wstring TsButton::AccessibleDefaultAction() const { return L"Press"; }

bool TsButton::DoAccessibleDefaultAction() {
  if (!FHandle || !Enabled()) return false;
  PostMessageW(FHandle, BM_CLICK, 0, 0);
  return true;
}

LRESULT TsButton::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_SETCURSOR:
      if (LOWORD(lParam) == HTCLIENT) {
        SetCursor(HandCursor());
        return TRUE;
      }
      break;
    case WM_MOUSEMOVE:
      if (!FHover) {
        FHover = true;
        TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, FHandle, 0};
        TrackMouseEvent(&tme);
        Repaint();
      }
      if (GetCapture() == FHandle) {
        POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        RECT rc;
        GetClientRect(FHandle, &rc);
        const bool inside = PtInRect(&rc, pt) != 0;
        if (inside != FPressed) {
          FPressed = inside;
          Repaint();
        }
      }
      return 0;
    case WM_MOUSELEAVE:
      FHover = false;
      Repaint();
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      SetFocus(FHandle);
      SetCapture(FHandle);
      FPressed = true;
      Repaint();
      return 0;
    case WM_LBUTTONUP:
      if (GetCapture() == FHandle) {
        const bool click = FPressed;
        FPressed = false;
        ReleaseCapture();
        Repaint();
        if (click) Click();
      }
      return 0;
    case WM_CAPTURECHANGED:
      if (FPressed) {
        FPressed = false;
        Repaint();
      }
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_SPACE && !(lParam & 0x40000000)) {
        FPressed = true;
        Repaint();
        return 0;
      }
      break;
    case WM_KEYUP:
      if (wParam == VK_SPACE && FPressed) {
        FPressed = false;
        Repaint();
        Click();
        return 0;
      }
      break;
    case WM_SETFOCUS:
      FFocused = true;
      Repaint();
      return 0;
    case WM_KILLFOCUS:
      FFocused = false;
      FPressed = false;
      Repaint();
      return 0;
    case WM_ENABLE:
      if (!wParam) {
        FPressed = FHover = false;
      } else if (const HWND root = GetAncestor(FHandle, GA_ROOT);
                 root && GetActiveWindow() == root && IsWindowVisible(FHandle)) {
        // Disabling took the focus away (the system leaves it nowhere); without it Enter and
        // Space would never reach the button again.
        SetFocus(FHandle);
      }
      Repaint();
      NotifyAccessibleEvent(EVENT_OBJECT_STATECHANGE, FHandle);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
    case BM_CLICK:
      // Sent by test drivers and accessibility tools: a click, so nothing while disabled.
      Click();
      return 0;
    default:
      break;
  }
  return TControl::WndProc(msg, wParam, lParam);
}

void TsButton::Paint(HDC dc, const RECT& rc, const TPalette& palette) {
  const bool enabled = Enabled();
  COLORREF textColor = palette.ButtonText;
  if (palette.HighContrast) {
    // The system's colours, a solid edge and the dotted focus rectangle.
    const COLORREF face = FPressed ? palette.Highlight : palette.ButtonFace;
    textColor = !enabled ? palette.GrayText : FPressed ? palette.HighlightText : palette.ButtonText;
    RoundRectSolid(dc, rc, Scale(8, FDpi), textColor, textColor);
    RECT inner = rc;
    const int edge = std::max(1, Scale(2, FDpi));
    InflateRect(&inner, -edge, -edge);
    RoundRectSolid(dc, inner, Scale(6, FDpi), face, face);
    if (FFocused && enabled) {
      RECT fr = rc;
      const int inset = Scale(5, FDpi);
      InflateRect(&fr, -inset, -inset);
      SetTextColor(dc, textColor);
      SetBkColor(dc, face);
      DrawFocusRect(dc, &fr);
    }
  } else {
    PaintSkinned(dc, rc);
  }
  if (FImages && FImageIndex >= 0) {
    const int size = FImages->ImageSize(FDpi);
    FImages->Draw(dc, FImageIndex, rc.left + Scale(15, FDpi), rc.top + (rc.bottom - rc.top - size) / 2,
                  textColor, FDpi);
  }
  const std::wstring caption = Text();
  RECT tr = rc;
  if (FPressed) OffsetRect(&tr, 0, Scale(1, FDpi));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, textColor);
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &tr,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

void TsButton::PaintSkinned(HDC dc, const RECT& rc) {
  const bool enabled = Enabled();
  Look look = !enabled ? LookDisabled : FPressed ? LookPressed : FHover ? LookHover : LookNormal;
  const int border = Scale(kSkinBorder, FDpi);
  if (FLooks[look]) {
    DrawNineSlice(dc, FLooks[look].Get(), FSkin.Width, FSkin.Height, rc, kSkinBorder, border);
  } else {
    RoundRectSolid(dc, rc, Scale(16, FDpi), FTone, FTone);
  }
  if (FFocused && enabled) {
    // Focus: a thin white rounded line inside the edge.
    RECT fr = rc;
    const int inset = Scale(3, FDpi);
    InflateRect(&fr, -inset, -inset);
    const Sys::TPen pen(CreatePen(PS_SOLID, std::max(1, Scale(1, FDpi)), RGB(255, 255, 255)));
    const Sys::TSelectObject selectedPen(dc, pen.Get());
    const Sys::TSelectObject selectedBrush(dc, GetStockObject(NULL_BRUSH));
    RoundRect(dc, fr.left, fr.top, fr.right, fr.bottom, Scale(10, FDpi), Scale(10, FDpi));
  }
}

// ---------------------------------------------------------------------------------------------
// TsGauge

void TsGauge::Create(HWND parent, int id) {
  CreateControl(L"TsGauge", parent, id, WS_VISIBLE);
  Changed();
}

void TsGauge::SetMinValue(int64_t value) {
  if (FRange.SetMinValue(value)) Changed();
}

void TsGauge::SetMaxValue(int64_t value) {
  if (FRange.SetMaxValue(value)) Changed();
}

void TsGauge::SetProgress(int64_t value) {
  if (FRange.SetProgress(value)) Changed();
}

void TsGauge::Changed() {
  if (!FHandle) return;
  const std::wstring text = FRange.Text(Suffix);
  const bool readingChanged = Text() != text;
  if (readingChanged) SetWindowTextW(FHandle, text.c_str());
  // A download moves the position many times for every pixel the fill grows; the gauge is
  // painted again at once whenever its picture changes, and only then.
  RECT rc;
  GetClientRect(FHandle, &rc);
  if (readingChanged || FRange.FillWidth(rc.right - rc.left) != FPaintedFill) Repaint();
  if (readingChanged) NotifyAccessibleEvent(EVENT_OBJECT_VALUECHANGE, FHandle);
}

long TsGauge::AccessibleRole() const { return ROLE_SYSTEM_PROGRESSBAR; }

long TsGauge::AccessibleState() const { return TControl::AccessibleState() | STATE_SYSTEM_READONLY; }

void TsGauge::Paint(HDC dc, const RECT& rc, const TPalette& palette) {
  const int radius = Scale(8, FDpi);
  RoundRectSolid(dc, rc, radius, palette.Track, palette.TrackBorder);
  const int fillWidth = FRange.FillWidth(rc.right - rc.left);
  FPaintedFill = fillWidth;
  RECT fill{rc.left, rc.top, rc.left + fillWidth, rc.bottom};
  if (fillWidth > 0) {
    ClipTo(dc, fill);
    RoundRectSolid(dc, rc, radius, palette.Highlight, palette.Highlight);
    SelectClipRgn(dc, nullptr);
  }
  const std::wstring text = FRange.Text(Suffix);
  SetBkMode(dc, TRANSPARENT);
  RECT tr = rc;
  // Dark text over the track, white text over the fill.
  ClipTo(dc, RECT{fill.right, rc.top, rc.right, rc.bottom});
  SetTextColor(dc, palette.WindowText);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &tr, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  if (fillWidth > 0) {
    ClipTo(dc, fill);
    SetTextColor(dc, palette.HighlightText);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &tr, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }
  SelectClipRgn(dc, nullptr);
}

// ---------------------------------------------------------------------------------------------
// TsImage

void TsImage::Create(HWND parent, int id, const TPicture& picture) {
  FPicture = picture;
  CreateControl(L"TsImage", parent, id, WS_VISIBLE);
}

long TsImage::AccessibleRole() const { return ROLE_SYSTEM_GRAPHIC; }

long TsImage::AccessibleState() const { return TControl::AccessibleState() | STATE_SYSTEM_READONLY; }

void TsImage::Paint(HDC dc, const RECT& rc, const TPalette&) {
  if (FPicture.Empty()) return;
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  if (w <= 0 || h <= 0) return;
  // Fit inside, proportions kept, centred.
  int dw = w, dh = static_cast<int>(static_cast<int64_t>(FPicture.Height) * w / FPicture.Width);
  if (dh > h) {
    dh = h;
    dw = static_cast<int>(static_cast<int64_t>(FPicture.Width) * h / FPicture.Height);
  }
  const int x = rc.left + (w - dw) / 2, y = rc.top + (h - dh) / 2;
  const bool opaque = std::all_of(FPicture.Pixels.begin(), FPicture.Pixels.end(),
                                  [](uint32_t p) { return (p >> 24) == 0xFF; });
  const Sys::TBitmap bmp(CreatePremultipliedBitmap(FPicture, FPicture.Pixels));
  if (!bmp) return;
  const Sys::TMemoryDC src(CreateCompatibleDC(dc));
  const Sys::TSelectObject selected(src.Get(), bmp.Get());
  if (opaque) {
    // Smooth scaling; nothing shows through an opaque picture.
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchBlt(dc, x, y, dw, dh, src.Get(), 0, 0, FPicture.Width, FPicture.Height, SRCCOPY);
  } else {
    BLENDFUNCTION bf{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    GdiAlphaBlend(dc, x, y, dw, dh, src.Get(), 0, 0, FPicture.Width, FPicture.Height, bf);
  }
}

}  // namespace Skin
