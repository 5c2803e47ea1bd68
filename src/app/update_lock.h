// Which launcher updates the product folder now. One at a time: the one that holds the folder's
// installation lock (system/install_lock.h) from its version check through the download to the
// end of the installation. The others stop nothing, download nothing and touch neither the
// archive nor the installation's record; a window that meets the lock says so and checks again
// once the other launcher has finished.
#pragma once

#include <string>

#include "app/launcher_window.h"

// The status a window shows while another launcher updates the product.
inline constexpr wchar_t kUpdateRunsElsewhere[] = L"Обновление уже выполняется в другом окне...";

// Main thread only. Takes the lock of the product folder for this launcher's update; false when
// another launcher holds it. Raises when the lock cannot be made at all.
bool TakeUpdateLock(const std::wstring& productFolder);
// Lets go of the lock this launcher took; nothing when it holds none. Main thread only.
void ReleaseUpdateLock();
// Whether another launcher updates the product folder at this moment (the lock is not kept).
bool UpdateRunsElsewhere(const std::wstring& productFolder);

// Shows that another launcher updates the product and waits for it on a thread of its own;
// when it has finished, the window checks the published version again (nothing is stopped):
// the current product gives "Актуальная версия уже установлена", a newer release offers the
// button again. The window stays responsive all the while.
void WaitForUpdateElsewhere(TLauncherWindow& window, const std::wstring& productFolder);
