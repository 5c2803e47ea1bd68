// The drawn controls as assistive technology meets them: their accessible objects (role, name,
// value, states, default action) reached through WM_GETOBJECT in this process, the events that
// announce changes, the keyboard focus coming back to a re-enabled button, and the drawing in
// the system's high-contrast colours.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleacc.h>

#include <cstdlib>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/screen_capture.h"
#include "skin/accessible.h"
#include "skin/controls.h"
#include "skin_window_fixture.h"
#include "system/handles.h"

namespace {

using SkinTest::PumpUntil;

// The client object a window hands out, as a screen reader gets it. Wine cannot marshal an
// IAccessible (no proxy), so there the answer to WM_GETOBJECT is the marshalling's error and the
// control's object is taken directly, the same object the window would have handed out.
Sys::TComPtr<IAccessible> AccessibleOf(HWND hwnd) {
  Sys::TComPtr<IAccessible> acc;
  const LRESULT answer = SendMessageW(hwnd, WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_CLIENT));
  EXPECT_NE(answer, 0) << "the control did not answer WM_GETOBJECT";
  if (answer > 0 && SUCCEEDED(ObjectFromLresult(answer, IID_IAccessible, 0, acc.PutVoid())) && acc) return acc;
  return Skin::NewAccessibleObject(hwnd);
}

VARIANT Self() {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = CHILDID_SELF;
  return v;
}

std::wstring TextOf(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*), IAccessible* acc) {
  Sys::TBstr text;
  if (FAILED((acc->*get)(Self(), text.Put())) || !text) return {};
  return std::wstring(text.Get(), SysStringLen(text.Get()));
}

long NumberOf(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, VARIANT*), IAccessible* acc) {
  VARIANT v;
  VariantInit(&v);
  if (FAILED((acc->*get)(Self(), &v)) || V_VT(&v) != VT_I4) return -1;
  return V_I4(&v);
}

long RoleOf(IAccessible* acc) { return NumberOf(&IAccessible::get_accRole, acc); }
long StateOf(IAccessible* acc) { return NumberOf(&IAccessible::get_accState, acc); }
std::wstring NameOf(IAccessible* acc) { return TextOf(&IAccessible::get_accName, acc); }
std::wstring ValueOf(IAccessible* acc) { return TextOf(&IAccessible::get_accValue, acc); }
std::wstring ActionOf(IAccessible* acc) { return TextOf(&IAccessible::get_accDefaultAction, acc); }

// A small opaque red picture, standing in for the logo.
Skin::TPicture RedPicture() {
  Skin::TPicture p;
  p.Width = p.Height = 16;
  p.Pixels.assign(256, 0xFFE01010u);
  return p;
}

// The launcher's bottom half in miniature: a panel holding the gauge, the button and the status
// line, and the picture above it.
class AccessibleTest : public SkinTest::TopWindowTest {
 protected:
  void SetUp() override {
    TopWindowTest::SetUp();
    Picture.Create(Top(), 1001, RedPicture());
    Picture.SetBounds(0, 0, 544, 232);
    Panel.Create(Top(), 1003);
    Panel.SetBounds(0, 232, 544, 202);
    Gauge.Create(Panel.Handle(), 1007);
    Gauge.SetBounds(40, 23, 464, 34);
    Button.Create(Panel.Handle(), 1008, Skin::TPicture{});
    Button.SetBounds(150, 72, 244, 62);
    Button.SetCaption(L"Установить");
    Button.OnClick = [this](TObject*) { ++Clicks; };
    Status.Create(Panel.Handle(), 1006);
    Status.SetBounds(0, 149, 544, 53);
    Status.SetText(L"Нажмите на кнопку для начала установки");
  }

  Skin::TsImage Picture;
  Skin::TsPanel Panel;
  Skin::TsGauge Gauge;
  Skin::TsButton Button;
  Skin::TLabel Status;
  int Clicks = 0;
};

TEST_F(AccessibleTest, EachControlReadsWithItsRoleNameAndValue) {
  Gauge.SetMaxValue(1000);
  Gauge.SetProgress(370);
  struct Case {
    const char* control;
    HWND hwnd;
    long role;
    std::wstring name, value;
    long mustHave, mustNotHave;
  };
  const Case cases[] = {
      {"button", Button.Handle(), ROLE_SYSTEM_PUSHBUTTON, L"Установить", L"",
       STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_DEFAULT, STATE_SYSTEM_UNAVAILABLE | STATE_SYSTEM_INVISIBLE},
      {"gauge", Gauge.Handle(), ROLE_SYSTEM_PROGRESSBAR, L"", L"37%", STATE_SYSTEM_READONLY,
       STATE_SYSTEM_UNAVAILABLE | STATE_SYSTEM_INVISIBLE},
      {"status", Status.Handle(), ROLE_SYSTEM_STATICTEXT, L"Нажмите на кнопку для начала установки", L"",
       STATE_SYSTEM_READONLY, STATE_SYSTEM_INVISIBLE},
      {"picture", Picture.Handle(), ROLE_SYSTEM_GRAPHIC, L"", L"", STATE_SYSTEM_READONLY, STATE_SYSTEM_INVISIBLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    const auto acc = AccessibleOf(c.hwnd);
    ASSERT_TRUE(acc);
    EXPECT_EQ(RoleOf(acc.Get()), c.role);
    EXPECT_EQ(NameOf(acc.Get()), c.name);
    EXPECT_EQ(ValueOf(acc.Get()), c.value);
    const long state = StateOf(acc.Get());
    EXPECT_EQ(state & c.mustHave, c.mustHave) << std::hex << state;
    EXPECT_EQ(state & c.mustNotHave, 0) << std::hex << state;
    long left = 0, top = 0, width = 0, height = 0;
    EXPECT_EQ(acc->accLocation(&left, &top, &width, &height, Self()), S_OK);
    RECT rc{};
    GetWindowRect(c.hwnd, &rc);
    EXPECT_EQ(std::make_pair(left, top), std::make_pair(rc.left, rc.top));
    EXPECT_EQ(std::make_pair(width, height), std::make_pair(rc.right - rc.left, rc.bottom - rc.top));
  }
  // The panels are plain containers: the system's own object answers for them.
  EXPECT_EQ(SendMessageW(Panel.Handle(), WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_CLIENT)), 0);
}

TEST_F(AccessibleTest, ObjectFollowsTheControlAndOutlivesItsWindowSafely) {
  const auto gauge = AccessibleOf(Gauge.Handle());
  const auto status = AccessibleOf(Status.Handle());
  ASSERT_TRUE(gauge && status);
  EXPECT_EQ(ValueOf(gauge.Get()), L"0%");
  Gauge.SetMaxValue(8);
  Gauge.SetProgress(3);
  Status.SetText(L"Скачивание обновления...");
  Gauge.SetVisible(false);
  EXPECT_EQ(ValueOf(gauge.Get()), L"38%");
  EXPECT_NE(StateOf(gauge.Get()) & STATE_SYSTEM_INVISIBLE, 0);
  EXPECT_EQ(NameOf(status.Get()), L"Скачивание обновления...");
  DestroyTop();
  VARIANT role;
  VariantInit(&role);
  EXPECT_EQ(gauge->get_accRole(Self(), &role), CO_E_OBJNOTCONNECTED);
}

TEST_F(AccessibleTest, ButtonStatesAndItsDefaultActionPressingIt) {
  const auto acc = AccessibleOf(Button.Handle());
  ASSERT_TRUE(acc);
  EXPECT_EQ(ActionOf(acc.Get()), L"Press");

  Button.SetEnabled(false);
  long state = StateOf(acc.Get());
  EXPECT_NE(state & STATE_SYSTEM_UNAVAILABLE, 0);
  EXPECT_EQ(state & STATE_SYSTEM_FOCUSABLE, 0);
  EXPECT_NE(acc->accDoDefaultAction(Self()), S_OK);  // refused while disabled

  Button.SetEnabled(true);
  SetForegroundWindow(Top());
  SetFocus(Button.Handle());
  state = StateOf(acc.Get());
  EXPECT_EQ(state & (STATE_SYSTEM_UNAVAILABLE | STATE_SYSTEM_FOCUSED | STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_DEFAULT),
            STATE_SYSTEM_FOCUSED | STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_DEFAULT)
      << std::hex << state;

  EXPECT_EQ(acc->accDoDefaultAction(Self()), S_OK);
  EXPECT_TRUE(PumpUntil([&] { return Clicks == 1; }));
  SkinTest::SendFromOtherThread(Button.Handle(), WM_NULL);  // everything posted before has run
  EXPECT_EQ(Clicks, 1);
}

TEST_F(AccessibleTest, ReEnabledButtonTakesTheFocusBackInTheActiveWindow) {
  SetForegroundWindow(Top());
  ASSERT_EQ(GetActiveWindow(), Top());
  SetFocus(Button.Handle());
  ASSERT_EQ(GetFocus(), Button.Handle());
  // As a command does: the press disables the button, its end enables it again.
  Button.SetEnabled(false);
  EXPECT_NE(GetFocus(), Button.Handle());
  Button.SetEnabled(true);
  EXPECT_EQ(GetFocus(), Button.Handle());
  // Space at the focused button presses it; while disabled it does nothing.
  for (const bool enabled : {false, true}) {
    Button.SetEnabled(enabled);
    SendMessageW(Button.Handle(), WM_KEYDOWN, VK_SPACE, 0x00390001);
    SendMessageW(Button.Handle(), WM_KEYUP, VK_SPACE, 0xC0390001);
  }
  EXPECT_EQ(Clicks, 1);
}

// Events a screen reader hooks, as this process sees them.
std::vector<std::pair<DWORD, HWND>>* gEvents = nullptr;

void CALLBACK OnWinEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
  if (gEvents && object == OBJID_CLIENT && child == CHILDID_SELF) gEvents->push_back({event, hwnd});
}

TEST_F(AccessibleTest, ChangesRaiseTheirEvents) {
  std::vector<std::pair<DWORD, HWND>> events;
  gEvents = &events;
  const HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_STATECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr, OnWinEvent,
                                             GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
  ASSERT_NE(hook, nullptr);
  Status.SetText(L"Скачивание обновления...");
  Gauge.SetMaxValue(100);
  Gauge.SetProgress(37);
  Button.SetEnabled(false);
  const std::set<std::pair<DWORD, HWND>> expected = {{EVENT_OBJECT_NAMECHANGE, Status.Handle()},
                                                     {EVENT_OBJECT_VALUECHANGE, Gauge.Handle()},
                                                     {EVENT_OBJECT_STATECHANGE, Button.Handle()}};
  auto seen = [&] {
    std::set<std::pair<DWORD, HWND>> got(events.begin(), events.end());
    for (const auto& e : expected)
      if (!got.count(e)) return false;
    return true;
  };
  EXPECT_TRUE(PumpUntil(seen, 20000)) << events.size() << " events seen";
  // The same text again is no change: nothing to announce.
  events.clear();
  Status.SetText(L"Скачивание обновления...");
  Gauge.SetProgress(37);
  SkinTest::SendFromOtherThread(Top(), WM_NULL);
  PumpUntil([] { return true; });
  for (const auto& e : events) EXPECT_FALSE(e.second == Status.Handle() || e.second == Gauge.Handle()) << e.first;
  UnhookWinEvent(hook);
  gEvents = nullptr;
}

// The controls drawn into a picture of the window's client area with the given colours.
TCapture DrawAll(const std::vector<std::pair<Skin::TControl*, POINT>>& controls, const Skin::TPalette& palette) {
  const int width = 544, height = 434;
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  const Sys::TBitmap dib(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  const Sys::TMemoryDC dc(CreateCompatibleDC(nullptr));
  const Sys::TSelectObject selected(dc.Get(), dib.Get());
  for (const auto& [control, at] : controls) {
    SetViewportOrgEx(dc.Get(), at.x, at.y, nullptr);
    control->Draw(dc.Get(), palette);
  }
  GdiFlush();
  TCapture c;
  c.Width = width;
  c.Height = height;
  const auto* p = static_cast<const uint8_t*>(bits);
  c.Pixels.resize(static_cast<size_t>(width) * height);
  for (size_t i = 0; i < c.Pixels.size(); ++i) c.Pixels[i] = {p[i * 4 + 2], p[i * 4 + 1], p[i * 4]};
  return c;
}

TPixel PixelOf(COLORREF c) { return {GetRValue(c), GetGValue(c), GetBValue(c)}; }

TEST_F(AccessibleTest, HighContrastDrawsWithTheSystemColoursAndAFocusRectangle) {
  // The "High Contrast Black" colour set, as the system reports it in that mode.
  Skin::TPalette hc;
  hc.HighContrast = true;
  hc.Window = RGB(0, 0, 0);
  hc.WindowText = RGB(255, 255, 255);
  hc.ButtonFace = RGB(0, 0, 0);
  hc.ButtonText = RGB(255, 255, 255);
  hc.Highlight = RGB(26, 235, 255);
  hc.HighlightText = RGB(0, 0, 0);
  hc.GrayText = RGB(63, 242, 63);
  hc.Track = hc.Window;
  hc.TrackBorder = hc.WindowText;

  Gauge.SetProgress(37);
  Button.SetTone(RGB(20, 115, 230));
  const std::vector<std::pair<Skin::TControl*, POINT>> all = {{&Picture, {0, 0}},       {&Panel, {0, 232}},
                                                              {&Gauge, {40, 255}},      {&Button, {150, 304}},
                                                              {&Status, {0, 381}}};
  const TCapture unfocused = DrawAll(all, hc);
  SetForegroundWindow(Top());
  SetFocus(Button.Handle());
  ASSERT_EQ(GetFocus(), Button.Handle());
  const TCapture shot = DrawAll(all, hc);

  const std::string source = getenv("MORVANE_SOURCE_DIR") ? getenv("MORVANE_SOURCE_DIR") : "";
  if (!source.empty()) {
    CreateDirectoryW(std::wstring(L"Z:" + std::wstring(source.begin(), source.end()) + L"/out").c_str(), nullptr);
    CreateDirectoryW(std::wstring(L"Z:" + std::wstring(source.begin(), source.end()) + L"/out/screenshots").c_str(),
                     nullptr);
    EXPECT_TRUE(shot.SavePng(L"Z:" + std::wstring(source.begin(), source.end()) + L"/out/screenshots/high-contrast.png"));
  }

  auto is = [](COLORREF c) { return [p = PixelOf(c)](const TPixel& x) { return x == p; }; };
  auto nearerTo = [](COLORREF to, COLORREF than) {
    return [a = PixelOf(to), b = PixelOf(than)](const TPixel& x) {
      const auto distance = [&x](const TPixel& c) {
        return std::abs(x.R - c.R) + std::abs(x.G - c.G) + std::abs(x.B - c.B);
      };
      return distance(a) < distance(b);
    };
  };
  auto blueish = [](const TPixel& x) { return x.B > 150 && x.R < 100 && x.G > 60 && x.G < 160; };
  const RECT button{150, 304, 394, 366}, gaugeFill{44, 259, 80, 285}, gaugeRest{400, 259, 500, 285};
  const RECT panelStrip{0, 232, 544, 254}, picture{0, 0, 544, 232}, status{0, 381, 544, 434};
  // The button: the system's face and text, none of the skin's blue, a white edge.
  EXPECT_GT(shot.Share(button, is(hc.ButtonFace)), 0.6);
  EXPECT_GT(shot.Share(button, is(hc.ButtonText)), 0.03);
  EXPECT_EQ(shot.Share(button, blueish), 0.0);
  // The focused button shows its focus rectangle: the pictures differ on its line only.
  EXPECT_NE(shot.Share(RECT{155, 309, 389, 310}, is(hc.ButtonFace)), unfocused.Share(RECT{155, 309, 389, 310}, is(hc.ButtonFace)));
  // The gauge at 37%: the highlight fills its left part, the window colour the rest.
  EXPECT_GT(shot.Share(gaugeFill, is(hc.Highlight)), 0.9);
  EXPECT_GT(shot.Share(gaugeRest, is(hc.Window)), 0.9);
  EXPECT_GT(shot.Share(RECT{40, 255, 504, 289}, is(hc.WindowText)), 0.0);  // the track's edge, the reading
  // Panels and the status line on the window colour, the status text in window text.
  EXPECT_EQ(shot.Share(panelStrip, is(hc.Window)), 1.0);
  EXPECT_GT(shot.Share(status, is(hc.Window)), 0.7);
  // The text's ink: smoothed edges blend the two colours (grey steps, or colour fringes where
  // the system smooths for the screen's subpixels), so a pixel of the text is one nearer the
  // window text colour than the window colour.
  EXPECT_GT(shot.Share(status, nearerTo(hc.WindowText, hc.Window)), 0.01);
  // The logo stays as it is, on the window colour.
  EXPECT_EQ(shot.At(272, 116), (TPixel{0xE0, 0x10, 0x10}));
  EXPECT_EQ(shot.At(5, 5), PixelOf(hc.Window));
  EXPECT_GT(shot.Share(picture, is(hc.Window)), 0.01);

  // The light skin keeps its own colours: the gauge's fill is the skin's blue.
  const TCapture light = DrawAll(all, Skin::LightPalette());
  EXPECT_GT(light.Share(gaugeFill, is(Skin::ColorFill)), 0.9);
  EXPECT_EQ(light.Share(panelStrip, is(Skin::ColorWindow)), 1.0);
}

}  // namespace
