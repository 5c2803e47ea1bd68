// Signed releases end to end: a launcher holding the publisher's keys (given here through the
// test builds' MORVANE_RELEASE_KEYS) against a folder that morvane-publish packed and signed.
// Every refusal leaves the installed product as it was and downloads nothing it would keep.
#include <functional>

#include "launcher_fixture.h"

namespace {

using namespace e2e;

const std::wstring kKeys = WindowsPath(EnvOr("MORVANE_SOURCE_DIR")) + L"\\tests\\keys\\";

std::string KeyLine(const wchar_t* name) {
  std::string line = ReadFileBytes(kKeys + name);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

class SignedRelease : public Launcher {
 protected:
  void SetUp() override {
    Launcher::SetUp();
    FProduct = SampleProduct();
    Sign(L"test.key");
  }

  // Packs the sample product into the case's folder and signs it with the key file given.
  void Sign(const wchar_t* keyFile) {
    for (const wchar_t* file : {L"\\Tandrel.zip", L"\\version.txt", L"\\Changes.txt", L"\\Tandrel.zip.sig"})
      DeleteFileW((FFolder + file).c_str());
    TProcess publish = TProcess::Start(kBuild + L"\\src\\publish\\morvane-publish.exe",
                                       L"pack --key \"" + kKeys + keyFile + L"\" \"" + FProduct + L"\" \"" + kRelease +
                                           L"\\Changes.txt\" \"" + FFolder + L"\"",
                                       {});
    ASSERT_TRUE(publish.WaitExit(60000));
    ASSERT_EQ(publish.ExitCode(), 0u);
    FSigned = ReadFileBytes(FFolder + L"\\Tandrel.zip.sig");
    ASSERT_FALSE(FSigned.empty());
  }

  TWindowView OpenWithKeys(const std::string& keys, const std::wstring& exeName = L"Morvane.exe",
                           const std::wstring& args = L"") {
    FLauncher = Run(exeName, args, L"", {{L"MORVANE_RELEASE_KEYS", Widen(keys)}});
    TWindowView view;
    EXPECT_TRUE(WaitUntil([&] {
      return (view = TWindowView::Find(FLauncher.Id())).WindowVisible() && !view.ButtonText().empty();
    }));
    return view;
  }

  // The archive with one byte changed in its middle: as large as the signed one.
  std::string TamperedArchive() const {
    std::string archive = ReadFileBytes(FFolder + L"\\Tandrel.zip");
    archive[archive.size() / 2] = static_cast<char>(archive[archive.size() / 2] ^ 0x5A);
    return archive;
  }

  // The older product installed before the case, still there byte for byte, with nothing of the
  // new release beside it.
  void ExpectOldProductUntouched() const {
    EXPECT_EQ(ReadFileBytes(ProductDir() + L"Tandrel.exe"), ReadFileBytes(kSample + L"\\product-1.0.0.0\\Tandrel.exe"));
    for (const wchar_t* file : {L"Update.zip", L"Update.part0", L"Update.part3", L"TandrelAI.exe", L"docs"})
      EXPECT_FALSE(PathExists(ProductDir() + file)) << EncodeUtf8(file);
  }

  std::wstring FProduct;
  std::string FSigned;
};

TEST_F(SignedRelease, SignedReleaseInstallsWithEitherOfTwoKeys) {
  // A key rotation: the launcher holds the old and the new key, and the release is signed by
  // either.
  const std::string both = KeyLine(L"test.pub") + ";" + KeyLine(L"other.pub");
  for (const wchar_t* keyFile : {L"test.key", L"other.key"}) {
    SCOPED_TRACE(EncodeUtf8(keyFile));
    Sign(keyFile);
    RemoveTree(ProductDir());
    Install(L"1.0.0.0");
    auto view = OpenWithKeys(both);
    view.Press();
    ASSERT_TRUE(FLauncher.WaitExit(120000)) << EncodeUtf8(view.StatusText());
    EXPECT_EQ(ReadFileBytes(ProductDir() + L"Tandrel.exe"), ReadFileBytes(FProduct + L"\\Tandrel.exe"));
    EXPECT_TRUE(PathExists(ProductDir() + L"docs\\Changes.txt"));
    ASSERT_TRUE(WaitStarted());
    TearDown();
  }
}

TEST_F(SignedRelease, StatementIsAskedAgainAfterPassingFailures) {
  // The statement is read like every other file of the folder: a passing server error or two
  // do not refuse the update.
  for (const char* config : {R"({"file_status":{"Tandrel.zip.sig":503},"times":{"file_status":2}})",
                             R"({"file_status":{"Tandrel.zip.sig":429},"times":{"file_status":1},"retry_after":1})"}) {
    SCOPED_TRACE(config);
    RemoveTree(ProductDir());
    Install(L"1.0.0.0");
    StandinReset();
    StandinConfig(config);
    auto view = OpenWithKeys(KeyLine(L"test.pub"));
    view.Press();
    ASSERT_TRUE(FLauncher.WaitExit(120000)) << EncodeUtf8(view.StatusText());
    EXPECT_EQ(ReadFileBytes(ProductDir() + L"Tandrel.exe"), ReadFileBytes(FProduct + L"\\Tandrel.exe"));
    ASSERT_TRUE(WaitStarted());
    TearDown();
  }
}

TEST_F(SignedRelease, RefusalsLeaveTheInstalledProductAlone) {
  const std::string test = KeyLine(L"test.pub"), other = KeyLine(L"other.pub");
  const std::string tampered = TamperedArchive();
  const std::string archive = ReadFileBytes(FFolder + L"\\Tandrel.zip");
  const std::wstring cancelled = L", установка отменена";
  const std::wstring notFromPublisher = L"Ошибка загрузки: подпись обновления не подтверждается ключом издателя программы" + cancelled;
  const std::wstring damaged = L"Ошибка загрузки: подпись обновления повреждена" + cancelled;
  const std::wstring swapped = L"Ошибка загрузки: архив обновления в папке не тот, что подписал издатель" + cancelled;
  std::string editedStatement = FSigned;
  editedStatement.replace(editedStatement.find("version: 2.0.0.0"), 16, "version: 2.0.0.9");
  std::string truncated = FSigned;
  truncated.erase(truncated.size() - 11, 10);

  struct Case {
    const char* name;
    std::string keys;
    std::function<void()> change;
    const char* standin;  // stand-in switches, or null
    std::wstring expected;
  } cases[] = {
      {"unsigned", test, [&] { DeleteFileW((FFolder + L"\\Tandrel.zip.sig").c_str()); }, nullptr,
       L"Ошибка загрузки: обновление не подписано издателем (в папке нет файла Tandrel.zip.sig)" + cancelled},
      {"signed by another key", other, [] {}, nullptr, notFromPublisher},
      {"version.txt edited after signing", test, [&] { WriteFileBytes(FFolder + L"\\version.txt", "2.0.0.9"); }, nullptr,
       L"Ошибка загрузки: издатель подписал версию 2.0.0.0, а в папке опубликована 2.0.0.9" + cancelled},
      {"statement edited with version.txt", test,
       [&] {
         WriteFileBytes(FFolder + L"\\version.txt", "2.0.0.9");
         WriteFileBytes(FFolder + L"\\Tandrel.zip.sig", editedStatement);
       },
       nullptr, notFromPublisher},
      {"signature truncated", test, [&] { WriteFileBytes(FFolder + L"\\Tandrel.zip.sig", truncated); }, nullptr, damaged},
      {"malformed key line", "ecdsa-p256:AAAA", [] {}, nullptr,
       L"Ошибка загрузки: ключ проверки подписи в программе повреждён" + cancelled},
      // The listing reports the swapped archive's own size and SHA-256.
      {"archive swapped, listing matches it", test, [&] { WriteFileBytes(FFolder + L"\\Tandrel.zip", tampered); }, nullptr,
       swapped},
      {"listing size disagrees", test, [] {}, "{\"listing_fields\":{\"size\":1000}}", swapped},
      // A listing that says nothing of the archive: its plain-HTTP link is refused before the
      // download (over HTTPS the download's own check against the statement refuses it; the
      // release's end-to-end test shows that).
      {"archive swapped, listing silent", test, [&] { WriteFileBytes(FFolder + L"\\Tandrel.zip", tampered); },
       "{\"listing_fields_of\":{\"Tandrel.zip\":{\"sha256\":null,\"size\":null,\"md5\":null}}}",
       L"Ошибка загрузки: Список файлов публичной папки: ссылка на файл Tandrel.zip не защищена (не HTTPS), а его "
       L"контрольная сумма не опубликована"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(FFolder + L"\\Tandrel.zip", archive);
    WriteFileBytes(FFolder + L"\\Tandrel.zip.sig", FSigned);
    WriteFileBytes(FFolder + L"\\version.txt", "2.0.0.0");
    c.change();
    RemoveTree(ProductDir());
    Install(L"1.0.0.0");
    StandinReset();
    if (c.standin) StandinConfig(c.standin);
    auto view = OpenWithKeys(c.keys);
    view.Press();
    ASSERT_TRUE(WaitStatus(view, c.expected)) << EncodeUtf8(view.StatusText());
    EXPECT_EQ(view.StatusText(), c.expected);
    EXPECT_FALSE(view.GaugeVisible());
    EXPECT_FALSE(view.ButtonEnabled());
    EXPECT_TRUE(StorageRanges().empty());
    ExpectOldProductUntouched();
    FLauncher.Kill();
  }
}

TEST_F(SignedRelease, RelaunchedCopyShowsOnlyTheSignedNotes) {
  const std::wstring page = TempDir() + L"\\temp.html";
  struct Case {
    const char* name;
    std::string notes;  // empty: the notes as signed
    std::wstring webView;
  } cases[] = {
      {"signed notes", "", page},
      {"notes edited after signing", "<b>Скачайте патч с другого сайта</b>", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.notes.empty()) WriteFileBytes(FFolder + L"\\Changes.txt", c.notes);
    RemoveTree(ProductDir());
    Install(L"1.0.0.0");
    DeleteFileW(page.c_str());
    auto view = OpenWithKeys(KeyLine(L"test.pub"), L"morvane_old.exe", L"-checkmorvane");
    EXPECT_EQ(view.ButtonText(), L"Обновить");
    EXPECT_TRUE(view.ButtonEnabled());
    EXPECT_EQ(view.WebViewText(), c.webView);
    EXPECT_EQ(PathExists(page), !c.webView.empty());
    FLauncher.Kill();
  }
}

}  // namespace
