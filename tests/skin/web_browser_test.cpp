// The web view hosted in a window: which page it was asked to open, hiding, showing and
// resizing with its window, a window that stays responsive and asks nothing of the user, and a
// page that stays markup: no scripts or controls, no way to another page or a new window.
#include <gtest/gtest.h>

#include <windows.h>
#include <exdisp.h>
#include <exdispid.h>
#include <mshtmdid.h>
#include <shlwapi.h>
#include <urlmon.h>

#include <algorithm>
#include <cwctype>
#include <fstream>
#include <string>
#include <vector>

#include "skin/controls.h"
#include "skin_window_fixture.h"

namespace {

using SkinTest::PumpUntil;

std::wstring Lower(std::wstring s) {
  std::transform(s.begin(), s.end(), s.begin(), [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
  return s;
}

// Whether the browser's location (a file URL or a plain path) is the given file.
bool LocationIs(const std::wstring& location, const std::wstring& path) {
  if (location.empty()) return false;
  std::wstring asPath = location;
  if (Lower(location.substr(0, 5)) == L"file:") {
    wchar_t buffer[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    if (FAILED(PathCreateFromUrlW(location.c_str(), buffer, &size, 0))) return false;
    asPath.assign(buffer, size);
  }
  return Lower(asPath) == Lower(path);
}

std::wstring ClassName(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

// Visible top-level windows of this process other than the given one: dialogs or prompts.
std::vector<std::wstring> OtherVisibleWindows(HWND except) {
  struct Search {
    HWND except;
    std::vector<std::wstring> found;
  } search{except, {}};
  EnumWindows(
      [](HWND hwnd, LPARAM param) CALLBACK -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid == GetCurrentProcessId() && hwnd != s->except && IsWindowVisible(hwnd)) {
          wchar_t text[128] = {};
          GetWindowTextW(hwnd, text, 128);
          s->found.push_back(ClassName(hwnd) + L" \"" + text + L"\"");
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Whether the system registers the web browser control at all.
bool BrowserControlRegistered() {
  CLSID clsid{};
  return SUCCEEDED(CLSIDFromProgID(L"Shell.Explorer.2", &clsid));
}

SIZE WindowSize(HWND hwnd) {
  RECT rc{};
  GetWindowRect(hwnd, &rc);
  return {rc.right - rc.left, rc.bottom - rc.top};
}

class WebBrowserTest : public SkinTest::TopWindowTest {
 protected:
  void SetUp() override {
    TopWindowTest::SetUp();
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    FFolder = std::wstring(temp) + L"morvane-web-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(FFolder.c_str(), nullptr);
    FFirst = WritePage(L"first.html", "<html><body><p>First page</p></body></html>");
    FSecond = WritePage(L"second page.html", "<html><body><p>Second page</p></body></html>");
    Web.Create(Top(), 1002);
    ASSERT_NE(Web.Handle(), nullptr);
    Web.SetBounds(0, 0, 544, 232);
    Web.SetVisible(true);
  }
  void TearDown() override {
    DestroyTop();
    DeleteFileW(FFirst.c_str());
    DeleteFileW(FSecond.c_str());
    RemoveDirectoryW(FFolder.c_str());
  }

  std::wstring WritePage(const std::wstring& name, const char* html) {
    const std::wstring path = FFolder + name;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, html, static_cast<DWORD>(strlen(html)), &written, nullptr);
    CloseHandle(file);
    return path;
  }

  // Navigates and checks everything that tells which page the view was asked for.
  void NavigateAndCheck(const std::wstring& path) {
    Web.Navigate(path);
    EXPECT_EQ(Web.Text(), path);
    EXPECT_EQ(Web.LocationPath(), path);
    // Where the system has the control, the view hosts it; only elsewhere does it fall back.
    EXPECT_EQ(Web.BrowserHosted(), BrowserControlRegistered());
    if (Web.BrowserHosted()) {
      EXPECT_TRUE(PumpUntil([&] { return LocationIs(Web.BrowserLocationUrl(), path); }))
          << "browser location: " << testing::PrintToString(Web.BrowserLocationUrl());
    }
  }

  void ExpectResponsiveAndUnprompted() {
    LRESULT answer = 1;
    EXPECT_TRUE(SkinTest::SendFromOtherThread(Top(), WM_GETTEXTLENGTH, 0, 0, &answer));
    EXPECT_EQ(answer, 9);  // "skin test"
    EXPECT_TRUE(SkinTest::SendFromOtherThread(Web.Handle(), WM_NULL));
    EXPECT_EQ(OtherVisibleWindows(Top()), std::vector<std::wstring>{});
  }

  Skin::TsWebBrowser Web;
  std::wstring FFolder, FFirst, FSecond;
};

TEST_F(WebBrowserTest, IsAReadableChildWindowBeforeAnyPage) {
  EXPECT_EQ(ClassName(Web.Handle()), L"TsWebBrowser");
  EXPECT_EQ(GetDlgItem(Top(), 1002), Web.Handle());
  EXPECT_EQ(Web.Text(), L"");
  EXPECT_EQ(Web.LocationPath(), L"");
  EXPECT_FALSE(Web.BrowserHosted());
  EXPECT_EQ(Web.BrowserWindow(), nullptr);
}

TEST_F(WebBrowserTest, OpensThePathItIsGivenAndASecondReplacesIt) {
  NavigateAndCheck(FFirst);
  ExpectResponsiveAndUnprompted();
  NavigateAndCheck(FSecond);
  EXPECT_FALSE(LocationIs(Web.BrowserLocationUrl(), FFirst));
  ExpectResponsiveAndUnprompted();
  // The same page again is opened again (the page file is rewritten on every call).
  NavigateAndCheck(FSecond);
}

// Without the first the control would draw pages in its oldest mode, which runs plain notes
// together; without the second a local page would run in the Local Machine zone unlocked.
TEST_F(WebBrowserTest, SetsItsOwnBrowserFeatureEntries) {
  struct Entry {
    const wchar_t* feature;
    DWORD value;
  };
  const Entry entries[] = {{L"FEATURE_BROWSER_EMULATION", 11001}, {L"FEATURE_LOCALMACHINE_LOCKDOWN", 1}};
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring name = std::wstring(path).substr(std::wstring(path).find_last_of(L'\\') + 1);
  const std::wstring root = L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\";
  for (const Entry& e : entries) RegDeleteKeyValueW(HKEY_CURRENT_USER, (root + e.feature).c_str(), name.c_str());
  Web.Navigate(FFirst);
  for (const Entry& e : entries) {
    DWORD value = 0, size = sizeof value;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, (root + e.feature).c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr,
                           &value, &size),
              ERROR_SUCCESS)
        << testing::PrintToString(std::wstring(e.feature));
    EXPECT_EQ(value, e.value) << testing::PrintToString(std::wstring(e.feature));
  }
}

// The browser's client site as the browser itself reaches it.
Sys::TComPtr<IDispatch> SiteDispatch(const Skin::TsWebBrowser& web) {
  Sys::TComPtr<IOleClientSite> site;
  if (const auto object = web.BrowserObject().As<IOleObject>()) object->GetClientSite(site.Put());
  return site.As<IDispatch>();
}

TEST_F(WebBrowserTest, SiteAllowsPicturesOnlyAndSilence) {
  NavigateAndCheck(FFirst);
  if (!Web.BrowserHosted()) GTEST_SKIP() << "no browser control on this system";
  const auto site = SiteDispatch(Web);
  ASSERT_TRUE(site);
  DISPPARAMS none{};
  VARIANT answer;
  VariantInit(&answer);
  ASSERT_EQ(site->Invoke(DISPID_AMBIENT_DLCONTROL, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &answer,
                         nullptr, nullptr),
            S_OK);
  ASSERT_EQ(V_VT(&answer), VT_I4);
  const long flags = V_I4(&answer);
  struct Flag {
    long bit;
    bool set;
    const char* meaning;
  };
  const Flag table[] = {
      {DLCTL_DLIMAGES, true, "pictures load"},
      {DLCTL_NO_SCRIPTS, true, "no scripts"},
      {DLCTL_NO_JAVA, true, "no Java"},
      {DLCTL_NO_RUNACTIVEXCTLS, true, "no ActiveX run"},
      {DLCTL_NO_DLACTIVEXCTLS, true, "no ActiveX download"},
      {DLCTL_NO_BEHAVIORS, true, "no behaviours"},
      {DLCTL_NO_FRAMEDOWNLOAD, true, "no frame downloads"},
      {DLCTL_NO_CLIENTPULL, true, "no client pull"},
      {DLCTL_SILENT, true, "silent"},
      {DLCTL_VIDEOS, false, "no videos"},
      {DLCTL_BGSOUNDS, false, "no background sounds"},
      {DLCTL_DOWNLOADONLY, false, "shows the page"},
      {DLCTL_FORCEOFFLINE, true, "offline: nothing from the web, not even from the cache's misses"},
  };
  for (const Flag& f : table) EXPECT_EQ((flags & f.bit) != 0, f.set) << f.meaning;
  // Other ambient properties keep the browser's defaults.
  EXPECT_EQ(site->Invoke(DISPID_AMBIENT_USERAGENT, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &answer,
                         nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
}

// Fires one event at the site as the browser does; true when the site cancelled it.
bool FireCancellable(IDispatch* site, DISPID id, std::vector<VARIANT> args, size_t cancelIndex) {
  VARIANT_BOOL cancel = VARIANT_FALSE;
  V_VT(&args[cancelIndex]) = VT_BYREF | VT_BOOL;
  V_BOOLREF(&args[cancelIndex]) = &cancel;
  std::reverse(args.begin(), args.end());  // DISPPARAMS holds the last argument first
  DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
  EXPECT_EQ(site->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
  return cancel == VARIANT_TRUE;
}

TEST_F(WebBrowserTest, SiteCancelsEveryOtherPageAndNewWindows) {
  NavigateAndCheck(FFirst);
  if (!Web.BrowserHosted()) GTEST_SKIP() << "no browser control on this system";
  const auto site = SiteDispatch(Web);
  ASSERT_TRUE(site);
  wchar_t fileUrl[MAX_PATH * 3] = {};
  DWORD fileUrlSize = MAX_PATH * 3;
  ASSERT_EQ(UrlCreateFromPathW(FFirst.c_str(), fileUrl, &fileUrlSize, 0), S_OK);
  struct Case {
    std::wstring url;
    bool cancelled;
  };
  const Case cases[] = {
      {FFirst, false},
      {fileUrl, false},
      {Lower(FFirst), false},  // file names ignore letter case
      {FSecond, true},
      {FFolder, true},
      {L"https://example.com/", true},
      {L"javascript:alert(1)", true},
      {L"about:blank", true},
      {L"", true},
  };
  for (const Case& c : cases) {
    VARIANT url;  // passed by reference to a VARIANT holding the text, as the browser does
    V_VT(&url) = VT_BSTR;
    V_BSTR(&url) = SysAllocString(c.url.c_str());
    std::vector<VARIANT> args(7);
    for (VARIANT& a : args) VariantInit(&a);
    V_VT(&args[1]) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&args[1]) = &url;
    EXPECT_EQ(FireCancellable(site.Get(), DISPID_BEFORENAVIGATE2, args, 6), c.cancelled)
        << testing::PrintToString(c.url);
    VariantClear(&url);
  }
  std::vector<VARIANT> two(2), five(5);
  for (VARIANT& a : two) VariantInit(&a);
  for (VARIANT& a : five) VariantInit(&a);
  EXPECT_TRUE(FireCancellable(site.Get(), DISPID_NEWWINDOW2, two, 1));
  EXPECT_TRUE(FireCancellable(site.Get(), DISPID_NEWWINDOW3, five, 1));
}

// The browser itself asked for another page, as a link or a script in the page would: the site
// sees the navigation through the browser's events and the browser stays on the page.
TEST_F(WebBrowserTest, BrowserLedElsewhereStaysOnItsPage) {
  NavigateAndCheck(FFirst);
  if (!Web.BrowserHosted()) GTEST_SKIP() << "no browser control on this system";
  const auto browser = Web.BrowserObject().As<IWebBrowser2>();
  ASSERT_TRUE(browser);
  auto cancelled = [&] {
    return reinterpret_cast<INT_PTR>(GetPropW(Web.Handle(), L"MorvaneCancelledNavigations"));
  };
  const INT_PTR before = cancelled();
  const Sys::TBstr other(SysAllocString(FSecond.c_str()));
  VARIANT none;
  VariantInit(&none);
  browser->Navigate(other.Get(), &none, &none, &none, &none);
  ASSERT_TRUE(PumpUntil([&] { return cancelled() > before; }));
  EXPECT_TRUE(LocationIs(Web.BrowserLocationUrl(), FFirst))
      << "browser location: " << testing::PrintToString(Web.BrowserLocationUrl());
  // The page it was told to open still opens.
  NavigateAndCheck(FSecond);
}

// The site's service provider, and its security manager asked for as the browser asks for it.
Sys::TComPtr<IServiceProvider> SiteServices(const Skin::TsWebBrowser& web) {
  Sys::TComPtr<IOleClientSite> site;
  if (const auto object = web.BrowserObject().As<IOleObject>()) object->GetClientSite(site.Put());
  return site.As<IServiceProvider>();
}

Sys::TComPtr<IInternetSecurityManager> SiteSecurityManager(const Skin::TsWebBrowser& web) {
  Sys::TComPtr<IInternetSecurityManager> manager;
  if (const auto provider = SiteServices(web))
    provider->QueryService(SID_SInternetSecurityManager, IID_IInternetSecurityManager, manager.PutVoid());
  return manager;
}

std::wstring FileUrl(const std::wstring& path) {
  wchar_t url[MAX_PATH * 3] = {};
  DWORD size = MAX_PATH * 3;
  return SUCCEEDED(UrlCreateFromPathW(path.c_str(), url, &size, 0)) ? std::wstring(url, size) : std::wstring();
}

// What the site's security manager answers for one URL and action: refused (S_FALSE with
// URLPOLICY_DISALLOW), or left to the system (INET_E_DEFAULT_ACTION).
enum class Answer { Refused, SystemDecides, Other };

Answer AskAction(IInternetSecurityManager* manager, const wchar_t* url, DWORD action) {
  DWORD policy = URLPOLICY_ALLOW;
  const HRESULT hr = manager->ProcessUrlAction(url, action, reinterpret_cast<BYTE*>(&policy), sizeof policy, nullptr,
                                               0, PUAF_NOUI, 0);
  if (hr == S_FALSE && policy == URLPOLICY_DISALLOW) return Answer::Refused;
  if (hr == INET_E_DEFAULT_ACTION) return Answer::SystemDecides;
  return Answer::Other;
}

// A page written by whoever can write the cloud folder names pictures, style sheets and fonts
// elsewhere: the browser asks its site's security manager about each, and only the page itself
// and data embedded in it get anything but a refusal.
TEST_F(WebBrowserTest, SecurityManagerRefusesEverythingButThePageAndItsData) {
  NavigateAndCheck(FFirst);
  if (!Web.BrowserHosted()) GTEST_SKIP() << "no browser control on this system";
  const auto manager = SiteSecurityManager(Web);
  ASSERT_TRUE(manager);

  struct Url {
    std::wstring url;
    bool inside;  // the page itself or data embedded in it
  };
  const Url urls[] = {
      {FFirst, true},
      {FileUrl(FFirst), true},
      {Lower(FFirst), true},
      {L"data:image/png;base64,iVBORw0KGgo=", true},
      {L"DATA:image/gif;base64,R0lGODlhAQABAAAAACw=", true},
      {FSecond, false},
      {FileUrl(FSecond), false},
      {FFolder, false},
      {FFirst + L".png", false},
      {L"file:///C:/windows/win.ini", false},
      {L"http://198.51.100.7/beacon.gif?user=1", false},
      {L"https://example.com/a.css", false},
      {L"ftp://example.com/font.ttf", false},
      {L"\\\\198.51.100.7\\share\\a.png", false},
      {L"file://198.51.100.7/share/a.png", false},
      {L"file:////198.51.100.7/share/a.png", false},
      {L"res://ieframe.dll/navcancl.htm", false},
      {L"mk:@MSITStore:C:\\help.chm::/a.htm", false},
      {L"javascript:alert(1)", false},
      {L"about:blank", false},
      {L"data", false},
      {L"", false},
  };
  struct Action {
    DWORD action;
    bool refusedOnThePage;
    const char* name;
  };
  const Action actions[] = {
      {URLACTION_DOWNLOAD_SIGNED_ACTIVEX, true, "download signed ActiveX"},
      {URLACTION_ACTIVEX_RUN, true, "run ActiveX"},
      {URLACTION_SCRIPT_RUN, true, "run scripts"},
      {URLACTION_CROSS_DOMAIN_DATA, true, "data across domains"},
      {URLACTION_HTML_FONT_DOWNLOAD, true, "font download"},
      {URLACTION_HTML_SUBFRAME_NAVIGATE, true, "frames"},
      {URLACTION_HTML_META_REFRESH, true, "meta refresh"},
      {URLACTION_HTML_SUBMIT_FORMS, true, "forms"},
      {URLACTION_SHELL_FILE_DOWNLOAD, true, "file download"},
      {URLACTION_CREDENTIALS_USE, true, "credentials"},
      {URLACTION_AUTHENTICATE_CLIENT, true, "authentication"},
      {URLACTION_COOKIES, true, "cookies"},
      {URLACTION_JAVA_PERMISSIONS, true, "Java"},
      {URLACTION_BEHAVIOR_RUN, true, "behaviours"},
      {URLACTION_ALLOW_RESTRICTEDPROTOCOLS, true, "restricted protocols"},
      {URLACTION_FEATURE_MIME_SNIFFING, false, "content sniffing"},
      {URLACTION_FEATURE_ZONE_ELEVATION, false, "zone elevation"},
      {URLACTION_FEATURE_WINDOW_RESTRICTIONS, false, "window restrictions"},
  };
  for (const Url& u : urls) {
    const std::string where = testing::PrintToString(u.url);
    for (const Action& a : actions) {
      const Answer expected = u.inside && !a.refusedOnThePage ? Answer::SystemDecides : Answer::Refused;
      EXPECT_EQ(AskAction(manager.Get(), u.url.c_str(), a.action), expected) << where << ", " << a.name;
    }
    DWORD zone = URLZONE_INVALID;
    const HRESULT zoneAnswer = manager->MapUrlToZone(u.url.c_str(), &zone, 0);
    BYTE* custom = nullptr;
    DWORD customSize = 0;
    const HRESULT customAnswer =
        manager->QueryCustomPolicy(u.url.c_str(), GUID_NULL, &custom, &customSize, nullptr,
                                   0, 0);
    if (u.inside) {
      EXPECT_EQ(zoneAnswer, INET_E_DEFAULT_ACTION) << where;
      EXPECT_EQ(customAnswer, INET_E_DEFAULT_ACTION) << where;
    } else {
      EXPECT_EQ(zoneAnswer, S_OK) << where;
      EXPECT_EQ(zone, static_cast<DWORD>(URLZONE_UNTRUSTED)) << where;
      EXPECT_EQ(customAnswer, S_OK) << where;
      ASSERT_EQ(customSize, sizeof(DWORD)) << where;
      DWORD customPolicy = 0;
      memcpy(&customPolicy, custom, sizeof customPolicy);
      EXPECT_EQ(customPolicy, static_cast<DWORD>(URLPOLICY_DISALLOW)) << where;
    }
    CoTaskMemFree(custom);
  }
  EXPECT_EQ(AskAction(manager.Get(), nullptr, URLACTION_FEATURE_MIME_SNIFFING), Answer::Refused);

  // The page it is told to open next takes the first one's place.
  NavigateAndCheck(FSecond);
  EXPECT_EQ(AskAction(manager.Get(), FSecond.c_str(), URLACTION_FEATURE_MIME_SNIFFING), Answer::SystemDecides);
  EXPECT_EQ(AskAction(manager.Get(), FFirst.c_str(), URLACTION_FEATURE_MIME_SNIFFING), Answer::Refused);
  // The site offers no other service.
  Sys::TComPtr<IUnknown> other;
  EXPECT_EQ(SiteServices(Web)->QueryService(IID_IInternetHostSecurityManager, IID_IUnknown, other.PutVoid()),
            E_NOINTERFACE);
}

TEST_F(WebBrowserTest, BrowserFillsItsWindowAndHidesAndShowsWithIt) {
  NavigateAndCheck(FFirst);
  if (!Web.BrowserHosted()) GTEST_SKIP() << "no browser control on this system";
  const HWND browser = Web.BrowserWindow();
  ASSERT_NE(browser, nullptr);
  EXPECT_EQ(GetParent(browser), Web.Handle());

  struct Bounds {
    int x, y, w, h;
  };
  for (const Bounds b : {Bounds{0, 0, 544, 232}, Bounds{10, 20, 300, 150}, Bounds{0, 0, 816, 348}}) {
    Web.SetBounds(b.x, b.y, b.w, b.h);
    ASSERT_TRUE(PumpUntil([&] {
      const SIZE s = WindowSize(browser);
      return s.cx == b.w && s.cy == b.h;
    }, 15000)) << "browser " << WindowSize(browser).cx << " x " << WindowSize(browser).cy << ", view " << b.w << " x "
        << b.h;
  }

  Web.SetVisible(false);
  EXPECT_FALSE(IsWindowVisible(Web.Handle()));
  EXPECT_FALSE(IsWindowVisible(browser));
  Web.SetVisible(true);
  EXPECT_TRUE(IsWindowVisible(Web.Handle()));
  EXPECT_TRUE(IsWindowVisible(browser));
  ExpectResponsiveAndUnprompted();
}

TEST_F(WebBrowserTest, NavigatesWhileHiddenAndShowsThePageLater) {
  // As the start-up check does: the page is opened before the window is ever shown.
  Web.SetVisible(false);
  ShowWindow(Top(), SW_HIDE);
  NavigateAndCheck(FFirst);
  ShowWindow(Top(), SW_SHOWNA);
  Web.SetVisible(true);
  if (Web.BrowserHosted()) {
    EXPECT_TRUE(IsWindowVisible(Web.BrowserWindow()));
  }
  ExpectResponsiveAndUnprompted();
}

TEST_F(WebBrowserTest, ClosingTheWindowReleasesTheBrowser) {
  NavigateAndCheck(FFirst);
  DestroyTop();
  EXPECT_EQ(Web.Handle(), nullptr);
  EXPECT_FALSE(Web.BrowserHosted());
  EXPECT_EQ(Web.BrowserLocationUrl(), L"");
  Web.Navigate(FSecond);  // without a window it only records the path
  EXPECT_EQ(Web.LocationPath(), FSecond);
}

}  // namespace
