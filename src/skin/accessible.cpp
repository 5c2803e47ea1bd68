#include "skin/accessible.h"

#include <oleacc.h>

#include <string>

#include "skin/controls.h"
#include "skin/untyped_dispatch.h"
#include "system/dll_search.h"
#include "system/handles.h"

namespace Skin {

namespace {

// oleacc is not one of the system's known DLLs: it is loaded by the system folder's full path, never
// from the program's folder, and only once a client asks for an accessible object.
template <typename F>
F OleaccProc(const char* name) {
  static const Sys::TModule oleacc(Sys::LoadSystemLibrary(L"oleacc.dll"));
  return oleacc ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(oleacc.Get(), name))) : nullptr;
}

class TAccessible final : public TUntypedDispatch<IAccessible> {
 public:
  explicit TAccessible(HWND hwnd) : FHandle(hwnd) {}
  TAccessible(const TAccessible&) = delete;
  TAccessible& operator=(const TAccessible&) = delete;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IAccessible)) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&FRefs)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG refs = InterlockedDecrement(&FRefs);
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
  }

  // IDispatch: clients call IAccessible's methods directly.
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

  // IAccessible
  STDMETHODIMP get_accParent(IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!Control()) return CO_E_OBJNOTCONNECTED;
    // The window object of the same window, as the system's own objects have it.
    using CreateStdFn = HRESULT(WINAPI*)(HWND, LONG, REFIID, void**);
    const auto create = OleaccProc<CreateStdFn>("CreateStdAccessibleObject");
    if (!create) return E_FAIL;
    return create(FHandle, OBJID_WINDOW, IID_IDispatch, reinterpret_cast<void**>(out));
  }
  STDMETHODIMP get_accChildCount(long* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return Control() ? S_OK : CO_E_OBJNOTCONNECTED;
  }
  STDMETHODIMP get_accChild(VARIANT, IDispatch** out) override {
    if (out) *out = nullptr;
    return E_INVALIDARG;
  }
  STDMETHODIMP get_accName(VARIANT child, BSTR* out) override {
    return Text(child, out, [](const TControl& c) { return c.AccessibleName(); });
  }
  STDMETHODIMP get_accValue(VARIANT child, BSTR* out) override {
    return Text(child, out, [](const TControl& c) { return c.AccessibleValue(); });
  }
  STDMETHODIMP get_accDescription(VARIANT child, BSTR* out) override {
    return Text(child, out, [](const TControl&) { return std::wstring(); });
  }
  STDMETHODIMP get_accRole(VARIANT child, VARIANT* out) override {
    return Number(child, out, [](const TControl& c) { return c.AccessibleRole(); });
  }
  STDMETHODIMP get_accState(VARIANT child, VARIANT* out) override {
    return Number(child, out, [](const TControl& c) { return c.AccessibleState(); });
  }
  STDMETHODIMP get_accHelp(VARIANT child, BSTR* out) override {
    return Text(child, out, [](const TControl&) { return std::wstring(); });
  }
  STDMETHODIMP get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
    if (file) *file = nullptr;
    if (topic) *topic = 0;
    return DISP_E_MEMBERNOTFOUND;
  }
  STDMETHODIMP get_accKeyboardShortcut(VARIANT child, BSTR* out) override {
    return Text(child, out, [](const TControl&) { return std::wstring(); });
  }
  STDMETHODIMP get_accFocus(VARIANT* out) override {
    if (!out) return E_POINTER;
    VariantInit(out);
    if (!Control()) return CO_E_OBJNOTCONNECTED;
    if (GetFocus() != FHandle) return S_FALSE;
    V_VT(out) = VT_I4;
    V_I4(out) = CHILDID_SELF;
    return S_OK;
  }
  STDMETHODIMP get_accSelection(VARIANT* out) override {
    if (!out) return E_POINTER;
    VariantInit(out);
    return Control() ? S_FALSE : CO_E_OBJNOTCONNECTED;
  }
  STDMETHODIMP get_accDefaultAction(VARIANT child, BSTR* out) override {
    return Text(child, out, [](const TControl& c) { return c.AccessibleDefaultAction(); });
  }
  STDMETHODIMP accSelect(long flags, VARIANT child) override {
    if (!IsSelf(child)) return E_INVALIDARG;
    if (!Control()) return CO_E_OBJNOTCONNECTED;
    if (flags != SELFLAG_TAKEFOCUS) return DISP_E_MEMBERNOTFOUND;
    if (!(Control()->AccessibleState() & STATE_SYSTEM_FOCUSABLE)) return S_FALSE;
    SetFocus(FHandle);
    return S_OK;
  }
  STDMETHODIMP accLocation(long* left, long* top, long* width, long* height, VARIANT child) override {
    if (!left || !top || !width || !height) return E_POINTER;
    *left = *top = *width = *height = 0;
    if (!IsSelf(child)) return E_INVALIDARG;
    if (!Control()) return CO_E_OBJNOTCONNECTED;
    RECT rc{};
    GetWindowRect(FHandle, &rc);
    *left = rc.left;
    *top = rc.top;
    *width = rc.right - rc.left;
    *height = rc.bottom - rc.top;
    return S_OK;
  }
  STDMETHODIMP accNavigate(long, VARIANT, VARIANT* out) override {
    if (out) VariantInit(out);
    return S_FALSE;
  }
  STDMETHODIMP accHitTest(long x, long y, VARIANT* out) override {
    if (!out) return E_POINTER;
    VariantInit(out);
    if (!Control()) return CO_E_OBJNOTCONNECTED;
    RECT rc{};
    GetWindowRect(FHandle, &rc);
    if (!PtInRect(&rc, POINT{x, y})) return S_FALSE;
    V_VT(out) = VT_I4;
    V_I4(out) = CHILDID_SELF;
    return S_OK;
  }
  STDMETHODIMP accDoDefaultAction(VARIANT child) override {
    if (!IsSelf(child)) return E_INVALIDARG;
    TControl* c = Control();
    if (!c) return CO_E_OBJNOTCONNECTED;
    return c->DoAccessibleDefaultAction() ? S_OK : DISP_E_MEMBERNOTFOUND;
  }
  STDMETHODIMP put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

 private:
  ~TAccessible() = default;

  // The control behind the window, or null once the window is gone.
  TControl* Control() const {
    if (!IsWindow(FHandle)) return nullptr;
    return reinterpret_cast<TControl*>(GetWindowLongPtrW(FHandle, GWLP_USERDATA));
  }
  static bool IsSelf(const VARIANT& child) { return V_VT(&child) == VT_I4 && V_I4(&child) == CHILDID_SELF; }

  template <class F>
  HRESULT Text(const VARIANT& child, BSTR* out, F read) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsSelf(child)) return E_INVALIDARG;
    const TControl* c = Control();
    if (!c) return CO_E_OBJNOTCONNECTED;
    const std::wstring text = read(*c);
    if (text.empty()) return S_FALSE;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  template <class F>
  HRESULT Number(const VARIANT& child, VARIANT* out, F read) {
    if (!out) return E_POINTER;
    VariantInit(out);
    if (!IsSelf(child)) return E_INVALIDARG;
    const TControl* c = Control();
    if (!c) return CO_E_OBJNOTCONNECTED;
    V_VT(out) = VT_I4;
    V_I4(out) = read(*c);
    return S_OK;
  }

  LONG FRefs = 1;
  HWND FHandle;
};

}  // namespace

Sys::TComPtr<IAccessible> NewAccessibleObject(HWND hwnd) { return Sys::TComPtr<IAccessible>(new TAccessible(hwnd)); }

LRESULT AccessibleObjectResult(HWND hwnd, WPARAM wParam) {
  using LresultFn = LRESULT(WINAPI*)(REFIID, WPARAM, LPUNKNOWN);
  const auto lresult = OleaccProc<LresultFn>("LresultFromObject");
  if (!lresult) return 0;  // the system's default object then
  return lresult(IID_IAccessible, wParam, NewAccessibleObject(hwnd).Get());
}

void NotifyAccessibleEvent(DWORD event, HWND hwnd) {
  if (hwnd) NotifyWinEvent(event, hwnd, OBJID_CLIENT, CHILDID_SELF);
}

}  // namespace Skin
