// Move-only owners for everything the program acquires from the system: each releases its
// resource on every path out of the scope that holds it, exceptions included.
//
//   TKernelHandle     CloseHandle, empty when NULL (threads, events, processes, mutexes)
//   TFileHandle       CloseHandle, empty when INVALID_HANDLE_VALUE (CreateFileW, snapshots)
//   TFindHandle       FindClose
//   TWinHttpHandle    WinHttpCloseHandle (sessions, connections, requests)
//   TRegKey           RegCloseKey
//   TGlobalMemory     GlobalFree
//   TLocalMemory      LocalFree (FormatMessage's buffers)
//   TGdiObject<T>     DeleteObject (fonts, bitmaps, brushes, pens, regions)
//   TIcon             DestroyIcon
//   TMemoryDC         DeleteDC
//   TWindowDC         ReleaseDC
//   TSelectObject     selects an object into a DC and selects the old one back
//   TModule           FreeLibrary
//   TCngAlgorithm     BCryptCloseAlgorithmProvider
//   TCngHash          BCryptDestroyHash
//   TComPtr<I>        IUnknown::Release
//   TBstr             SysFreeString (BSTR texts handed to or received from COM)
//   TComInit          CoInitialize / CoUninitialize around a scope
//   TScopeExit        runs a procedure when the scope ends
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <winhttp.h>
#include <bcrypt.h>

#include <utility>

namespace Sys {

// The one owner template: Traits gives the empty value and the release call.
template <typename Traits>
class TOwned {
 public:
  using Handle = typename Traits::Handle;

  TOwned() noexcept = default;
  explicit TOwned(Handle h) noexcept : FHandle(h) {}
  ~TOwned() { Reset(); }
  TOwned(TOwned&& other) noexcept : FHandle(other.Release()) {}
  TOwned& operator=(TOwned&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  TOwned(const TOwned&) = delete;
  TOwned& operator=(const TOwned&) = delete;

  Handle Get() const noexcept { return FHandle; }
  explicit operator bool() const noexcept { return FHandle != Traits::Empty(); }
  // Gives the handle up without releasing it.
  Handle Release() noexcept { return std::exchange(FHandle, Traits::Empty()); }
  void Reset(Handle h = Traits::Empty()) noexcept {
    const Handle old = std::exchange(FHandle, h);
    if (old != Traits::Empty()) Traits::Close(old);
  }
  // For out-parameters: releases what is held and hands out the place to write to.
  Handle* Put() noexcept {
    Reset();
    return &FHandle;
  }

 private:
  Handle FHandle = Traits::Empty();
};

namespace Traits {
// Handles whose empty value is NULL.
template <typename H, auto CloseFn>
struct Null {
  using Handle = H;
  static Handle Empty() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { CloseFn(h); }
};
// Handles whose empty value is INVALID_HANDLE_VALUE (files, snapshots, searches).
template <auto CloseFn>
struct Invalid {
  using Handle = HANDLE;
  static Handle Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) noexcept { CloseFn(h); }
};
inline void CloseCngAlgorithm(BCRYPT_ALG_HANDLE h) noexcept { BCryptCloseAlgorithmProvider(h, 0); }
}  // namespace Traits

using TKernelHandle = TOwned<Traits::Null<HANDLE, &CloseHandle>>;
using TFileHandle = TOwned<Traits::Invalid<&CloseHandle>>;
using TFindHandle = TOwned<Traits::Invalid<&FindClose>>;
using TWinHttpHandle = TOwned<Traits::Null<HINTERNET, &WinHttpCloseHandle>>;
using TRegKey = TOwned<Traits::Null<HKEY, &RegCloseKey>>;
using TGlobalMemory = TOwned<Traits::Null<HGLOBAL, &GlobalFree>>;
using TLocalMemory = TOwned<Traits::Null<HLOCAL, &LocalFree>>;
template <typename T>
using TGdiObject = TOwned<Traits::Null<T, &DeleteObject>>;
using TFont = TGdiObject<HFONT>;
using TBitmap = TGdiObject<HBITMAP>;
using TBrush = TGdiObject<HBRUSH>;
using TPen = TGdiObject<HPEN>;
using TRegion = TGdiObject<HRGN>;
using TIcon = TOwned<Traits::Null<HICON, &DestroyIcon>>;
using TMemoryDC = TOwned<Traits::Null<HDC, &DeleteDC>>;
using TModule = TOwned<Traits::Null<HMODULE, &FreeLibrary>>;
using TCngAlgorithm = TOwned<Traits::Null<BCRYPT_ALG_HANDLE, &Traits::CloseCngAlgorithm>>;
using TCngHash = TOwned<Traits::Null<BCRYPT_HASH_HANDLE, &BCryptDestroyHash>>;
using TBstr = TOwned<Traits::Null<BSTR, &SysFreeString>>;

// A window's device context, given back to the window it came from.
class TWindowDC {
 public:
  explicit TWindowDC(HWND window) noexcept : FWindow(window), FDC(GetDC(window)) {}
  ~TWindowDC() {
    if (FDC) ReleaseDC(FWindow, FDC);
  }
  TWindowDC(const TWindowDC&) = delete;
  TWindowDC& operator=(const TWindowDC&) = delete;
  HDC Get() const noexcept { return FDC; }
  explicit operator bool() const noexcept { return FDC != nullptr; }

 private:
  HWND FWindow;
  HDC FDC;
};

// Selects an object into a device context for the scope and selects the previous one back.
class TSelectObject {
 public:
  TSelectObject(HDC dc, HGDIOBJ object) noexcept : FDC(dc), FOld(object ? SelectObject(dc, object) : nullptr) {}
  ~TSelectObject() {
    if (FOld) SelectObject(FDC, FOld);
  }
  TSelectObject(const TSelectObject&) = delete;
  TSelectObject& operator=(const TSelectObject&) = delete;

 private:
  HDC FDC;
  HGDIOBJ FOld;
};

// Owns one reference to a COM interface.
template <typename I>
class TComPtr {
 public:
  TComPtr() noexcept = default;
  // Takes over a reference the caller already owns.
  explicit TComPtr(I* p) noexcept : FPtr(p) {}
  ~TComPtr() { Reset(); }
  TComPtr(const TComPtr& other) noexcept : FPtr(other.FPtr) {
    if (FPtr) FPtr->AddRef();
  }
  TComPtr& operator=(const TComPtr& other) noexcept {
    if (this != &other) {
      if (other.FPtr) other.FPtr->AddRef();
      Reset(other.FPtr);
    }
    return *this;
  }
  TComPtr(TComPtr&& other) noexcept : FPtr(std::exchange(other.FPtr, nullptr)) {}
  TComPtr& operator=(TComPtr&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.FPtr, nullptr));
    return *this;
  }

  I* Get() const noexcept { return FPtr; }
  I* operator->() const noexcept { return FPtr; }
  explicit operator bool() const noexcept { return FPtr != nullptr; }
  // Releases the reference held and hands out the place to write a new one to.
  I** Put() noexcept {
    Reset();
    return &FPtr;
  }
  void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }
  // Gives the reference up without releasing it.
  I* Detach() noexcept { return std::exchange(FPtr, nullptr); }
  void Reset(I* p = nullptr) noexcept {
    I* old = std::exchange(FPtr, p);
    if (old) old->Release();
  }
  // A new reference of another interface of the same object, or an empty pointer.
  template <typename J>
  TComPtr<J> As() const noexcept {
    TComPtr<J> result;
    if (FPtr) FPtr->QueryInterface(__uuidof(J), result.PutVoid());
    return result;
  }

 private:
  I* FPtr = nullptr;
};

// COM initialised for the calling thread for the lifetime of the scope.
class TComInit {
 public:
  TComInit() noexcept : FResult(CoInitialize(nullptr)) {}
  ~TComInit() {
    if (SUCCEEDED(FResult)) CoUninitialize();
  }
  TComInit(const TComInit&) = delete;
  TComInit& operator=(const TComInit&) = delete;
  HRESULT Result() const noexcept { return FResult; }

 private:
  HRESULT FResult;
};

// Runs a procedure when the scope ends, unless dismissed.
template <typename F>
class TScopeExit {
 public:
  explicit TScopeExit(F f) noexcept : FProc(std::move(f)) {}
  ~TScopeExit() {
    if (FActive) FProc();
  }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;
  void Dismiss() noexcept { FActive = false; }

 private:
  F FProc;
  bool FActive = true;
};

}  // namespace Sys
