// The drawn controls of the launcher window, in a light Windows 11 look.
//
// Every control is a real child window: its window text is what it shows and its enabled and
// visible states are the window's own (WS_DISABLED, WS_VISIBLE), so other programs can read the
// window with FindWindow, EnumChildWindows, GetWindowText, IsWindowEnabled and IsWindowVisible.
// Window classes: "TsPanel", "TLabel", "TsButton", "TsGauge", "TsImage", "TsWebBrowser". The web
// view's window text is the path it was last asked to open; once it has opened one, the system's
// browser control has its own child windows inside it.
//
// Assistive technology: the button, the gauge, the label and the picture answer WM_GETOBJECT
// with accessible objects of their own (skin/accessible.h) and raise EVENT_OBJECT_NAMECHANGE,
// EVENT_OBJECT_VALUECHANGE and EVENT_OBJECT_STATECHANGE as their texts, readings and states
// change. In the system's high-contrast mode every control draws with the system's colours.
#pragma once

#include <windows.h>
#include <mshtmdid.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "skin/skin_math.h"
#include "skin/window_object.h"
#include "system/handles.h"

class TObject {
 public:
  virtual ~TObject() = default;
};

namespace Skin {

// Colours of the light skin.
inline constexpr COLORREF ColorWindow = RGB(255, 255, 255);
inline constexpr COLORREF ColorText = RGB(26, 26, 26);
inline constexpr COLORREF ColorTrack = RGB(229, 229, 229);
inline constexpr COLORREF ColorTrackBorder = RGB(208, 208, 208);
inline constexpr COLORREF ColorFill = RGB(20, 115, 230);
inline constexpr COLORREF ColorDisabledTone = RGB(160, 160, 160);

// The colours a control draws with: the light skin's, or the system's in high-contrast mode.
struct TPalette {
  bool HighContrast = false;
  COLORREF Window = ColorWindow;          // backgrounds of panels, label, picture
  COLORREF WindowText = ColorText;        // the label, the gauge's reading over the track
  COLORREF ButtonFace = ColorFill;        // the button (high contrast: the light skin uses its tone)
  COLORREF ButtonText = RGB(255, 255, 255);
  COLORREF Highlight = ColorFill;         // the gauge's fill
  COLORREF HighlightText = RGB(255, 255, 255);
  COLORREF GrayText = RGB(109, 109, 109);  // disabled texts
  COLORREF Track = ColorTrack;            // the gauge's track and its border
  COLORREF TrackBorder = ColorTrackBorder;
};
// The light skin's colours.
TPalette LightPalette();
// The system's colours (COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_BTNFACE, COLOR_BTNTEXT,
// COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT, COLOR_GRAYTEXT), marked as high contrast.
TPalette SystemPalette();
// SystemPalette while SPI_GETHIGHCONTRAST reports HCF_HIGHCONTRASTON, LightPalette otherwise.
TPalette CurrentPalette();

// Version text of the drawn controls, shown for the argument "/acver".
const wchar_t* EngineVersion();
// Shows the version in a message box when the command line carries "/acver"; true when shown.
bool AnswerVersionRequest(const std::wstring& commandLine);

// Registers the window classes of the controls (once per process).
void RegisterControlClasses(HINSTANCE instance);

// Pixel size at the given DPI of a size given at 96 DPI.
int Scale(int value96, int dpi);

// Monitor DPI of a window; 96 where the system cannot tell.
int WindowDpi(HWND hwnd);

// A 32-bit top-down picture, 0xAARRGGBB pixels, straight (not premultiplied) alpha.
struct TPicture {
  int Width = 0;
  int Height = 0;
  std::vector<uint32_t> Pixels;
  bool Empty() const { return Pixels.empty(); }
};
// Reads an uncompressed 32-bit BMP (as stored in the program's resources).
TPicture PictureFromBmp(const void* data, size_t size);
TPicture PictureFromResource(HINSTANCE instance, int id);

// Loads the font data of an RCDATA resource for this process only. True on success.
bool LoadPrivateFont(HINSTANCE instance, int id);

// Base of every control: owns one child window.
class TControl : public TObject {
 public:
  TControl() = default;
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;
  ~TControl() override;

  HWND Handle() const { return FHandle; }
  void SetVisible(bool value);
  bool Visible() const;
  void SetEnabled(bool value);
  bool Enabled() const;
  void SetBounds(int x, int y, int w, int h);
  RECT BoundsRect() const;
  // Font and DPI are handed down by the window when it lays itself out.
  void SetFont(HFONT font);
  void SetDpi(int dpi);
  std::wstring Text() const;
  // Draws the whole control into dc (its client rectangle from 0, 0) with the given colours; a
  // window paints itself so with CurrentPalette().
  void Draw(HDC dc, const TPalette& palette);

  // What assistive technology reads of the control (skin/accessible.h). Role 0 leaves the
  // window to the system's default object.
  virtual long AccessibleRole() const { return 0; }
  virtual std::wstring AccessibleName() const { return Text(); }
  virtual std::wstring AccessibleValue() const { return {}; }
  // STATE_SYSTEM_* flags: invisible, unavailable (disabled), focused.
  virtual long AccessibleState() const;
  virtual std::wstring AccessibleDefaultAction() const { return {}; }
  // Carries the default action out; false when there is none now.
  virtual bool DoAccessibleDefaultAction() { return false; }

 protected:
  void CreateControl(const wchar_t* className, HWND parent, int id, DWORD style = 0);
  virtual LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
  virtual void Paint(HDC dc, const RECT& rc, const TPalette& palette);
  void Repaint();

  HWND FHandle = nullptr;
  HFONT FFont = nullptr;
  int FDpi = 96;

 public:
  // Window procedure of every control class: forwards to the object behind the window.
  static LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
};

// A panel without bevel: fills itself with the window colour and holds other controls.
class TsPanel : public TControl {
 public:
  void Create(HWND parent, int id);
};

// Accessible as static text with its text as name.

// A text label: text centred horizontally, from the top, wrapped at word boundaries.
class TLabel : public TControl {
 public:
  void Create(HWND parent, int id);
  void SetText(const std::wstring& text);
  long AccessibleRole() const override;
  long AccessibleState() const override;

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void Paint(HDC dc, const RECT& rc, const TPalette& palette) override;
};

// Images drawn from the glyphs of an icon font, in a given colour.
class TsCharImageList : public TObject {
 public:
  void SetFont(const std::wstring& family, int imageSize96, int glyphHeight96);
  void Add(wchar_t codePoint) { FGlyphs.push_back(codePoint); }
  int Count() const { return static_cast<int>(FGlyphs.size()); }
  int ImageSize(int dpi) const { return Scale(FImageSize96, dpi); }
  // Draws image index at (x, y) in the given colour at the given DPI.
  void Draw(HDC dc, int index, int x, int y, COLORREF color, int dpi) const;
  ~TsCharImageList() override;

 private:
  std::wstring FFamily;
  int FImageSize96 = 40;
  int FGlyphHeight96 = 28;
  std::vector<wchar_t> FGlyphs;
  mutable Sys::TFont FFont;
  mutable int FFontDpi = 0;
};

// The large button: a rounded skin picture recoloured by the button's tone, a white caption
// and an icon from an image list left of it. Hand cursor; hover, pressed, focused and disabled
// looks. Enter on the window presses the window's default button (see the window). BM_CLICK, as
// test drivers and accessibility tools send it, is a click. Space pressed while it has the focus
// presses it. Enabled again while its window is active, it takes the focus back, so the keyboard
// reaches it after a command that disabled it. Accessible as a push button: the caption as name,
// unavailable while disabled, focusable, focused, default; default action "Press".
class TsButton : public TControl {
 public:
  ~TsButton() override;
  void Create(HWND parent, int id, const TPicture& skin);
  void SetCaption(const std::wstring& caption);
  std::wstring Caption() const { return Text(); }
  void SetImages(const TsCharImageList* images) { FImages = images; }
  void SetImageIndex(int index);
  int ImageIndex() const { return FImageIndex; }
  // Tone as a colour value, red in the low byte.
  void SetTone(COLORREF tone);
  COLORREF Tone() const { return FTone; }
  // Runs OnClick when the button is enabled.
  void Click();
  std::function<void(TObject* sender)> OnClick;
  long AccessibleRole() const override;
  long AccessibleState() const override;
  std::wstring AccessibleDefaultAction() const override;
  // Posts the click, so the caller (a screen reader) is not held while the command runs.
  bool DoAccessibleDefaultAction() override;

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void Paint(HDC dc, const RECT& rc, const TPalette& palette) override;

 private:
  enum Look { LookNormal, LookHover, LookPressed, LookDisabled, LookCount };
  void RebuildLooks();
  // The light skin's look: the tone-coloured picture and a white focus line.
  void PaintSkinned(HDC dc, const RECT& rc);
  TPicture FSkin;
  Sys::TBitmap FLooks[LookCount];
  COLORREF FTone = RGB(20, 115, 230);
  const TsCharImageList* FImages = nullptr;
  int FImageIndex = -1;
  bool FHover = false;
  bool FPressed = false;
  bool FFocused = false;
};

// The gauge: a track, its fill and the reading "<percent><Suffix>" centred on it. The window
// text is the reading. Every change repaints at once. Accessible as a progress bar whose value
// is the reading.
class TsGauge : public TControl {
 public:
  void Create(HWND parent, int id);
  int64_t MinValue() const { return FRange.MinValue(); }
  int64_t MaxValue() const { return FRange.MaxValue(); }
  int64_t Progress() const { return FRange.Progress(); }
  void SetMinValue(int64_t value);
  void SetMaxValue(int64_t value);
  void SetProgress(int64_t value);
  std::wstring Suffix = L"%";
  long AccessibleRole() const override;
  std::wstring AccessibleName() const override { return {}; }
  std::wstring AccessibleValue() const override { return Text(); }
  long AccessibleState() const override;

 protected:
  void Paint(HDC dc, const RECT& rc, const TPalette& palette) override;

 private:
  void Changed();
  GaugeRange FRange;
  int FPaintedFill = -1;  // the fill's width at the last paint
};

// A picture drawn centred and scaled with its proportions kept, on the window colour (in high
// contrast too: the picture itself stays). Accessible as a graphic.
class TsImage : public TControl {
 public:
  void Create(HWND parent, int id, const TPicture& picture);
  // Whether the window lays this control over its free client area.
  void SetAlignClient(bool value) { FAlignClient = value; }
  bool AlignClient() const { return FAlignClient; }
  long AccessibleRole() const override;
  long AccessibleState() const override;

 protected:
  void Paint(HDC dc, const RECT& rc, const TPalette& palette) override;

 private:
  TPicture FPicture;
  bool FAlignClient = false;
};

class TBrowserSite;

// The web view: the system's web browser control (CLSID_WebBrowser, "Shell.Explorer.2") in place
// in a child window of class "TsWebBrowser". The browser object is made at the first Navigate,
// fills the window, is hidden and shown with it and shows no scroll bars, no 3-D border, no
// context menu and no dialogs; the cursor over it is the arrow. The window text is the path it
// was last asked to open. Where the system has no browser control the window stays an empty
// white area and Navigate only records the path. Before the browser object is made, the program's
// file name is given kBrowserDocumentMode under the current user's FEATURE_BROWSER_EMULATION key
// and 1 under FEATURE_LOCALMACHINE_LOCKDOWN (both below kBrowserFeatureControlKey).
//
// The page is shown as markup and nothing else: the view answers the browser's ambient download
// control with kBrowserDownloadControl, cancels every navigation to anything but the path it
// was last asked to open, and every new window, and, as the browser's security manager, refuses
// every URL but that page and data embedded in it ("data:"). The page's bytes are not touched.
inline constexpr unsigned long kBrowserDocumentMode = 11001;  // the current document mode
inline constexpr wchar_t kBrowserFeatureControlKey[] =
    L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl";
inline constexpr long kBrowserDownloadControl = DLCTL_DLIMAGES | DLCTL_NO_SCRIPTS | DLCTL_NO_JAVA |
                                                DLCTL_NO_RUNACTIVEXCTLS | DLCTL_NO_DLACTIVEXCTLS |
                                                DLCTL_NO_BEHAVIORS | DLCTL_NO_FRAMEDOWNLOAD |
                                                DLCTL_NO_CLIENTPULL | DLCTL_FORCEOFFLINE | DLCTL_SILENT;
class TsWebBrowser : public TControl {
 public:
  TsWebBrowser();
  ~TsWebBrowser() override;
  void Create(HWND parent, int id);
  void SetAlignClient(bool value) { FAlignClient = value; }
  bool AlignClient() const { return FAlignClient; }
  // Opens a local file given by its plain path (not a URL). Asynchronous: the page loads
  // while the message loop runs.
  void Navigate(const std::wstring& path);
  std::wstring LocationPath() const { return FPath; }
  // Whether the browser control is hosted (made by the first Navigate).
  bool BrowserHosted() const;
  // The browser's own idea of its location (IWebBrowser2::get_LocationURL); empty without a
  // browser or before it has one.
  std::wstring BrowserLocationUrl() const;
  // The browser control object (IOleObject, IWebBrowser2, ...), or empty before it is made.
  Sys::TComPtr<IUnknown> BrowserObject() const;
  // The browser's in-place window, or null.
  HWND BrowserWindow() const;

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void CloseBrowser();
  bool FAlignClient = false;
  std::wstring FPath;
  Sys::TComPtr<TBrowserSite> FSite;
  bool FBrowserFailed = false;
};

}  // namespace Skin
