// The launcher end to end: Morvane.exe against the cloud-disk stand-in with the sample product.
#include <algorithm>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "launcher_fixture.h"

namespace {

using namespace e2e;

// Keys typed at whatever window is active, through the system's keyboard route (as a person
// types them): pressed in order, released in reverse order.
void TypeKeys(std::initializer_list<WORD> keys) {
  std::vector<INPUT> inputs;
  for (WORD key : keys) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = key;
    inputs.push_back(in);
  }
  for (auto it = keys.end(); it != keys.begin();) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = *--it;
    in.ki.dwFlags = KEYEVENTF_KEYUP;
    inputs.push_back(in);
  }
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// Waits until the window's thread has finished what it was doing (a message sent to it is
// answered only between two messages).
void Settle(HWND window) {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored);
}

TEST_F(Launcher, FirstInstallationExtractsLinksAndStartsTheProduct) {
  auto view = Open();
  EXPECT_EQ(view.StatusText(), L"Нажмите на кнопку для начала установки");
  EXPECT_EQ(view.ButtonText(), L"Установить");
  EXPECT_FALSE(view.GaugeVisible());
  view.Press();
  ASSERT_TRUE(FLauncher.WaitExit(120000));
  EXPECT_EQ(FLauncher.ExitCode(), 0u);
  for (const wchar_t* file : {L"Tandrel.exe", L"TandrelAI.exe", L"docs\\Changes.txt"})
    EXPECT_TRUE(PathExists(ProductDir() + file)) << EncodeUtf8(file);
  for (const wchar_t* gone : {L"Update.zip", L"Update.part0", L"Update.part1", L"Update.part2", L"Update.part3"})
    EXPECT_FALSE(PathExists(ProductDir() + gone)) << EncodeUtf8(gone);
  EXPECT_TRUE(PathExists(DesktopLink()));
  ASSERT_TRUE(WaitStarted());
  EXPECT_EQ(StartedLog(), L"Tandrel.exe|\r\n");  // started without parameters
}

TEST_F(Launcher, CurrentOrNewerInstallationIsLeftAloneButTheProductIsStopped) {
  for (const char* published : {"2.0.0.0\r\n", "1.0.0.0"}) {
    SCOPED_TRACE(published);
    Install(L"2.0.0.0");
    Publish(published);
    WriteFileBytes(ProductDir() + L"mode.txt", "stay");
    FOther = TProcess::Start(ProductDir() + L"Tandrel.exe", L"", {});
    ASSERT_TRUE(WaitUntil([&] { return !ProcessesNamed(L"Tandrel.exe").empty(); }));
    auto view = Open();
    view.Press();
    EXPECT_TRUE(WaitStatus(view, L"Актуальная версия уже установлена"));
    EXPECT_TRUE(view.ButtonEnabled());
    EXPECT_FALSE(view.GaugeVisible());
    EXPECT_TRUE(FOther.WaitExit(10000));
    FLauncher.Kill();
  }
}

TEST_F(Launcher, BlankPublishedVersionKeepsTheButtonDisabled) {
  Publish(" \r\n\t");
  auto view = Open();
  view.Press();
  EXPECT_TRUE(WaitStatus(view, L"Не удалось получить версию обновления."));
  EXPECT_FALSE(view.ButtonEnabled());
  // Enter and a click on the disabled button do nothing: no second check reaches the folder
  // before the window, closed after them, ends the program.
  const size_t listings = ListingRequests();
  view.PressEnter();
  TypeKeys({VK_RETURN});
  TypeKeys({VK_SPACE});
  view.Press();
  PostMessageW(view.Window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(FLauncher.WaitExit(20000));
  EXPECT_EQ(FLauncher.ExitCode(), 0u);
  EXPECT_EQ(ListingRequests(), listings);
}

TEST_F(Launcher, FailingListingIsReportedAndCanBeRetried) {
  struct Case {
    const char* config;
    std::wstring apiRoot;
    std::wstring expected;
  } cases[] = {
      {"{\"listing_status\":404}", L"", L"Ошибка: Получение списка файлов: HTTP ошибка 404"},
      {"{\"listing_status\":500}", L"", L"Ошибка: Получение списка файлов: HTTP ошибка 500"},
      {"{}", L"http://127.0.0.1:1", L"Ошибка: Error sending data: ("},
      // Hostile listings: nesting beyond reason, and paging that answers every offset with the
      // first page (version.txt is third of three, one entry a page).
      {"{\"listing_depth\":100000}", L"", L"Ошибка: Ошибка парсинга JSON"},
      {"{\"listing_limit\":1,\"paging_ignores_offset\":true}", L"",
       L"Ошибка: Сервер вернул не ту страницу списка файлов: запрошено смещение 1, получено 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    StandinReset();
    StandinConfig(c.config);
    auto view = Open(L"Morvane.exe", c.apiRoot);
    view.Press();
    ASSERT_TRUE(WaitStatus(view, c.expected)) << EncodeUtf8(view.StatusText());
    EXPECT_TRUE(view.ButtonEnabled());
    // Pressing again runs the whole command again, the listing request included.
    if (c.apiRoot.empty()) {
      const size_t before = ListingRequests();
      view.Press();
      EXPECT_TRUE(WaitUntil([&] { return ListingRequests() > before; }));
    } else {
      view.Press();
    }
    EXPECT_TRUE(WaitUntil([&] { return view.ButtonEnabled() && view.StatusText().rfind(c.expected, 0) == 0; }));
    FLauncher.Kill();
  }
}

// The keyboard after a command: the button that the press disabled is enabled again, and Enter
// typed at the active window (not posted to the button) runs the command once more.
TEST_F(Launcher, EnterTypedAfterTheCommandRunsItAgain) {
  struct Case {
    const char* config;
    bool installed;
    const wchar_t* expected;
  } cases[] = {
      {"{}", true, L"Актуальная версия уже установлена"},
      {"{\"listing_status\":500}", false, L"Ошибка: Получение списка файлов: HTTP ошибка 500"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    StandinReset();
    StandinConfig(c.config);
    if (c.installed) {
      Install(L"2.0.0.0");
      Publish("2.0.0.0");
    }
    auto view = Open();
    view.Press();
    ASSERT_TRUE(WaitStatus(view, c.expected)) << EncodeUtf8(view.StatusText());
    ASSERT_TRUE(WaitUntil([&] { return view.ButtonEnabled(); }));
    Settle(view.Window);
    for (int round = 0; round < 2; ++round) {
      const size_t before = ListingRequests();
      TypeKeys({VK_RETURN});
      EXPECT_TRUE(WaitUntil([&] { return ListingRequests() > before; })) << "round " << round;
      EXPECT_TRUE(WaitUntil([&] { return view.ButtonEnabled() && view.StatusText().rfind(c.expected, 0) == 0; }));
      Settle(view.Window);
    }
    FLauncher.Kill();
    RemoveTree(ProductDir());
  }
}

TEST_F(Launcher, AltF4ClosesTheWindowAsTheCloseBoxDoes) {
  auto view = Open();
  Settle(view.Window);
  TypeKeys({VK_MENU, VK_F4});
  ASSERT_TRUE(FLauncher.WaitExit(20000));
  EXPECT_EQ(FLauncher.ExitCode(), 0u);
}

TEST_F(Launcher, PartAnswered416FailsTheDownload) {
  StandinConfig("{\"range_status\":{\"part2\":416}}");
  auto view = Open();
  view.Press();
  ASSERT_TRUE(WaitStatus(view, L"Ошибка загрузки: Ошибка части 2: HTTP 416")) << EncodeUtf8(view.StatusText());
  EXPECT_FALSE(view.GaugeVisible());
  EXPECT_FALSE(view.ButtonEnabled());
}

TEST_F(Launcher, DownloadsThatRecoverStillInstall) {
  const int64_t size = static_cast<int64_t>(ReadFileBytes(FFolder + L"\\Tandrel.zip").size());
  const int64_t part1 = size / 4;
  const std::string wholePart1 = "bytes=" + std::to_string(part1) + "-" + std::to_string(2 * part1 - 1);
  struct Case {
    const char* config;
    std::string resumedRange;  // a GET that asks for the rest of a cut part; empty: none
    const wchar_t* stallWindowMs = nullptr;  // the stall guard's window, when shortened
  } cases[] = {
      // Part 1 cut after 1000 bytes once: its next request starts right after them.
      {"{\"close_once\":{\"part1\":1000}}",
       "bytes=" + std::to_string(part1 + 1000) + "-" + std::to_string(2 * part1 - 1)},
      // The download host refuses HEAD: the listing's size serves.
      {"{\"head_status\":405}", ""},
      // A redirect's page that stops halfway: none of it counts, part 1 is asked whole again.
      {"{\"redirect_stall_once\":{\"part1\":100}}", "", L"2000"},
      // Other bytes than asked, cut or whole: refused on their head, part 1 asked whole again.
      {"{\"wrong_range_once\":{\"part1\":0},\"close_once\":{\"part1\":100}}", wholePart1},
      {"{\"wrong_range_once\":{\"part1\":0},\"length_plus_once\":{\"part1\":1}}", wholePart1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    SetEnvironmentVariableW(L"MORVANE_STALL_WINDOW_MS", c.stallWindowMs);
    auto view = PressWith(c.config);
    SetEnvironmentVariableW(L"MORVANE_STALL_WINDOW_MS", nullptr);
    ASSERT_TRUE(FLauncher.WaitExit(120000)) << EncodeUtf8(view.StatusText());
    EXPECT_EQ(FLauncher.ExitCode(), 0u);
    EXPECT_TRUE(PathExists(ProductDir() + L"Tandrel.exe"));
    EXPECT_FALSE(PathExists(ProductDir() + L"Update.zip"));
    const std::vector<std::string> ranges = StorageRanges();
    if (!c.resumedRange.empty()) {
      EXPECT_EQ(ranges.size(), 5u);
      EXPECT_NE(std::find(ranges.begin(), ranges.end(), c.resumedRange), ranges.end()) << c.resumedRange;
    }
    ASSERT_TRUE(WaitStarted());
    TearDown();
  }
}

TEST_F(Launcher, WrongOrFailedDownloadsEndInTheirMessageWithNothingInstalled) {
  const int64_t size = static_cast<int64_t>(ReadFileBytes(FFolder + L"\\Tandrel.zip").size());
  const std::wstring checksum = L"Ошибка загрузки: Контрольная сумма скачанного архива (SHA-256) не совпадает с опубликованной";
  struct Case {
    const char* config;
    std::wstring expected;
    size_t part3Requests;  // GETs starting inside part 3; 0: not checked
  } cases[] = {
      {"{\"listing_fields_of\":{\"Tandrel.zip\":{\"sha256\":"
       "\"00000000000000000000000000000000000000000000000000000000000000ff\"}}}",
       checksum, 0},
      {"{\"replaced\":true}", checksum, 0},
      // A malformed published checksum of the archive is never taken for none: refused before
      // anything is downloaded.
      {"{\"listing_fields_of\":{\"Tandrel.zip\":{\"sha256\":\"abc\"}}}",
       L"Ошибка загрузки: Список файлов публичной папки: неверная контрольная сумма SHA-256 файла Tandrel.zip", 0},
      // Part 3 cut on every try: the first request and three more, then its message.
      {"{\"close_after\":{\"part3\":1000}}", L"Ошибка загрузки: Ошибка части 3: Error reading data: ", 4},
      {"{\"overlong_body\":{\"part2\":100}}", L"Ошибка загрузки: Ошибка части 2: сервер объявил", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    auto view = PressWith(c.config);
    ASSERT_TRUE(WaitStatus(view, c.expected)) << EncodeUtf8(view.StatusText());
    EXPECT_FALSE(view.GaugeVisible());
    EXPECT_TRUE(NothingDownloadedOrExtracted());
    if (c.part3Requests) {
      size_t part3 = 0;
      for (const std::string& range : StorageRanges())
        if (range.rfind("bytes=", 0) == 0 && std::stoll(range.substr(6)) >= size / 4 * 3) ++part3;
      EXPECT_EQ(part3, c.part3Requests);
    }
    FLauncher.Kill();
  }
}

TEST_F(Launcher, InstallationFailuresKeepTheArchive) {
  struct Case {
    bool holdProduct;
    bool damageArchive;
    const wchar_t* expected;
  } cases[] = {
      {true, false, L"Ошибка при распаковке: Cannot create file"},
      {false, true, L"Ошибка при распаковке: Error reading zip file"},
  };
  for (const auto& c : cases) {
    Install(L"1.0.0.0");
    if (c.damageArchive) WriteFileBytes(FFolder + L"\\Tandrel.zip", std::string(4096, 'x'));
    HANDLE held = INVALID_HANDLE_VALUE;
    if (c.holdProduct) {
      held = CreateFileW((ProductDir() + L"Tandrel.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(held, INVALID_HANDLE_VALUE);
    }
    auto view = Open();
    view.Press();
    EXPECT_TRUE(WaitStatus(view, c.expected)) << EncodeUtf8(view.StatusText());
    ASSERT_TRUE(FLauncher.Running()) << "exit code " << FLauncher.ExitCode();
    EXPECT_TRUE(view.GaugeVisible());
    EXPECT_TRUE(PathExists(ProductDir() + L"Update.zip"));
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    FLauncher.Kill();
    CopyTree(kRelease, FFolder);
  }
}

TEST_F(Launcher, RelaunchedCopyStartsTheProductWithItsSwitch) {
  struct Case {
    const wchar_t* ownName;
    const wchar_t* logged;
  } cases[] = {
      {L"morvane_old.exe", L"Tandrel.exe|-mrv_del\r\n"},
      {L"Morvane_Old.exe", L"Tandrel.exe|\r\n"},
      {L"Morvane.exe", L"Tandrel.exe|\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(EncodeUtf8(c.ownName));
    RemoveTree(ProductDir());
    auto view = Open(c.ownName);
    view.Press();
    ASSERT_TRUE(FLauncher.WaitExit(120000));
    ASSERT_TRUE(WaitStarted());
    EXPECT_EQ(StartedLog(), c.logged);
    TearDown();
  }
}

TEST_F(Launcher, CaseVariantOfTheLauncherStopsTheOthersAndSurvives) {
  Install(L"2.0.0.0");
  // Another launcher, named exactly "Morvane.exe", in a folder of its own.
  CreateDirectoryW((FRoot + L"\\other").c_str(), nullptr);
  CopyFileW((kBuild + L"\\Morvane.exe").c_str(), (FRoot + L"\\other\\Morvane.exe").c_str(), FALSE);
  FOther = TProcess::Start(FRoot + L"\\other\\Morvane.exe", L"", {{L"LOCALAPPDATA", LocalAppData()}});
  ASSERT_TRUE(WaitUntil([&] { return TWindowView::Find(FOther.Id()).Found(); }));
  auto view = Open(L"morvane.EXE");
  view.Press();
  EXPECT_TRUE(WaitStatus(view, L"Актуальная версия уже установлена")) << EncodeUtf8(view.StatusText());
  EXPECT_TRUE(FOther.WaitExit(10000));
  EXPECT_TRUE(FLauncher.Running());
}

TEST_F(Launcher, ThrottledDownloadMovesTheGaugeAndEnterPresses) {
  // The archive sent slowly, so that the gauge is seen on its way.
  StandinConfig("{\"rate_limit\":100000}");
  Install(L"1.0.0.0");
  // The product file held open keeps the window up after the download, at the gauge's last reading.
  HANDLE held = CreateFileW((ProductDir() + L"Tandrel.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  auto view = Open();
  view.PressEnter();
  std::set<std::wstring> readings;
  WaitUntil([&] {
    if (view.GaugeVisible()) readings.insert(view.GaugeText());
    return view.StatusText().rfind(L"Ошибка при распаковке", 0) == 0;
  });
  CloseHandle(held);
  EXPECT_EQ(view.GaugeText(), L"100%");
  std::set<std::wstring> between;
  for (const auto& r : readings)
    if (r != L"0%" && r != L"100%") between.insert(r);
  EXPECT_GE(between.size(), 2u) << readings.size();
}

TEST_F(Launcher, ClosingTheWindowDuringTheDownloadEndsAtOnceAndKeepsTheParts) {
  StandinConfig("{\"rate_limit\":50000}");
  auto view = Open();
  view.Press();
  ASSERT_TRUE(WaitUntil([&] { return view.GaugeVisible() && view.GaugeText() != L"0%"; }));
  PostMessageW(view.Window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(FLauncher.WaitExit(20000));
  EXPECT_EQ(FLauncher.ExitCode(), 0u);
  size_t parts = 0;
  for (const wchar_t* part : {L"Update.part0", L"Update.part1", L"Update.part2", L"Update.part3"})
    parts += PathExists(ProductDir() + part);
  EXPECT_GT(parts, 0u);
  EXPECT_FALSE(PathExists(ProductDir() + L"Update.zip"));
  EXPECT_FALSE(PathExists(ProductDir() + L"Tandrel.exe"));
  EXPECT_FALSE(PathExists(ProductDir() + L"started.txt"));
}

}  // namespace
