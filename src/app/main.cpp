#include <windows.h>

#include "app/main_queue.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  MainQueue::Initialize();
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
