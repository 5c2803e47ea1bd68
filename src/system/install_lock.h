// One installation of a product folder at a time, across all of the user's launchers: a named
// mutex in the session's own namespace, named after the folder's full path as the file system
// compares it. From the first write of a download to the end of its installation the launcher
// holds it; a process that ends in any way, killed or by a lost power, lets go of it.
//
// A mutex belongs to the thread that took it: take it and let go of it on the same thread (the
// main thread, for the launcher).
#pragma once

#include <windows.h>

#include <string>

#include "system/handles.h"

// The object's name for a product folder: one name for every spelling of the same folder
// (letter case, short names, a missing final "\").
std::wstring InstallLockName(const std::wstring& productFolder);

class TInstallLock {
 public:
  // Raises when the system cannot make the lock (a name that another kind of object holds).
  explicit TInstallLock(const std::wstring& productFolder);
  ~TInstallLock();
  TInstallLock(const TInstallLock&) = delete;
  TInstallLock& operator=(const TInstallLock&) = delete;

  // Takes the lock when no other thread holds it, without waiting. True also when the last
  // holder ended without letting go; Abandoned then says so.
  bool TryAcquire();
  // Lets go of a lock this object holds; nothing when it holds none.
  void Release();
  bool Held() const { return FHeld; }
  bool Abandoned() const { return FAbandoned; }

  // Blocks until no thread of any process holds the lock of that folder, then returns without
  // holding it. For a thread of its own: the main thread never waits here.
  static void WaitUntilFree(const std::wstring& productFolder);

 private:
  Sys::TKernelHandle FMutex;
  bool FHeld = false;
  bool FAbandoned = false;
};
