#include "app/launcher.h"

#include <exception>

#include "app/app_state.h"
#include "app/command_line_win.h"
#include "app/update_job.h"
#include "system/main_queue.h"
#include "system/win_error.h"
#include "resource_ids.h"

TFormLauncher* FormLauncher = nullptr;

namespace {

constexpr wchar_t kClassName[] = L"TFormLauncher";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_APPWINDOW | WS_EX_TOPMOST | WS_EX_CONTROLPARENT;

// Sizes at 96 DPI.
constexpr int kClientWidth = 544;
constexpr int kClientHeight = 434;
constexpr int kBottomPanelHeight = 202;  // sPanel2
constexpr int kGaugePanelHeight = 34;    // sPanel3
constexpr int kGaugeMargin = 40;         // sPanel3, left and right
constexpr int kButtonPanelHeight = 92;   // sPanel1
constexpr int kButtonMarginX = 150;      // sPanel1, left and right
constexpr int kButtonMarginY = 15;       // sPanel1, top and bottom
constexpr int kStatusHeight = 53;        // lblStatus
constexpr int kFontHeight = 18;
constexpr COLORREF kButtonTone = 15102740;  // #1473E6

using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

AdjustForDpiFn AdjustForDpiFunction() {
  static const AdjustForDpiFn fn = SystemProc<AdjustForDpiFn>(L"user32.dll", "AdjustWindowRectExForDpi");
  return fn;
}

int CALLBACK FontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool FontFamilyInstalled(const wchar_t* family) {
  const Sys::TWindowDC dc(nullptr);
  LOGFONTW lf{};
  lf.lfCharSet = DEFAULT_CHARSET;
  lstrcpynW(lf.lfFaceName, family, LF_FACESIZE);
  bool found = false;
  EnumFontFamiliesExW(dc.Get(), &lf, FontFound, reinterpret_cast<LPARAM>(&found), 0);
  return found;
}

}  // namespace

std::wstring LauncherFontFamily() {
  static const std::wstring family = [] {
    for (const wchar_t* f : {L"Segoe UI", L"Tahoma", L"MS Shell Dlg 2"}) {
      if (FontFamilyInstalled(f)) return std::wstring(f);
    }
    return std::wstring(L"MS Shell Dlg 2");
  }();
  return family;
}

TFormLauncher::TFormLauncher() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  Skin::RegisterControlClasses(instance);
  Skin::LoadPrivateFont(instance, IDR_ICON_FONT);

  static bool registered = false;
  if (!registered) {
    registered = true;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = StaticProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_MORVANE), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_MORVANE), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    wc.lpszClassName = kClassName;
    RegisterClassExW(&wc);
  }

  FCreating = true;
  // No owner: the window has its own taskbar button.
  CreateWindowExW(kExStyle, kClassName, L"Установка", kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                  kClientWidth, kClientHeight, nullptr, nullptr, instance, this);
  if (!FHandle) {
    FCreating = false;
    return;
  }

  sImage1.Create(FHandle, LauncherIds::sImage1, Skin::PictureFromResource(instance, IDR_LOGO));
  sWebBrowser1.Create(FHandle, LauncherIds::sWebBrowser1);
  sPanel2.Create(FHandle, LauncherIds::sPanel2);
  sPanel3.Create(sPanel2.Handle(), LauncherIds::sPanel3);
  sPanel1.Create(sPanel2.Handle(), LauncherIds::sPanel1);
  lblStatus.Create(sPanel2.Handle(), LauncherIds::lblStatus);
  ProgressBar.Create(sPanel3.Handle(), LauncherIds::ProgressBar);
  btnUpdate.Create(sPanel1.Handle(), LauncherIds::btnUpdate, Skin::PictureFromResource(instance, IDR_BUTTON_SKIN));

  sCharImageList1.SetFont(L"FontAwesome", 40, 28);
  sCharImageList1.Add(static_cast<wchar_t>(0xF019));  // 0: download_alt
  sCharImageList1.Add(static_cast<wchar_t>(0xF021));  // 1: refresh
  btnUpdate.SetImages(&sCharImageList1);
  btnUpdate.OnClick = [this](TObject* sender) { btnUpdateClick(sender); };

  ApplyDpi(Skin::WindowDpi(FHandle), nullptr);

  FormCreate(this);
  FCreating = false;
}

TFormLauncher::~TFormLauncher() {
  if (FHandle) {
    SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
    DestroyWindow(FHandle);
  }
}

void TFormLauncher::FormCreate(TObject*) {
  btnUpdate.SetTone(kButtonTone);
  try {
    sWebBrowser1.SetVisible(false);
    sImage1.SetAlignClient(true);
    Realign();
    lblStatus.SetText(L"Нажмите на кнопку для начала установки");
    btnUpdate.SetCaption(L"Установить");
    btnUpdate.SetImageIndex(0);
    ProgressBar.SetVisible(false);
    // State Ready. In the silent mode the start-up check follows.
    if (HasCommandLineSwitch(Switches::CheckMorvane, true)) FStartupDecision = RunStartupCheck(*this);
  } catch (...) {
    // Nothing is shown: the window closes. A debugger still sees why.
    DebugReportCurrentException(L"start-up check");
    Close();
    FStartupDecision = TStartupDecision::Closed;
  }
}

void TFormLauncher::btnUpdateClick(TObject*) { RunUpdateCommand(*this); }

void TFormLauncher::UpdateProgram(const std::wstring& folderLink, const std::wstring& packageName) {
  StartUpdateJob(*this, folderLink, packageName);
}

void TFormLauncher::InstallUpdate() { InstallDownloadedUpdate(*this); }

void TFormLauncher::FormClose(TObject*, TCloseAction&) {}

void TFormLauncher::Close() {
  if (!FHandle) return;
  if (FCreating) {
    // During creation a close request only hides the still invisible window.
    ShowWindow(FHandle, SW_HIDE);
    return;
  }
  if (FClosed) return;
  TCloseAction action = caFree;
  FormClose(this, action);
  if (action == caNone) return;
  FClosed = true;
  // Closing the window ends the program; nothing waits for background work, and nothing that
  // work still posts runs any more. The window is not hidden first: the process ends at once
  // and takes it along, while hiding a framed window waits for the window manager's answer (two
  // seconds where none answers).
  MainQueue::Stop();
  PostQuitMessage(0);
}

void TFormLauncher::Show(int showCommand) {
  if (!FHandle) return;
  ShowWindow(FHandle, showCommand);
  UpdateWindow(FHandle);
}

void TFormLauncher::Realign() {
  const int d = FDpi;
  auto S = [d](int v) { return Skin::Scale(v, d); };
  const int w = S(kClientWidth), h = S(kClientHeight);
  const int bottom = S(kBottomPanelHeight);
  sPanel2.SetBounds(0, h - bottom, w, bottom);
  const int status = S(kStatusHeight), buttons = S(kButtonPanelHeight), gauge = S(kGaugePanelHeight);
  lblStatus.SetBounds(0, bottom - status, w, status);
  sPanel1.SetBounds(0, bottom - status - buttons, w, buttons);
  sPanel3.SetBounds(0, bottom - status - buttons - gauge, w, gauge);
  btnUpdate.SetBounds(S(kButtonMarginX), S(kButtonMarginY), w - 2 * S(kButtonMarginX),
                      buttons - 2 * S(kButtonMarginY));
  ProgressBar.SetBounds(S(kGaugeMargin), 0, w - 2 * S(kGaugeMargin), gauge);
  if (sImage1.AlignClient()) sImage1.SetBounds(0, 0, w, h - bottom);
  // The web view fills the free area, also while it is hidden: that is its place for when it
  // is shown, at the DPI of that moment.
  sWebBrowser1.SetBounds(0, 0, w, h - bottom);
}

void TFormLauncher::ApplyDpi(int dpi, const RECT* suggested) {
  FDpi = dpi > 0 ? dpi : 96;
  Sys::TFont font(CreateFontW(-Skin::Scale(kFontHeight, FDpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH,
                      LauncherFontFamily().c_str()));
  SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), FALSE);
  Skin::TControl* controls[] = {&sImage1, &sWebBrowser1, &sPanel2,     &sPanel3,
                                &sPanel1, &lblStatus,    &ProgressBar, &btnUpdate};
  for (Skin::TControl* c : controls) {
    c->SetDpi(FDpi);
    c->SetFont(font.Get());
  }
  // The old font goes only now that nothing uses it any more.
  FFont = std::move(font);

  HINSTANCE instance = GetModuleHandleW(nullptr);
  Sys::TIcon big(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_MORVANE), IMAGE_ICON,
                                               Skin::Scale(32, FDpi), Skin::Scale(32, FDpi), 0)));
  Sys::TIcon small(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_MORVANE), IMAGE_ICON,
                                                 Skin::Scale(16, FDpi), Skin::Scale(16, FDpi), 0)));
  if (big) SendMessageW(FHandle, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big.Get()));
  if (small) SendMessageW(FHandle, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small.Get()));
  FIconBig = std::move(big);
  FIconSmall = std::move(small);

  RECT r{0, 0, Skin::Scale(kClientWidth, FDpi), Skin::Scale(kClientHeight, FDpi)};
  if (auto adjust = AdjustForDpiFunction()) {
    adjust(&r, kStyle, FALSE, kExStyle, static_cast<UINT>(FDpi));
  } else {
    AdjustWindowRectEx(&r, kStyle, FALSE, kExStyle);
  }
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (suggested) {
    SetWindowPos(FHandle, nullptr, suggested->left, suggested->top, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
  } else {
    SetWindowPos(FHandle, nullptr, 0, 0, w, h, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    PlaceOnDesktop();
  }
  Realign();
  RedrawWindow(FHandle, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TFormLauncher::PlaceOnDesktop() {
  RECT wr;
  GetWindowRect(FHandle, &wr);
  const int w = wr.right - wr.left, h = wr.bottom - wr.top;
  const int vx = GetSystemMetrics(SM_XVIRTUALSCREEN), vy = GetSystemMetrics(SM_YVIRTUALSCREEN);
  const int vw = GetSystemMetrics(SM_CXVIRTUALSCREEN), vh = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  int x = vx + (vw - w) / 2, y = vy + (vh - h) / 2;
  // A window larger than the desktop keeps its left and top edges on the desktop.
  if (x < vx) x = vx;
  if (y < vy) y = vy;
  SetWindowPos(FHandle, nullptr, x, y, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
}

bool TFormLauncher::PreTranslateMessage(const MSG& msg) {
  if (msg.message != WM_KEYDOWN || msg.wParam != VK_RETURN || !FHandle) return false;
  if (msg.hwnd != FHandle && !IsChild(FHandle, msg.hwnd)) return false;
  // Enter presses the default button while it is enabled and does nothing otherwise.
  if (!(msg.lParam & 0x40000000)) btnUpdate.Click();
  return true;
}

LRESULT CALLBACK TFormLauncher::StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return Skin::WindowObjectProc(hwnd, msg, wParam, lParam, &TFormLauncher::FHandle, &TFormLauncher::WndProc);
}

LRESULT TFormLauncher::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CLOSE:
      Close();
      return 0;
    case WM_ERASEBKGND: {
      RECT rc;
      GetClientRect(FHandle, &rc);
      SetDCBrushColor(reinterpret_cast<HDC>(wParam), Skin::CurrentPalette().Window);
      FillRect(reinterpret_cast<HDC>(wParam), &rc, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
      return 1;
    }
    case WM_SETFOCUS:
      if (btnUpdate.Enabled() && btnUpdate.Visible()) SetFocus(btnUpdate.Handle());
      return 0;
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
      // High contrast switched on or off: every control draws again in the colours now current.
      RedrawWindow(FHandle, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
      return DefWindowProcW(FHandle, msg, wParam, lParam);
    case 0x02E0: {  // WM_DPICHANGED
      ApplyDpi(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
      return 0;
    }
    default:
      return DefWindowProcW(FHandle, msg, wParam, lParam);
  }
}
