#include "system/pumping_wait.h"

#include <windows.h>

#include "system/main_queue.h"

namespace Sys {

bool PumpingWait(uint32_t ms) {
  if (!MainQueue::IsMainThread()) {
    Sleep(ms);
    return true;
  }
  const ULONGLONG until = GetTickCount64() + ms;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return false;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    MainQueue::RunPending();
    const ULONGLONG now = GetTickCount64();
    if (now >= until) return true;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(until - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

}  // namespace Sys
