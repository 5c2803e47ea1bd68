// The web view: a minimal OLE container for the system's web browser control.
//
// The container is one object, TBrowserSite, that is the control's client site, in-place site,
// in-place frame and document host. The last of these is what lets the host set how pages are
// shown (IDocHostUIHandler::GetHostInfo): no scroll bars, no 3-D border, the arrow cursor
// through a host style sheet, and no context menu.
//
// The page comes from outside the program (release notes from the cloud folder), so the site
// also keeps it to markup: its IDispatch answers the ambient download control (pictures only:
// no scripts, Java, ActiveX, behaviours, frame downloads or client pull; offline; silent), and,
// connected to the browser's events, cancels every navigation to anything but the page it was
// told to open and every new window.
//
// Whoever can write the cloud folder writes the page, and a picture, style sheet or font it
// names would be fetched without any navigation: a web address tells a stranger the user's
// address, and a share ("\\host\share\a.png", "file://host/...") makes Windows sign in to that
// host with the user's credentials. So the site is also the browser's security manager (asked
// for through IServiceProvider): every URL but the page itself and data embedded in it ("data:")
// is put in the Restricted Sites zone and refused every action; the page and its embedded data
// keep the system's answers except for active content, downloads, forms, frames and the
// network's credentials, which are refused too.
#include <windows.h>
#include <exdisp.h>
#include <exdispid.h>
#include <mshtmdid.h>
#include <mshtmhst.h>
#include <ole2.h>
#include <shlwapi.h>
#include <urlmon.h>

#include <cstring>
#include <string>

#include "skin/controls.h"
#include "skin/untyped_dispatch.h"
#include "system/handles.h"
#include "system/text.h"

namespace Skin {

namespace {

// Style sheet the host lays under every page: the arrow cursor everywhere over the page.
constexpr wchar_t kHostCss[] = L"* { cursor: default !important; }";

constexpr DWORD kHostFlags = DOCHOSTUIFLAG_SCROLL_NO | DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_DISABLE_HELP_MENU;

wchar_t* CoTaskCopy(const wchar_t* text) {
  const size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
  if (copy) std::memcpy(copy, text, bytes);
  return copy;
}

// Sets the program's own entry (its file name) of a browser feature, per user, no elevation. A
// failure leaves the system's default for the feature.
void SetOwnFeatureControl(const wchar_t* feature, DWORD value) {
  wchar_t path[MAX_PATH * 2] = {};
  const DWORD len = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  if (len == 0 || len >= std::size(path)) return;
  const std::wstring name = ExtractFileName(std::wstring_view(path, len));
  Sys::TRegKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kBrowserFeatureControlKey) + L"\\" + feature).c_str(), 0,
                      nullptr, 0, KEY_SET_VALUE, nullptr, key.Put(), nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExW(key.Get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// A hosted browser control renders in the oldest document mode unless the program asks for a
// newer one, and that mode ignores "white-space: pre-wrap": plain release notes would lose their
// line breaks. The page is a local file, so it also asks for the Local Machine zone's lockdown,
// which the system otherwise leaves to the program.
void SetBrowserFeatures() {
  SetOwnFeatureControl(L"FEATURE_BROWSER_EMULATION", kBrowserDocumentMode);
  SetOwnFeatureControl(L"FEATURE_LOCALMACHINE_LOCKDOWN", 1);
}

bool SameTextIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// Whether a URL the browser is about to open is the page given as a plain path, written as
// that path or as its file URL.
bool IsPage(const std::wstring& url, const std::wstring& page) {
  if (page.empty() || url.empty()) return false;
  if (SameTextIgnoringCase(url, page)) return true;
  if (!UrlIsFileUrlW(url.c_str())) return false;
  wchar_t path[MAX_PATH * 2] = {};
  DWORD size = static_cast<DWORD>(std::size(path));
  return SUCCEEDED(PathCreateFromUrlW(url.c_str(), path, &size, 0)) && SameTextIgnoringCase(std::wstring(path, size), page);
}

// What a URL the page asks for is: the page itself, data embedded in it, or anything outside.
enum class TFetch { Page, Embedded, Outside };

TFetch ClassifyFetch(const std::wstring& url, const std::wstring& page) {
  if (IsPage(url, page)) return TFetch::Page;
  constexpr wchar_t kData[] = L"data:";
  constexpr int kDataLength = static_cast<int>(std::size(kData)) - 1;
  if (url.size() > static_cast<size_t>(kDataLength) &&
      CompareStringOrdinal(url.c_str(), kDataLength, kData, kDataLength, TRUE) == CSTR_EQUAL) {
    return TFetch::Embedded;
  }
  return TFetch::Outside;
}

// URL actions refused even for the page and its embedded data: running or fetching active
// content, downloads, forms, frames and fonts, the shell, the network's credentials and cookies,
// Java, channels and behaviours. The rest (how the page is drawn) keeps the system's answer.
bool RefusedOnThePage(DWORD action) {
  struct Range {
    DWORD first, last;
  };
  static constexpr Range kRefused[] = {
      {URLACTION_DOWNLOAD_MIN, URLACTION_DOWNLOAD_MAX},
      {URLACTION_ACTIVEX_MIN, URLACTION_ACTIVEX_MAX},
      {URLACTION_SCRIPT_MIN, URLACTION_SCRIPT_MAX},
      {URLACTION_HTML_MIN, URLACTION_HTML_MAX},
      {URLACTION_SHELL_MIN, URLACTION_SHELL_MAX},
      {URLACTION_NETWORK_MIN, URLACTION_NETWORK_MAX},
      {URLACTION_JAVA_MIN, URLACTION_JAVA_MAX},
      {URLACTION_INFODELIVERY_MIN, URLACTION_INFODELIVERY_MAX},
      {URLACTION_CHANNEL_SOFTDIST_MIN, URLACTION_CHANNEL_SOFTDIST_MAX},
      {URLACTION_BEHAVIOR_MIN, URLACTION_BEHAVIOR_MIN + 0xFF},
      {URLACTION_AUTOMATIC_DOWNLOAD_UI_MIN, URLACTION_AUTOMATIC_DOWNLOAD_UI_MIN + 0xFF},
      {URLACTION_ALLOW_RESTRICTEDPROTOCOLS, URLACTION_ALLOW_RESTRICTEDPROTOCOLS},
  };
  for (const Range& r : kRefused)
    if (action >= r.first && action <= r.last) return true;
  return false;
}

// The argument of an event, by its position from the first (DISPPARAMS holds them backwards).
VARIANT* EventArgument(const DISPPARAMS* params, UINT index, UINT count) {
  if (!params || params->cArgs != count || index >= count) return nullptr;
  return &params->rgvarg[count - 1 - index];
}

// Sets an event's by-reference VARIANT_BOOL Cancel argument.
void CancelEvent(VARIANT* cancel) {
  if (cancel && V_VT(cancel) == (VT_BYREF | VT_BOOL) && V_BOOLREF(cancel)) *V_BOOLREF(cancel) = VARIANT_TRUE;
}

}  // namespace

class TBrowserSite final : public IOleClientSite,
                           public IOleInPlaceSite,
                           public IOleInPlaceFrame,
                           public IDocHostUIHandler,
                           public IServiceProvider,
                           public IInternetSecurityManager,
                           public TUntypedDispatch<IDispatch> {
 public:
  explicit TBrowserSite(HWND host) : FHost(host) {}
  TBrowserSite(const TBrowserSite&) = delete;
  TBrowserSite& operator=(const TBrowserSite&) = delete;

  // Makes the browser control and activates it in place in the host window.
  bool Open() {
    SetBrowserFeatures();
    if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, FObject.PutVoid())) ||
        !FObject) {
      return false;
    }
    if (FAILED(FObject->SetClientSite(static_cast<IOleClientSite*>(this)))) return false;
    OleSetContainedObject(FObject.Get(), TRUE);
    // Without the events nothing could stop the page from leading elsewhere: no browser then.
    if (const auto points = FObject.As<IConnectionPointContainer>()) {
      points->FindConnectionPoint(DIID_DWebBrowserEvents2, FEvents.Put());
    }
    if (!FEvents || FAILED(FEvents->Advise(static_cast<IDispatch*>(this), &FEventsCookie))) {
      FEvents.Reset();
      return false;
    }
    RECT rc = ClientRect();
    if (FAILED(FObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(this), 0, FHost,
                               &rc))) {
      return false;
    }
    FBrowser = FObject.As<IWebBrowser2>();
    if (!FBrowser) return false;
    // No script error boxes or other dialogs of the browser; the window takes no drops.
    FBrowser->put_Silent(VARIANT_TRUE);
    FBrowser->put_RegisterAsDropTarget(VARIANT_FALSE);
    Resize();
    return true;
  }

  // Deactivates and lets go of the control; the site itself is freed by the last Release.
  void Close() {
    if (FEvents) {
      FEvents->Unadvise(FEventsCookie);
      FEvents.Reset();
    }
    if (FBrowser) {
      FBrowser->Stop();
      FBrowser.Reset();
    }
    if (FObject) {
      if (const auto inPlace = FObject.As<IOleInPlaceObject>()) inPlace->InPlaceDeactivate();
      FObject->Close(OLECLOSE_NOSAVE);
      FObject->SetClientSite(nullptr);
      OleSetContainedObject(FObject.Get(), FALSE);
      FObject.Reset();
    }
    FHost = nullptr;
  }

  bool Navigate(const std::wstring& path) {
    FPage = path;
    if (!FBrowser) return false;
    const Sys::TBstr url(SysAllocStringLen(path.data(), static_cast<UINT>(path.size())));
    if (!url) return false;
    VARIANT none;
    VariantInit(&none);
    return SUCCEEDED(FBrowser->Navigate(url.Get(), &none, &none, &none, &none));
  }

  std::wstring LocationUrl() const {
    std::wstring result;
    Sys::TBstr url;
    if (FBrowser && SUCCEEDED(FBrowser->get_LocationURL(url.Put())) && url) result.assign(url.Get(), SysStringLen(url.Get()));
    return result;
  }

  Sys::TComPtr<IUnknown> Object() const { return FObject.As<IUnknown>(); }

  // The control's own window, the first child of the host.
  HWND Window() const { return FHost ? ::GetWindow(FHost, GW_CHILD) : nullptr; }

  // Fits the control to the host's client area.
  void Resize() {
    if (!FObject) return;
    RECT rc = ClientRect();
    if (const auto inPlace = FObject.As<IOleInPlaceObject>()) inPlace->SetObjectRects(&rc, &rc);
  }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite)) {
      *out = static_cast<IOleClientSite*>(this);
    } else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceSite)) {
      *out = static_cast<IOleInPlaceSite*>(this);
    } else if (IsEqualIID(riid, IID_IOleInPlaceUIWindow) || IsEqualIID(riid, IID_IOleInPlaceFrame)) {
      *out = static_cast<IOleInPlaceFrame*>(this);
    } else if (IsEqualIID(riid, IID_IDocHostUIHandler)) {
      *out = static_cast<IDocHostUIHandler*>(this);
    } else if (IsEqualIID(riid, IID_IServiceProvider)) {
      *out = static_cast<IServiceProvider*>(this);
    } else if (IsEqualIID(riid, IID_IInternetSecurityManager)) {
      *out = static_cast<IInternetSecurityManager*>(this);
    } else if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, DIID_DWebBrowserEvents2)) {
      *out = static_cast<IDispatch*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&FRefs)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG refs = InterlockedDecrement(&FRefs);
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
  }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** out) override {
    if (out) *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (of the in-place site and the frame)
  STDMETHODIMP GetWindow(HWND* out) override {
    if (!out) return E_POINTER;
    *out = FHost;
    return FHost ? S_OK : E_FAIL;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return FHost ? S_OK : S_FALSE; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
                                LPOLEINPLACEFRAMEINFO info) override {
    if (frame) {
      *frame = static_cast<IOleInPlaceFrame*>(this);
      AddRef();
    }
    if (doc) *doc = nullptr;
    const RECT rc = ClientRect();
    if (pos) *pos = rc;
    if (clip) *clip = rc;
    if (info) {
      info->fMDIApp = FALSE;
      info->hwndFrame = FHost ? GetAncestor(FHost, GA_ROOT) : nullptr;
      info->haccel = nullptr;
      info->cAccelEntries = 0;
    }
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
  STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
  STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override {
    // The host decides the size: the control always fills it.
    Resize();
    return S_OK;
  }

  // IOleInPlaceUIWindow, IOleInPlaceFrame: no tool space, menus or status line to share.
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IDocHostUIHandler
  STDMETHODIMP ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override { return S_OK; }
  STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override {
    if (!info) return E_POINTER;
    info->dwFlags = kHostFlags;
    info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    info->pchHostCss = CoTaskCopy(kHostCss);
    info->pchHostNS = nullptr;
    return S_OK;
  }
  STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                      IOleInPlaceUIWindow*) override {
    return S_OK;
  }
  STDMETHODIMP HideUI() override { return S_OK; }
  STDMETHODIMP UpdateUI() override { return S_OK; }
  STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, const GUID*, DWORD) override { return S_FALSE; }
  STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD) override {
    if (key) *key = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP GetDropTarget(IDropTarget*, IDropTarget** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetExternal(IDispatch** out) override {
    if (out) *out = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP TranslateUrl(DWORD, LPWSTR, LPWSTR* out) override {
    if (out) *out = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP FilterDataObject(IDataObject*, IDataObject** out) override {
    if (out) *out = nullptr;
    return S_FALSE;
  }

  // IServiceProvider: the site offers the browser its security manager and nothing else.
  STDMETHODIMP QueryService(REFGUID service, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualGUID(service, SID_SInternetSecurityManager)) return E_NOINTERFACE;
    return QueryInterface(riid, out);
  }

  // IInternetSecurityManager. INET_E_DEFAULT_ACTION hands a question to the system's manager.
  STDMETHODIMP SetSecuritySite(IInternetSecurityMgrSite*) override { return INET_E_DEFAULT_ACTION; }
  STDMETHODIMP GetSecuritySite(IInternetSecurityMgrSite** out) override {
    if (out) *out = nullptr;
    return INET_E_DEFAULT_ACTION;
  }
  STDMETHODIMP MapUrlToZone(LPCWSTR url, DWORD* zone, DWORD) override {
    if (!zone) return E_POINTER;
    if (url && ClassifyFetch(url, FPage) != TFetch::Outside) return INET_E_DEFAULT_ACTION;
    *zone = URLZONE_UNTRUSTED;
    return S_OK;
  }
  STDMETHODIMP GetSecurityId(LPCWSTR, BYTE*, DWORD*, DWORD_PTR) override { return INET_E_DEFAULT_ACTION; }
  STDMETHODIMP ProcessUrlAction(LPCWSTR url, DWORD action, BYTE* policy, DWORD policySize, BYTE*, DWORD, DWORD,
                                DWORD) override {
    if (url && ClassifyFetch(url, FPage) != TFetch::Outside && !RefusedOnThePage(action)) {
      return INET_E_DEFAULT_ACTION;
    }
    if (policy && policySize >= sizeof(DWORD)) {
      const DWORD refused = URLPOLICY_DISALLOW;
      std::memcpy(policy, &refused, sizeof refused);
    }
    return S_FALSE;
  }
  STDMETHODIMP QueryCustomPolicy(LPCWSTR url, REFGUID, BYTE** policy, DWORD* policySize, BYTE*, DWORD,
                                 DWORD) override {
    if (!policy || !policySize) return E_POINTER;
    *policy = nullptr;
    *policySize = 0;
    if (url && ClassifyFetch(url, FPage) != TFetch::Outside) return INET_E_DEFAULT_ACTION;
    auto* answer = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(DWORD)));
    if (!answer) return E_OUTOFMEMORY;
    const DWORD refused = URLPOLICY_DISALLOW;
    std::memcpy(answer, &refused, sizeof refused);
    *policy = answer;
    *policySize = sizeof refused;
    return S_OK;
  }
  STDMETHODIMP SetZoneMapping(DWORD, LPCWSTR, DWORD) override { return INET_E_DEFAULT_ACTION; }
  STDMETHODIMP GetZoneMappings(DWORD, IEnumString** out, DWORD) override {
    if (out) *out = nullptr;
    return INET_E_DEFAULT_ACTION;
  }

  // IDispatch: the ambient properties the browser asks its site for, and the browser's events.
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                      UINT*) override {
    switch (id) {
      case DISPID_AMBIENT_DLCONTROL:
        if (!result) return E_POINTER;
        VariantInit(result);
        V_VT(result) = VT_I4;
        V_I4(result) = kBrowserDownloadControl;
        return S_OK;
      case DISPID_BEFORENAVIGATE2: {
        // (pDisp, URL, Flags, TargetFrameName, PostData, Headers, Cancel)
        const VARIANT* url = EventArgument(params, 1, 7);
        std::wstring target;
        if (url && V_VT(url) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(url)) url = V_VARIANTREF(url);
        if (url && V_VT(url) == VT_BSTR && V_BSTR(url)) target.assign(V_BSTR(url), SysStringLen(V_BSTR(url)));
        if (!IsPage(target, FPage)) {
          CancelEvent(EventArgument(params, 6, 7));
          NavigationCancelled();
        }
        return S_OK;
      }
      case DISPID_NEWWINDOW2:  // (ppDisp, Cancel)
        CancelEvent(EventArgument(params, 1, 2));
        NavigationCancelled();
        return S_OK;
      case DISPID_NEWWINDOW3:  // (ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl)
        CancelEvent(EventArgument(params, 1, 5));
        NavigationCancelled();
        return S_OK;
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

 private:
  ~TBrowserSite() = default;

  void NavigationCancelled() {
#ifdef MORVANE_TEST_HOOKS
    // Lets tests see from outside how many navigations and new windows were refused.
    if (FHost) {
      SetPropW(FHost, L"MorvaneCancelledNavigations",
               reinterpret_cast<HANDLE>(reinterpret_cast<INT_PTR>(GetPropW(FHost, L"MorvaneCancelledNavigations")) + 1));
    }
#endif
  }

  RECT ClientRect() const {
    RECT rc{};
    if (FHost) GetClientRect(FHost, &rc);
    return rc;
  }

  LONG FRefs = 1;
  HWND FHost;
  Sys::TComPtr<IOleObject> FObject;
  Sys::TComPtr<IWebBrowser2> FBrowser;
  Sys::TComPtr<IConnectionPoint> FEvents;
  DWORD FEventsCookie = 0;
  std::wstring FPage;  // the one page the browser may open
};

// ---------------------------------------------------------------------------------------------
// TsWebBrowser

TsWebBrowser::TsWebBrowser() = default;

TsWebBrowser::~TsWebBrowser() { CloseBrowser(); }

void TsWebBrowser::Create(HWND parent, int id) { CreateControl(L"TsWebBrowser", parent, id, 0); }

void TsWebBrowser::CloseBrowser() {
  if (!FSite) return;
  // Cut the link first: closing may send messages back to this window.
  const Sys::TComPtr<TBrowserSite> site = std::move(FSite);
  site->Close();
}

void TsWebBrowser::Navigate(const std::wstring& path) {
  FPath = path;
  if (!FHandle) return;
  SetWindowTextW(FHandle, path.c_str());
  if (!FSite && !FBrowserFailed) {
    FSite.Reset(new TBrowserSite(FHandle));
    if (!FSite->Open()) {
      // No browser control on this system: the view stays an empty area.
      CloseBrowser();
      FBrowserFailed = true;
    }
  }
  if (FSite) FSite->Navigate(path);
}

bool TsWebBrowser::BrowserHosted() const { return static_cast<bool>(FSite); }

std::wstring TsWebBrowser::BrowserLocationUrl() const { return FSite ? FSite->LocationUrl() : std::wstring(); }

Sys::TComPtr<IUnknown> TsWebBrowser::BrowserObject() const { return FSite ? FSite->Object() : Sys::TComPtr<IUnknown>(); }

HWND TsWebBrowser::BrowserWindow() const { return FSite ? FSite->Window() : nullptr; }

LRESULT TsWebBrowser::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_SETCURSOR:
      if (LOWORD(lParam) == HTCLIENT) {
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        return TRUE;
      }
      break;
    case WM_SIZE:
      if (FSite) FSite->Resize();
      return 0;
    case WM_DESTROY:
      CloseBrowser();
      break;
    default:
      break;
  }
  return TControl::WndProc(msg, wParam, lParam);
}

}  // namespace Skin
