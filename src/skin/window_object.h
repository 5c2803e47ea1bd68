// The window procedure shared by the program's window classes: it finds the C++ object behind a
// window and hands it the message.
//
// The object passes itself as the creation parameter (lpParam of CreateWindowExW). From
// WM_NCCREATE on, the window's GWLP_USERDATA holds the object and the object's handle field
// holds the window; at WM_NCDESTROY both links are cut, so neither side is left with a stale
// pointer. Messages that arrive before WM_NCCREATE, or after an owner cleared GWLP_USERDATA
// (its destructor does so before DestroyWindow), go to DefWindowProcW.
#pragma once

#include <windows.h>

namespace Skin {

template <class T>
LRESULT WindowObjectProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, HWND T::*handle,
                         LRESULT (T::*proc)(UINT, WPARAM, LPARAM)) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    if (self) {
      self->*handle = hwnd;
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
  }
  auto* self = reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, msg, wParam, lParam);
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->*handle = nullptr;
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  return (self->*proc)(msg, wParam, lParam);
}

}  // namespace Skin
