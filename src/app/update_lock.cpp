#include "app/update_lock.h"

#include <memory>
#include <thread>

#include "app/published_version.h"
#include "system/errors.h"
#include "system/install_lock.h"
#include "system/install_transaction.h"
#include "system/main_queue.h"
#include "system/win_error.h"

namespace {
// The lock while this launcher updates; empty otherwise.
std::unique_ptr<TInstallLock> HeldLock;

// After the other launcher has finished: the version once more, without stopping anything.
void CheckAgain(TLauncherWindow& window, const std::wstring& productFolder) {
  if (window.Closed()) return;
  window.lblStatus.SetText(L"Проверка версии...");
  try {
    {
      TInstallLock lock(productFolder);
      // Yet another launcher took over meanwhile: wait for that one as well.
      if (!lock.TryAcquire()) {
        WaitForUpdateElsewhere(window, productFolder);
        return;
      }
      // The other launcher may have been killed in the middle of its installation: what it
      // left is undone first, as a start would, before the installed version is read.
      UndoInterruptedInstall(productFolder);
    }
    switch (CheckPublishedRelease(window)) {
      case TPublishedRelease::Blank:
        window.lblStatus.SetText(L"Не удалось получить версию обновления.");
        return;
      case TPublishedRelease::Newer:
        // The other launcher did not install it: the button is offered again.
        window.btnUpdate.SetEnabled(true);
        window.lblStatus.SetText(L"Нажмите на кнопку для начала установки");
        return;
      case TPublishedRelease::NotNewer:
        window.btnUpdate.SetEnabled(true);
        window.lblStatus.SetText(L"Актуальная версия уже установлена");
        return;
    }
  } catch (...) {
    window.btnUpdate.SetEnabled(true);
    window.lblStatus.SetText(L"Ошибка: " + CurrentExceptionText());
  }
}
}  // namespace

bool TakeUpdateLock(const std::wstring& productFolder) {
  if (HeldLock) return true;
  auto lock = std::make_unique<TInstallLock>(productFolder);
  if (!lock->TryAcquire()) return false;
  HeldLock = std::move(lock);
  return true;
}

void ReleaseUpdateLock() { HeldLock.reset(); }

bool UpdateRunsElsewhere(const std::wstring& productFolder) {
  if (HeldLock) return false;
  TInstallLock lock(productFolder);
  return !lock.TryAcquire();
}

void WaitForUpdateElsewhere(TLauncherWindow& window, const std::wstring& productFolder) {
  window.btnUpdate.SetEnabled(false);
  window.lblStatus.SetText(kUpdateRunsElsewhere);
  window.ProgressBar.SetVisible(false);
  TLauncherWindow* shown = &window;
  std::thread([shown, productFolder] {
    try {
      TInstallLock::WaitUntilFree(productFolder);
    } catch (...) {
      DebugReportCurrentException(L"waiting for another launcher");
    }
    // Dropped when the window has closed meanwhile (the queue is stopped then).
    MainQueue::Post([shown, productFolder] { CheckAgain(*shown, productFolder); });
  }).detach();
}
