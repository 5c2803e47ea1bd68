#include "system/install_transaction.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "system/errors.h"
#include "system/file_stream.h"
#include "system/handles.h"
#include "system/text.h"
#include "system/win_error.h"

namespace {
constexpr wchar_t kRecordName[] = L"record.txt";
constexpr wchar_t kDoneName[] = L"done.txt";
constexpr char kRecordHeader[] = "morvane install record 1";
constexpr char kRecordEnd[] = "end";
// A file held open by a scanner, an indexer or a sync client is asked again for about 2 s.
constexpr int kAttempts = 20;
constexpr DWORD kPauseMs = 100;

// One change the installation makes, as the record keeps it.
struct TChange {
  bool IsFolder = false;
  std::wstring Name;       // relative to the product folder
  std::wstring Temporary;  // a file: the name it is written under first, relative
  std::wstring Aside;      // a file that replaces one: the old file's name in the work folder
  DWORD Attributes = 0;    // the replaced file's attributes
  std::wstring Original;   // the replaced file's name as it was spelt, relative
};

std::wstring WorkFolder(const std::wstring& productFolder) {
  return JoinZipPath(productFolder, kInstallWorkFolder) + L"\\";
}

bool HeldOpen(DWORD code) {
  return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION || code == ERROR_ACCESS_DENIED;
}

// Runs op until it succeeds or fails for another reason than a file held open; returns 0 or
// the last error code.
template <typename Op>
DWORD Retrying(const std::wstring& path, const TInstallOptions& options, Op op) {
  for (int attempt = 1;; ++attempt) {
    if (op()) return 0;
    const DWORD code = GetLastError();
    if (!HeldOpen(code) || attempt >= kAttempts) return code;
    if (options.OnRetry) options.OnRetry(path);
    Sleep(kPauseMs);
  }
}

bool PathPresent(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Deletes a file whatever its attributes; 0 or the error code. A missing file is no error.
DWORD DeleteAnyFile(const std::wstring& path, const TInstallOptions& options) {
  if (!PathPresent(path)) return 0;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return Retrying(path, options, [&] { return DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND; });
}

DWORD MoveFileRetrying(const std::wstring& from, const std::wstring& to, const std::wstring& shown,
                       const TInstallOptions& options) {
  return Retrying(shown, options, [&] { return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0; });
}

// The name as Windows writes it: without "." segments and without a final "\".
std::wstring WrittenName(const std::wstring& name) {
  std::wstring out;
  size_t start = 0;
  while (start < name.size()) {
    const size_t stop = std::min(name.find(L'\\', start), name.size());
    const std::wstring segment = name.substr(start, stop - start);
    if (!segment.empty() && segment != L".") out += (out.empty() ? L"" : L"\\") + segment;
    start = stop + 1;
  }
  return out;
}

std::wstring TemporaryName(size_t number) {
  static const wchar_t kDigits[] = L"0123456789abcdefghijklmnopqrstuvwxyz";
  std::wstring digits(4, L'0');
  for (size_t i = 4; i-- > 0; number /= 36) digits[i] = kDigits[number % 36];
  return L"~mv" + digits + L".tmp";
}

std::string RecordText(const std::vector<TChange>& changes) {
  std::string text = std::string(kRecordHeader) + "\n";
  for (const TChange& c : changes) {
    if (c.IsFolder)
      text += "D\t" + EncodeUtf8(c.Name) + "\n";
    else
      text += "F\t" + EncodeUtf8(c.Name) + "\t" + EncodeUtf8(c.Temporary) + "\t" + EncodeUtf8(c.Aside) + "\t" +
              std::to_string(c.Attributes) + "\t" + EncodeUtf8(c.Original) + "\n";
  }
  return text + kRecordEnd + "\n";
}

std::vector<std::string> SplitOn(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t stop = text.find(separator, start);
    parts.push_back(text.substr(start, stop == std::string::npos ? std::string::npos : stop - start));
    if (stop == std::string::npos) return parts;
    start = stop + 1;
  }
}

// The changes of a complete record; nullopt when the record was not written to its end, in
// which case no change had been made yet.
std::optional<std::vector<TChange>> ParseRecord(const std::string& text) {
  std::vector<std::string> lines = SplitOn(text, '\n');
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  if (lines.size() < 2 || lines.front() != kRecordHeader || lines.back() != kRecordEnd) return std::nullopt;
  std::vector<TChange> changes;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    const std::vector<std::string> f = SplitOn(lines[i], '\t');
    TChange c;
    c.IsFolder = f[0] == "D";
    if ((c.IsFolder && f.size() != 2) || (!c.IsFolder && (f[0] != "F" || f.size() != 6))) return std::nullopt;
    c.Name = DecodeUtf8Lenient(f[1]);
    if (!c.IsFolder) {
      c.Temporary = DecodeUtf8Lenient(f[2]);
      c.Aside = DecodeUtf8Lenient(f[3]);
      c.Attributes = static_cast<DWORD>(std::strtoul(f[4].c_str(), nullptr, 10));
      c.Original = DecodeUtf8Lenient(f[5]);
    }
    changes.push_back(std::move(c));
  }
  return changes;
}

std::string ReadRecordFile(const std::wstring& path) {
  std::string text;
  try {
    TFileStream file = TFileStream::Open(path, FILE_SHARE_READ);
    text.resize(static_cast<size_t>(file.Size()));
    text.resize(file.Read(text.data(), text.size()));
  } catch (const Exception&) {
    text.clear();
  }
  return text;
}

void WriteRecordFile(const std::wstring& path, const std::string& text) {
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
  if (handle == INVALID_HANDLE_VALUE) RaiseFileError(L"create", path, GetLastError());
  const Sys::TFileHandle file(handle);
  DWORD written = 0;
  if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
      written != text.size() || !FlushFileBuffers(file.Get()))
    RaiseFileError(L"write", path, GetLastError());
}

// Deletes the work folder with what it holds (the record, files moved aside).
void RemoveWorkFolder(const std::wstring& work, const TInstallOptions& options) {
  WIN32_FIND_DATAW data{};
  const Sys::TFindHandle find(FindFirstFileW((work + L"*").c_str(), &data));
  if (find) {
    do {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteAnyFile(work + data.cFileName, options);
    } while (FindNextFileW(find.Get(), &data));
  }
  RemoveDirectoryW(work.c_str());
}

// Puts every recorded change back, the last first. Each step looks at what is on disk, so the
// changes a killed run never made are passed over, and an undo cut short can run again.
void UndoChanges(const std::wstring& productFolder, const std::vector<TChange>& changes,
                 const TInstallOptions& options) {
  const std::wstring work = WorkFolder(productFolder);
  std::wstring firstFailure;
  auto note = [&](DWORD code, const std::wstring& verb, const std::wstring& path) {
    if (code != 0 && firstFailure.empty())
      firstFailure = L"Cannot " + verb + L" file \"" + path + L"\". " + SysErrorMessage(code);
  };
  for (auto c = changes.rbegin(); c != changes.rend(); ++c) {
    const std::wstring target = JoinZipPath(productFolder, c->Name);
    if (c->IsFolder) {
      RemoveDirectoryW(target.c_str());  // stays when something else was put in it
      continue;
    }
    const std::wstring temporary = JoinZipPath(productFolder, c->Temporary);
    note(DeleteAnyFile(temporary, options), L"delete", temporary);
    if (c->Aside.empty()) {
      note(DeleteAnyFile(target, options), L"delete", target);
      continue;
    }
    const std::wstring aside = work + c->Aside;
    if (!PathPresent(aside)) {
      // Never moved: the old file is still in its place, its read-only attribute perhaps
      // already cleared.
      if (PathPresent(target)) SetFileAttributesW(target.c_str(), c->Attributes);
      continue;
    }
    const DWORD deleted = DeleteAnyFile(target, options);
    note(deleted, L"delete", target);
    if (deleted != 0) continue;
    // Back under its own spelling, which may differ from the archive's in letter case.
    const std::wstring original = JoinZipPath(productFolder, c->Original.empty() ? c->Name : c->Original);
    const DWORD moved = MoveFileRetrying(aside, original, original, options);
    note(moved, L"restore", original);
    if (moved == 0) SetFileAttributesW(original.c_str(), c->Attributes);
  }
  if (!firstFailure.empty()) throw Exception(firstFailure);
}

// Makes written files durable on a few threads of their own while the installation writes the
// next ones: each takes an open file, flushes it to the disk and closes it. A flush mostly waits
// for the disk, so several at once cost little more than one, and none of them holds up the
// writing. At most kMaxPending files wait, so the open handles do not grow with the archive.
class TFlusher {
 public:
  explicit TFlusher(const TInstallOptions& options) : FOptions(options) {}
  ~TFlusher() {
    try {
      Wait();
    } catch (...) {
    }
    {
      std::lock_guard<std::mutex> lock(FLock);
      FStopping = true;
    }
    FWork.notify_all();
    for (std::thread& thread : FThreads) thread.join();
  }
  TFlusher(const TFlusher&) = delete;
  TFlusher& operator=(const TFlusher&) = delete;

  // Takes over the open file; path is the file's full path, shown is how a failure names it.
  void Add(Sys::TFileHandle file, std::wstring path, std::wstring shown) {
    std::unique_lock<std::mutex> lock(FLock);
    FRoom.wait(lock, [&] { return FQueue.size() < kMaxPending; });
    FQueue.push_back({std::move(file), std::move(path), std::move(shown)});
    ++FUnfinished;
    // A thread more while there is more waiting than the threads take.
    if (FThreads.size() < kThreads && FIdle == 0) {
      try {
        FThreads.emplace_back([this] { Run(); });
      } catch (...) {
        if (FThreads.empty()) {
          // No thread at all: this one flushes.
          TItem item = std::move(FQueue.front());
          FQueue.pop_front();
          lock.unlock();
          Flush(item);
          return;
        }
      }
    }
    lock.unlock();
    FWork.notify_one();
  }

  // Returns when every file added so far is durable and closed; raises the first failure.
  void Wait() {
    std::unique_lock<std::mutex> lock(FLock);
    FDone.wait(lock, [&] { return FUnfinished == 0; });
    if (!FFailure.empty()) {
      const std::wstring shown = std::exchange(FFailure, std::wstring());
      RaiseFileError(L"write", shown, std::exchange(FFailureCode, 0));
    }
  }

 private:
  struct TItem {
    Sys::TFileHandle File;
    std::wstring Path, Shown;
  };
  static constexpr size_t kThreads = 4;
  static constexpr size_t kMaxPending = 64;

  void Run() {
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
      ++FIdle;
      FWork.wait(lock, [&] { return FStopping || !FQueue.empty(); });
      --FIdle;
      if (FQueue.empty()) return;
      TItem item = std::move(FQueue.front());
      FQueue.pop_front();
      FRoom.notify_one();
      lock.unlock();
      Flush(item);
      lock.lock();
    }
  }

  void Flush(TItem& item) {
    const bool flushed = FlushFileBuffers(item.File.Get()) != 0;
    const DWORD code = flushed ? 0 : GetLastError();
    item.File.Reset();
    if (flushed && FOptions.OnDurable) FOptions.OnDurable(item.Path);
    std::lock_guard<std::mutex> lock(FLock);
    if (!flushed && FFailure.empty()) {
      FFailure = item.Shown;
      FFailureCode = code;
    }
    if (--FUnfinished == 0) FDone.notify_all();
  }

  const TInstallOptions& FOptions;
  std::mutex FLock;
  std::condition_variable FWork, FRoom, FDone;
  std::deque<TItem> FQueue;
  std::vector<std::thread> FThreads;
  size_t FIdle = 0;
  size_t FUnfinished = 0;
  bool FStopping = false;
  std::wstring FFailure;
  DWORD FFailureCode = 0;
};

// The installation of one archive: TZipOutput calls in entry order, each change counted.
class TInstallOutput final : public TZipOutput {
 public:
  TInstallOutput(const std::wstring& productFolder, const std::vector<TZipItem>& items, const TInstallOptions& options)
      : FProduct(productFolder), FWork(WorkFolder(productFolder)), FOptions(options) {
    Plan(items);
  }

  const std::vector<TChange>& Changes() const { return FChanges; }
  // The entry being written, for messages that do not name it themselves.
  const std::wstring& CurrentTarget() const { return FTarget; }
  // Lets go of the file being written and of those still being flushed, so that the undo can
  // delete them.
  void CloseOpenFiles() {
    FFile.reset();
    try {
      FFlusher.Wait();
    } catch (...) {
      // The file is deleted all the same.
    }
  }

  void Begin() {
    if (!CreateDirectoryW(FWork.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      RaiseFileError(L"create", FWork, GetLastError());
    WriteRecordFile(FWork + kRecordName, RecordText(FChanges));
  }

  void Commit() {
    // Every new file on the disk before the first old one goes aside: a lost power from here on
    // finds each new file whole, under its temporary name or its own.
    FTarget.clear();
    FFlusher.Wait();
    for (size_t index : FWritten) PutInPlace(FChanges[index]);
    FTarget.clear();
    // From here a restart finishes the clean-up instead of undoing.
    const DWORD code = MoveFileRetrying(FWork + kRecordName, FWork + kDoneName, FWork + kRecordName, FOptions);
    if (code != 0) RaiseFileError(L"rename", FWork + kRecordName, code);
    DeleteAsides();
    RemoveWorkFolder(FWork, FOptions);
  }

  void MakeFolder(const TZipItem&) override {
    const TItemPlan& plan = FItems[FItem++];
    FTarget.clear();
    for (size_t index : plan.Folders) {
      const std::wstring folder = JoinZipPath(FProduct, FChanges[index].Name);
      FTarget = folder;
      Change();
      if (!CreateDirectoryW(folder.c_str(), nullptr) && !DirectoryExists(folder)) {
        const DWORD code = GetLastError();
        throw Exception(L"Cannot create folder \"" + folder + L"\". " + SysErrorMessage(code));
      }
    }
    if (plan.File) FCurrent = &FChanges[*plan.File];
  }

  void BeginFile(const TZipItem& item) override {
    FTarget = JoinZipPath(FProduct, FCurrent->Name);
    FCurrentItem = &item;
    Change();
    FFile.emplace(TFileStream::CreateNew(JoinZipPath(FProduct, FCurrent->Temporary), FTarget));
  }

  void Write(const void* data, size_t count) override {
    const char* p = static_cast<const char*>(data);
    while (count > 0) {
      const DWORD chunk = static_cast<DWORD>(count > 0x40000000 ? 0x40000000 : count);
      DWORD written = 0;
      if (!WriteFile(FFile->Handle(), p, chunk, &written, nullptr) || written == 0)
        RaiseFileError(L"write", FTarget, written == 0 && GetLastError() == 0 ? ERROR_DISK_FULL : GetLastError());
      p += written;
      count -= written;
    }
  }

  void CloseFile() override {
    SetTimesAndAttributes(FFile->Handle(), *FCurrentItem);
    // Made durable on the flusher's threads while the next files are written; Commit waits for
    // all of them before it replaces anything.
    FFlusher.Add(FFile->TakeHandle(), JoinZipPath(FProduct, FCurrent->Temporary), FTarget);
    FFile.reset();
  }

  void FinishFile(const TZipItem&) override { FWritten.push_back(static_cast<size_t>(FCurrent - FChanges.data())); }

 private:
  struct TItemPlan {
    std::vector<size_t> Folders;  // folders the entry needs that do not exist yet
    std::optional<size_t> File;
  };

  void Plan(const std::vector<TZipItem>& items) {
    std::set<std::wstring> plannedFolders;
    size_t temporaryNumber = 0;
    for (const TZipItem& item : items) {
      TItemPlan plan;
      const std::wstring name = WrittenName(item.Name);
      const bool isFolder = item.IsFolder();
      size_t cut = 0;
      while (!name.empty()) {
        cut = name.find(L'\\', cut);
        if (cut == std::wstring::npos && !isFolder) break;
        const std::wstring folder = name.substr(0, cut);
        const std::wstring key = FoldFileName(folder);
        if (!plannedFolders.count(key) && !DirectoryExists(JoinZipPath(FProduct, folder))) {
          plan.Folders.push_back(FChanges.size());
          TChange created;
          created.IsFolder = true;
          created.Name = folder;
          FChanges.push_back(std::move(created));
        }
        plannedFolders.insert(key);
        if (cut == std::wstring::npos) break;
        ++cut;
      }
      if (!isFolder && !name.empty()) {
        TChange file;
        file.Name = name;
        const std::wstring folder = ExtractFilePath(name);
        const TFolderNames& present = NamesIn(folder);
        do {
          file.Temporary = folder + TemporaryName(temporaryNumber++);
        } while (present.count(FoldFileName(ExtractFileName(file.Temporary))));
        const auto existing = present.find(FoldFileName(ExtractFileName(name)));
        if (existing != present.end()) {
          file.Aside = std::to_wstring(FChanges.size());
          file.Attributes = existing->second.Attributes;
          file.Original = folder + existing->second.Spelling;
        }
        plan.File = FChanges.size();
        FChanges.push_back(std::move(file));
      }
      FItems.push_back(std::move(plan));
    }
    FPresent.clear();
  }

  struct TPresentName {
    std::wstring Spelling;
    DWORD Attributes = 0;
  };
  // The names in one folder of the product, by their folded spelling.
  using TFolderNames = std::map<std::wstring, TPresentName>;

  // What a folder of the product (relative, "" or ending with "\") holds, read once for all of
  // its entries: one listing in place of a look-up per file.
  const TFolderNames& NamesIn(const std::wstring& folder) {
    const auto [entry, added] = FPresent.try_emplace(FoldFileName(folder));
    if (!added) return entry->second;
    WIN32_FIND_DATAW data{};
    const Sys::TFindHandle find(FindFirstFileW((JoinZipPath(FProduct, folder) + L"*").c_str(), &data));
    if (find) {
      do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") entry->second[FoldFileName(name)] = {name, data.dwFileAttributes};
      } while (FindNextFileW(find.Get(), &data));
    }
    return entry->second;
  }

  void Change() {
    ++FChangeNumber;
    if (FOptions.BeforeChange) FOptions.BeforeChange(FChangeNumber);
#ifdef MORVANE_TEST_HOOKS
    // The end-to-end tests stop the program at a chosen change, as a kill or a lost power would.
    wchar_t stopAt[16] = {};
    if (GetEnvironmentVariableW(L"MORVANE_TEST_INSTALL_STOP_AT", stopAt, 16) > 0 &&
        std::wcstol(stopAt, nullptr, 10) == FChangeNumber)
      TerminateProcess(GetCurrentProcess(), 3);
#endif
  }

  // The old files went aside writable: one delete each, from a few threads at once, since each
  // mostly waits for the file system. Whatever stays is left to the sweep of the work folder.
  void DeleteAsides() {
    std::vector<std::wstring> asides;
    for (size_t index : FWritten)
      if (!FChanges[index].Aside.empty()) asides.push_back(FWork + FChanges[index].Aside);
    std::atomic<size_t> next{0};
    const auto deleteSome = [&] {
      for (size_t i; (i = next++) < asides.size();) DeleteFileW(asides[i].c_str());
    };
    std::vector<std::thread> helpers;
    for (size_t n = 1; n < kDeleteThreads && n * kDeletesPerThread < asides.size(); ++n) {
      try {
        helpers.emplace_back(deleteSome);
      } catch (...) {
        break;  // fewer helpers: this thread deletes the rest
      }
    }
    deleteSome();
    for (std::thread& helper : helpers) helper.join();
  }
  static constexpr size_t kDeleteThreads = 4;
  static constexpr size_t kDeletesPerThread = 32;

  // The old file aside, then the new one from its temporary name into its place.
  void PutInPlace(const TChange& change) {
    FTarget = JoinZipPath(FProduct, change.Name);
    if (!change.Aside.empty()) {
      Change();
      // A read-only file may be renamed but never deleted, so the attribute goes first; the
      // record keeps it for the undo.
      if (change.Attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(FTarget.c_str(), change.Attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
      const DWORD code = MoveFileRetrying(FTarget, FWork + change.Aside, FTarget, FOptions);
      if (code != 0) RaiseFileError(L"create", FTarget, code);
    }
    Change();
    const DWORD code = MoveFileRetrying(JoinZipPath(FProduct, change.Temporary), FTarget, FTarget, FOptions);
    if (code != 0) RaiseFileError(L"create", FTarget, code);
  }

  // The entry's date and time (as local time), and its attributes when it was made on an MS-DOS
  // host, set on the open file in one call.
  static void SetTimesAndAttributes(HANDLE file, const TZipItem& item) {
    FILE_BASIC_INFO info{};
    FILETIME local{}, utc{};
    if (DosDateTimeValid(item.DosDate, item.DosTime) && DosDateTimeToFileTime(item.DosDate, item.DosTime, &local) &&
        LocalFileTimeToFileTime(&local, &utc)) {
      info.CreationTime.LowPart = info.LastWriteTime.LowPart = utc.dwLowDateTime;
      info.CreationTime.HighPart = info.LastWriteTime.HighPart = static_cast<LONG>(utc.dwHighDateTime);
    }
    if ((item.MadeBy >> 8) == 0) {
      // Read-only, hidden, system and archive; none of them is a plain file (0 leaves them).
      const DWORD attributes = item.ExternalAttributes & 0x27u;
      info.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    }
    if (info.LastWriteTime.QuadPart != 0 || info.FileAttributes != 0)
      SetFileInformationByHandle(file, FileBasicInfo, &info, sizeof info);
  }

  std::wstring FProduct, FWork;
  const TInstallOptions& FOptions;
  std::vector<TChange> FChanges;
  std::vector<TItemPlan> FItems;
  std::map<std::wstring, TFolderNames> FPresent;  // filled while planning
  size_t FItem = 0;
  TChange* FCurrent = nullptr;
  const TZipItem* FCurrentItem = nullptr;
  std::wstring FTarget;
  std::optional<TFileStream> FFile;
  // The files written so far, as indexes into FChanges, in entry order.
  std::vector<size_t> FWritten;
  TFlusher FFlusher{FOptions};
  int FChangeNumber = 0;
};

void ListInto(const std::wstring& productFolder, const std::wstring& relative, std::vector<TExistingName>& out) {
  WIN32_FIND_DATAW data{};
  const Sys::TFindHandle find(FindFirstFileW((productFolder + relative + L"*").c_str(), &data));
  if (!find) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (relative.empty() && isFolder && FoldFileName(name) == FoldFileName(kInstallWorkFolder)) continue;
    out.push_back({relative + name, isFolder});
    if (isFolder && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
      ListInto(productFolder, relative + name + L"\\", out);
  } while (FindNextFileW(find.Get(), &data));
}
}  // namespace

std::vector<TExistingName> ListProductFolder(const std::wstring& productFolder) {
  std::vector<TExistingName> names;
  ListInto(JoinZipPath(productFolder, L""), L"", names);
  return names;
}

void InstallZipItems(TZipSource& source, const std::vector<TZipItem>& items, const std::wstring& productFolder,
                     const TInstallOptions& options) {
  const std::wstring product = JoinZipPath(productFolder, L"");
  TInstallOutput output(product, items, options);
  try {
    output.Begin();
  } catch (...) {
    // Nothing changed yet: only the record's own folder goes.
    RemoveWorkFolder(WorkFolder(product), options);
    throw;
  }
  try {
    ExtractZipItems(source, items, output);
    output.Commit();
  } catch (...) {
    // A message of the archive's data ("Error reading zip file", "data error") gets the file.
    std::wstring message = CurrentExceptionText();
    if (!output.CurrentTarget().empty() && message.find(output.CurrentTarget()) == std::wstring::npos)
      message += L": " + output.CurrentTarget();
    output.CloseOpenFiles();
    try {
      UndoChanges(product, output.Changes(), options);
      RemoveWorkFolder(WorkFolder(product), options);
    } catch (const Exception& undo) {
      message += L" (" + undo.Message() + L")";
    }
    throw Exception(message);
  }
}

void UndoInterruptedInstall(const std::wstring& productFolder) {
  const std::wstring product = JoinZipPath(productFolder, L"");
  const std::wstring work = WorkFolder(product);
  if (!DirectoryExists(work)) return;
  const TInstallOptions options;
  if (!FileExists(work + kDoneName)) {
    const std::optional<std::vector<TChange>> changes = ParseRecord(ReadRecordFile(work + kRecordName));
    if (changes) UndoChanges(product, *changes, options);
  }
  RemoveWorkFolder(work, options);
}
