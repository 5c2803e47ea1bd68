// IDispatch's type-information half for the skin's COM objects, which carry no type library:
// their clients call the interface's own methods (IAccessible) or Invoke with known DISPIDs
// (ambient properties, browser events).
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace Skin {

template <class I>
class TUntypedDispatch : public I {
 public:
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
};

}  // namespace Skin
