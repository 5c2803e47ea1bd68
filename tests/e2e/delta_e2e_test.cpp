// Updates that fetch only what differs, end to end: a release of forty files packed and signed
// by morvane-publish, an older product installed, the button pressed, the stand-in counting the
// archive's bytes it serves. Whatever the path, the product ends as the signed release has it,
// or as it was.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <vector>

#include "launcher_fixture.h"
#include "system/entry_record.h"

namespace {

using namespace e2e;

const std::wstring kKeys = WindowsPath(EnvOr("MORVANE_SOURCE_DIR")) + L"\\tests\\keys\\";
constexpr int kFiles = 39;  // data files; with Tandrel.exe forty
constexpr size_t kFileSize = 96 * 1024;

std::string KeyLine(const wchar_t* name) {
  std::string line = ReadFileBytes(kKeys + name);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

// Bytes that deflate cannot shrink, different for every seed.
std::string Noise(uint32_t seed, size_t size) {
  std::string bytes(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : bytes) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>(x >> 24);
  }
  return bytes;
}

std::wstring DataName(int i) { return L"data\\f" + std::wstring(i < 10 ? L"0" : L"") + IntToStr(i) + L".bin"; }

// The same file's name in the archive.
std::string ZipName(int i) {
  std::string name = EncodeUtf8(DataName(i));
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

class DeltaUpdate : public Launcher {
 protected:
  void SetUp() override {
    Launcher::SetUp();
    // The publisher's product: the new Tandrel.exe and the data files, one of them new.
    FProduct = FRoot + L"\\product";
    CreateDirectoryW(FProduct.c_str(), nullptr);
    CreateDirectoryW((FProduct + L"\\data").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((kSample + L"\\product-2.0.0.0\\Tandrel.exe").c_str(), (FProduct + L"\\Tandrel.exe").c_str(), FALSE));
    for (int i = 0; i < kFiles; ++i) WriteFileBytes(FProduct + L"\\" + DataName(i), Noise(i == kChanged ? 1000 : i, kFileSize));
    for (const wchar_t* file : {L"\\Tandrel.zip", L"\\version.txt", L"\\Changes.txt"}) DeleteFileW((FFolder + file).c_str());
    TProcess publish = TProcess::Start(kBuild + L"\\src\\publish\\morvane-publish.exe",
                                       L"pack --key \"" + kKeys + L"test.key\" \"" + FProduct + L"\" \"" + kRelease +
                                           L"\\Changes.txt\" \"" + FFolder + L"\"",
                                       {});
    ASSERT_TRUE(publish.WaitExit(120000));
    ASSERT_EQ(publish.ExitCode(), 0u);
    for (const wchar_t* file : {L"Tandrel.zip", L"Tandrel.zip.files", L"Tandrel.zip.sig", L"version.txt"})
      FPublished[file] = ReadFileBytes(FFolder + L"\\" + file);
    ASSERT_FALSE(FPublished[L"Tandrel.zip.files"].empty());
  }

  // The release of the day before: the old Tandrel.exe and the old content of the changed file.
  void InstallOldRelease() {
    RemoveTree(ProductDir());
    CreateDirectoryW(ProductDir().c_str(), nullptr);
    CreateDirectoryW((ProductDir() + L"data").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((kSample + L"\\product-1.0.0.0\\Tandrel.exe").c_str(), (ProductDir() + L"Tandrel.exe").c_str(), FALSE));
    for (int i = 0; i < kFiles; ++i) WriteFileBytes(ProductDir() + DataName(i), Noise(i, kFileSize));
  }

  // The archive's bytes the storage host sent (every ranged GET is one of the archive).
  static int64_t ArchiveBytesServed() {
    int64_t served = 0;
    for (TLoggedRequest& r : StandinRequests())
      if (r.method == "GET" && r.path.rfind("/rdisk/", 0) == 0 && !r.headers["range"].empty()) served += r.bytes;
    return served;
  }

  static FILETIME LastWrite(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
  }

  static void SetLastWrite(const std::wstring& path, FILETIME time) {
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
  }

  void ExpectProductIsTheRelease() const {
    EXPECT_EQ(ReadFileBytes(ProductDir() + L"Tandrel.exe"), ReadFileBytes(FProduct + L"\\Tandrel.exe"));
    for (int i = 0; i < kFiles; ++i)
      EXPECT_TRUE(ReadFileBytes(ProductDir() + DataName(i)) == ReadFileBytes(FProduct + L"\\" + DataName(i)))
          << EncodeUtf8(DataName(i));
    for (const wchar_t* gone : {L"Update.zip", L"Update.part0", L"Update.part1", L"Update.part4", L"morvane-install"})
      EXPECT_FALSE(PathExists(ProductDir() + gone)) << EncodeUtf8(gone);
  }

  static constexpr int kChanged = 7;
  std::wstring FProduct;
  std::map<std::wstring, std::string> FPublished;
};

TEST_F(DeltaUpdate, FetchesOnlyWhatDiffersOrTheWholeArchive) {
  const int64_t archive = static_cast<int64_t>(FPublished[L"Tandrel.zip"].size());
  std::string recordEdited = FPublished[L"Tandrel.zip.files"];
  recordEdited[recordEdited.find("entry: ") + 7] ^= 1;  // the first entry's offset, after signing
  // The first byte of the changed file's data: its local header, name and no extra come first.
  const std::string changedName = "data/f0" + std::to_string(kChanged) + ".bin";
  const size_t line = FPublished[L"Tandrel.zip.files"].find(" " + changedName + "\n");
  const size_t lineStart = FPublished[L"Tandrel.zip.files"].rfind("entry: ", line) + 7;
  const int64_t changedOffset = std::stoll(FPublished[L"Tandrel.zip.files"].substr(lineStart));
  const int64_t changedAt = changedOffset + 30 + static_cast<int64_t>(changedName.size()) + 100;
  const std::string damage = "{\"damage_at\":{\"" + std::to_string(changedAt) + "\":";
  const std::wstring untouched = ProductDir() + DataName(20);

  enum class Path { Entries, Whole, Refused };
  struct Case {
    const char* name;
    std::string keys;                        // MORVANE_RELEASE_KEYS
    std::function<void()> change;            // of the installed product or of the folder
    std::string standin;                     // stand-in switches
    Path path;
    std::wstring status;                     // Refused: the status shown
    std::vector<std::string> alsoDiffers = {};  // Entries: files that differ besides the release's own
  } cases[] = {
      {"one of forty changed", KeyLine(L"test.pub"), [] {}, "{}", Path::Entries, L""},
      {"one of forty changed, unsigned folder", "none", [] {}, "{}", Path::Entries, L""},
      {"an installed file edited by someone", KeyLine(L"test.pub"),
       [&] { WriteFileBytes(ProductDir() + DataName(3), Noise(77, kFileSize)); }, "{}", Path::Entries, L"", {ZipName(3)}},
      {"an installed file deleted", KeyLine(L"test.pub"), [&] { DeleteFileW((ProductDir() + DataName(30)).c_str()); },
       "{}", Path::Entries, L"", {ZipName(30)}},
      {"the changed entry damaged once on the way", KeyLine(L"test.pub"), [] {}, damage + "1}}", Path::Whole, L""},
      {"the changed entry damaged on every way", KeyLine(L"test.pub"), [] {}, damage + "0}}", Path::Refused,
       L"Ошибка загрузки: Контрольная сумма скачанного архива (SHA-256) не совпадает с опубликованной"},
      {"the changed entry's range fails after its retries", KeyLine(L"test.pub"), [] {},
       "{\"range_status\":{\"" + std::to_string(changedOffset) + "\":503}}", Path::Whole, L""},
      {"a record edited after signing", KeyLine(L"test.pub"),
       [&] { WriteFileBytes(FFolder + L"\\Tandrel.zip.files", recordEdited); }, "{}", Path::Whole, L""},
      {"an unsigned record the listing does not vouch for", "none", [] {},
       R"({"listing_fields_of":{"Tandrel.zip.files":{"sha256":"0000000000000000000000000000000000000000000000000000000000000000"}}})",
       Path::Whole, L""},
      {"no record in the folder", KeyLine(L"test.pub"), [&] { DeleteFileW((FFolder + L"\\Tandrel.zip.files").c_str()); },
       "{}", Path::Whole, L""},
      {"a host that ignores Range", KeyLine(L"test.pub"), [] {}, R"({"ignore_range":true})", Path::Whole, L""},
      {"no product installed", KeyLine(L"test.pub"), [&] { RemoveTree(ProductDir()); }, "{}", Path::Whole, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& [file, bytes] : FPublished) WriteFileBytes(FFolder + L"\\" + file, bytes);
    InstallOldRelease();
    const FILETIME before{0x12345678, 0x01C00000};  // some day long ago
    SetLastWrite(untouched, before);
    c.change();
    StandinReset();
    StandinConfig(c.standin.c_str());
    FLauncher = Run(L"Morvane.exe", L"", L"", {{L"MORVANE_RELEASE_KEYS", Widen(c.keys)}});
    TWindowView view;
    ASSERT_TRUE(WaitUntil([&] { return (view = TWindowView::Find(FLauncher.Id())).WindowVisible() && view.ButtonEnabled(); }));
    view.Press();
    if (c.path == Path::Refused) {
      ASSERT_TRUE(WaitStatus(view, c.status)) << EncodeUtf8(view.StatusText());
      // Damaged bytes never reach the product: it is the old release, whole.
      EXPECT_EQ(ReadFileBytes(ProductDir() + L"Tandrel.exe"), ReadFileBytes(kSample + L"\\product-1.0.0.0\\Tandrel.exe"));
      EXPECT_TRUE(ReadFileBytes(ProductDir() + DataName(kChanged)) == Noise(kChanged, kFileSize));
      FLauncher.Kill();
      continue;
    }
    ASSERT_TRUE(FLauncher.WaitExit(180000)) << EncodeUtf8(view.StatusText());
    ExpectProductIsTheRelease();
    ASSERT_TRUE(WaitStarted());
    const int64_t served = ArchiveBytesServed();
    std::printf("%s: %lld of the archive's %lld bytes served\n", c.name, static_cast<long long>(served),
                static_cast<long long>(archive));
    if (c.path == Path::Entries) {
      // The entries that differ (Tandrel.exe, the changed file and whatever the row changed in
      // the product) and the directory, and nothing more than the gaps of under 4 KiB that the
      // plan bridges between close ranges.
      const std::optional<TEntryRecord> record = ParseEntryRecord(FPublished[L"Tandrel.zip.files"]);
      ASSERT_TRUE(record);
      std::vector<std::string> differ = {"Tandrel.exe", changedName};
      differ.insert(differ.end(), c.alsoDiffers.begin(), c.alsoDiffers.end());
      int64_t needed = static_cast<int64_t>(record->DirectoryLength);
      for (const TRecordedEntry& e : record->Entries)
        if (std::find(differ.begin(), differ.end(), e.Name) != differ.end()) needed += static_cast<int64_t>(e.Length);
      EXPECT_GE(served, needed);
      EXPECT_LE(served, needed + 4096 * static_cast<int64_t>(differ.size() + 1)) << served << " of " << archive;
      // A file that did not change is not written again.
      const FILETIME after = LastWrite(untouched);
      EXPECT_EQ(after.dwLowDateTime, before.dwLowDateTime);
      EXPECT_EQ(after.dwHighDateTime, before.dwHighDateTime);
    } else {
      EXPECT_GE(served, archive) << served;
    }
    TearDown();
  }
}

}  // namespace
