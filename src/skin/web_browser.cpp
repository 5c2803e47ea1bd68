// The web view: a minimal OLE container for the system's web browser control.
//
// The container is one object, TBrowserSite, that is the control's client site, in-place site,
// in-place frame and document host. The last of these is what lets the host set how pages are
// shown (IDocHostUIHandler::GetHostInfo): no scroll bars, no 3-D border, the arrow cursor
// through a host style sheet, and no context menu.
#include <windows.h>
#include <exdisp.h>
#include <mshtmhst.h>
#include <ole2.h>

#include <cstring>
#include <string>

#include "skin/controls.h"
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

// A hosted browser control renders in the oldest document mode unless the program asks for a
// newer one, and that mode ignores "white-space: pre-wrap": plain release notes would lose their
// line breaks. This asks for the current mode for the program's own file name (per user, no
// elevation); a failure leaves the old mode.
void UseCurrentDocumentMode() {
  wchar_t path[MAX_PATH * 2] = {};
  const DWORD len = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  if (len == 0 || len >= std::size(path)) return;
  const std::wstring name = ExtractFileName(std::wstring_view(path, len));
  Sys::TRegKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER,
                      L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION", 0,
                      nullptr, 0, KEY_SET_VALUE, nullptr, key.Put(), nullptr) != ERROR_SUCCESS)
    return;
  const DWORD mode = kBrowserDocumentMode;
  RegSetValueExW(key.Get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mode), sizeof mode);
}

}  // namespace

class TBrowserSite final : public IOleClientSite,
                           public IOleInPlaceSite,
                           public IOleInPlaceFrame,
                           public IDocHostUIHandler {
 public:
  explicit TBrowserSite(HWND host) : FHost(host) {}
  TBrowserSite(const TBrowserSite&) = delete;
  TBrowserSite& operator=(const TBrowserSite&) = delete;

  // Makes the browser control and activates it in place in the host window.
  bool Open() {
    UseCurrentDocumentMode();
    if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, FObject.PutVoid())) ||
        !FObject) {
      return false;
    }
    if (FAILED(FObject->SetClientSite(static_cast<IOleClientSite*>(this)))) return false;
    OleSetContainedObject(FObject.Get(), TRUE);
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

 private:
  ~TBrowserSite() = default;

  RECT ClientRect() const {
    RECT rc{};
    if (FHost) GetClientRect(FHost, &rc);
    return rc;
  }

  LONG FRefs = 1;
  HWND FHost;
  Sys::TComPtr<IOleObject> FObject;
  Sys::TComPtr<IWebBrowser2> FBrowser;
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
