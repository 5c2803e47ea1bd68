#include "release/downloader.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <utility>

#include "system/main_queue.h"
#include "release/download_plan.h"
#include "release/range_plan.h"
#include "release/http_client.h"
#include "release/release_folder.h"
#include "system/errors.h"
#include "system/file_stream.h"
#include "system/sha256.h"
#include "system/text.h"

#ifdef MORVANE_TEST_HOOKS
std::function<void(int32_t)> DownloadWorkerStartHook;
std::function<void(double)> DownloadMergeTimeHook;
std::function<void()> DownloadFirstByteHook;
namespace {
std::atomic<bool> g_firstByteSeen{false};
}
uint32_t DownloadStallWindowMs = kStallWindowMs;
int64_t DownloadStallMinBytes = kStallMinBytes;
#endif

namespace {

constexpr size_t kMergeBufferSize = 1048576;
constexpr uint32_t kProgressIntervalMs = 100;
constexpr wchar_t kWorkerUserAgent[] = L"Mozilla/5.0 (Windows NT 10.0; Win64; x64)";

void SetStallGuard(THttpClient& client) {
#ifdef MORVANE_TEST_HOOKS
  client.StallWindowMs = DownloadStallWindowMs;
  client.StallMinBytes = DownloadStallMinBytes;
  // The launcher's own tests shorten the window from outside.
  if (const wchar_t* window = _wgetenv(L"MORVANE_STALL_WINDOW_MS"); window && *window)
    client.StallWindowMs = static_cast<uint32_t>(_wtoi(window));
#else
  client.StallWindowMs = kStallWindowMs;
  client.StallMinBytes = kStallMinBytes;
#endif
}

int64_t FileLength(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

}  // namespace

// The SHA-256 of the whole file, taken while the parts arrive: a thread of its own reads the
// part files in order, each up to what its worker has written so far, so that the join has
// nothing left to hash. It keeps up only while every part grows by appending: a write
// anywhere else, a cut below what a worker wrote, or an answer with the whole file in place of
// a range loses it, and the join then hashes the parts itself.
class TPartHasher {
 public:
  TPartHasher(std::vector<std::wstring> partFiles, std::vector<TPartRange> ranges)
      : FPartFiles(std::move(partFiles)), FRanges(std::move(ranges)), FWritten(FRanges.size()) {}
  ~TPartHasher() { Finish(); }
  TPartHasher(const TPartHasher&) = delete;
  TPartHasher& operator=(const TPartHasher&) = delete;

  // Raises when the thread cannot be started (the join then hashes).
  void Begin() { FThread = std::thread([this] { Follow(); }); }

  // Worker side. A write of count bytes at position of part index has been made.
  void Wrote(size_t index, int64_t position, size_t count) {
    if (position != FWritten[index].load(std::memory_order_relaxed)) {
      Lose();
      return;
    }
    FWritten[index].store(position + static_cast<int64_t>(count), std::memory_order_release);
  }
  // Before part index is cut to size.
  void Cutting(size_t index, int64_t size) {
    if (size < FWritten[index].load(std::memory_order_relaxed)) Lose();
  }
  void Lose() { FLost.store(true); }

  // Once every worker has ended: lets the thread read what is left and waits for it.
  void Finish() {
    FWorkersDone.store(true);
    if (FThread.joinable()) FThread.join();
  }
  // After Finish: the hash of every part whole, or null when it could not keep up.
  TSha256* Covering() { return FComplete && !FLost.load() ? &*FHash : nullptr; }

 private:
  void Follow() {
    try {
      FHash.emplace();
      std::vector<char> buffer(kHashBlock);
      for (size_t index = 0; index < FRanges.size(); ++index)
        if (!FollowPart(index, buffer)) return;
      FComplete = true;
    } catch (...) {
      Lose();
    }
  }

  // False when the part could not be followed to its end.
  bool FollowPart(size_t index, std::vector<char>& buffer) {
    const int64_t length = FRanges[index].Length();
    Sys::TFileHandle file;
    int64_t position = 0;
    while (position < length) {
      if (FLost.load()) return false;
      const int64_t written = FWritten[index].load(std::memory_order_acquire);
      if (written <= position) {
        // Nothing new: a worker that has ended will write nothing more.
        if (FWorkersDone.load() && FWritten[index].load(std::memory_order_acquire) <= position) return false;
        Sleep(1);
        continue;
      }
      if (!file) {
        // Opened once its worker has written to it, so it is this run's file.
        file.Reset(CreateFileW(FPartFiles[index].c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
      }
      const DWORD want = static_cast<DWORD>(std::min<int64_t>(written - position, static_cast<int64_t>(buffer.size())));
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(static_cast<uint64_t>(position));
      at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(position) >> 32);
      DWORD read = 0;
      if (!ReadFile(file.Get(), buffer.data(), want, &read, &at) || read != want) return false;
      // A cut is announced before it is made: bytes read while one was under way are not used.
      if (FLost.load()) return false;
      FHash->Update(buffer.data(), read);
      position += read;
    }
    return true;
  }

  static constexpr size_t kHashBlock = 1048576;
  const std::vector<std::wstring> FPartFiles;
  const std::vector<TPartRange> FRanges;
  std::vector<std::atomic<int64_t>> FWritten;  // per part: bytes appended in order so far
  std::atomic<bool> FLost{false};
  std::atomic<bool> FWorkersDone{false};
  bool FComplete = false;
  std::optional<TSha256> FHash;
  std::thread FThread;
};

namespace {

// The part file as the HTTP client's sink: refuses at once a byte past the most the part may
// hold, so a runaway body never fills the disk. With a hasher, it tells that where every write
// went and every cut before it is made.
class TPartSink final : public TStream {
 public:
  explicit TPartSink(TStream& file) : FFile(file) {}
  int64_t Limit = 0;
  // A write of the file itself failed, or the body ran past Limit.
  bool Refused = false;
  TPartHasher* Hasher = nullptr;
  size_t Index = 0;

  void Write(const void* data, size_t count) override {
    const int64_t at = FFile.Position();
    if (at + static_cast<int64_t>(count) > Limit) {
      Refused = true;
      throw Exception(FormatMessageText(L"сервер прислал больше данных, чем %d байт диапазона части",
                                        {IntToStr(Limit)}));
    }
    try {
      FFile.Write(data, count);
    } catch (...) {
      Refused = true;
      throw;
    }
    if (Hasher) Hasher->Wrote(Index, at, count);
#ifdef MORVANE_TEST_HOOKS
    if (DownloadFirstByteHook && !g_firstByteSeen.exchange(true)) DownloadFirstByteHook();
#endif
  }
  size_t Read(void* data, size_t count) override { return FFile.Read(data, count); }
  int64_t Size() override { return FFile.Size(); }
  int64_t Position() override { return FFile.Position(); }
  void Seek(int64_t position) override { FFile.Seek(position); }
  void SetSize(int64_t size) override {
    if (Hasher) Hasher->Cutting(Index, size);
    FFile.SetSize(size);
  }

 private:
  TStream& FFile;
};


}  // namespace

// ---------------------------------------------------------------------------------------------
// TParallelDownloader

TParallelDownloader::TParallelDownloader(std::wstring AUrl, std::wstring AFileName, int32_t AThreadCount,
                                         int64_t AExpectedSize, std::wstring AExpectedSha256)
    : FUrl(std::move(AUrl)),
      FFileName(std::move(AFileName)),
      FExpectedSize(AExpectedSize),
      FExpectedSha256(std::move(AExpectedSha256)),
      FThreadCount(std::max<int32_t>(AThreadCount, 1)),
      FDownloadedParts(static_cast<size_t>(FThreadCount), 0),
      FConnections(FThreadCount),
      FPartFiles(static_cast<size_t>(FThreadCount)) {}

TParallelDownloader::~TParallelDownloader() = default;

std::wstring TParallelDownloader::Error() {
  std::lock_guard<std::mutex> lock(FLock);
  return FError;
}

void TParallelDownloader::SetRanges(std::vector<TPartRange> ranges) { FOnlyRanges = std::move(ranges); }

void TParallelDownloader::Start() {
  FTotalSize = GetRemoteFileSize(FUrl);
  FProgressTotal = FTotalSize;
  for (const TPartRange& r : FOnlyRanges)
    if (r.StartByte < 0 || r.EndByte < r.StartByte || r.EndByte >= FTotalSize)
      throw Exception(FormatMessageText(L"Диапазон %s вне файла", {RangeHeaderValue(r)}));

  {
    // A file with fewer bytes than parts gets one part per byte; the counts and names shrink
    // with it. No worker exists yet, so nothing reports while this changes.
    std::lock_guard<std::mutex> lock(FLock);
    const int32_t parts =
        FOnlyRanges.empty() ? EffectivePartCount(FTotalSize, FThreadCount) : static_cast<int32_t>(FOnlyRanges.size());
    if (!FOnlyRanges.empty()) {
      FThreadCount = parts;
      FDownloadedParts.assign(static_cast<size_t>(parts), 0);
      FPartFiles.resize(static_cast<size_t>(parts));
      FProgressTotal = RangeBytes(FOnlyRanges);
    } else if (parts < FThreadCount) {
      FThreadCount = parts;
      FDownloadedParts.resize(static_cast<size_t>(parts));
      FPartFiles.resize(static_cast<size_t>(parts));
    }
    FError.clear();
  }
  const std::vector<TPartRange> ranges = FOnlyRanges.empty() ? PlanRanges(FTotalSize, FThreadCount) : FOnlyRanges;
  {
    std::lock_guard<std::mutex> lock(FLock);
    FRanges = ranges;
  }
  for (int32_t i = 0; i < FThreadCount; ++i) FPartFiles[static_cast<size_t>(i)] = GetPartFileName(i);
  if (!FExpectedSha256.empty()) {
    // Without a thread for it the join hashes, as it does when the hasher falls behind.
    try {
      FHasher = std::make_unique<TPartHasher>(FPartFiles, ranges);
      FHasher->Begin();
    } catch (...) {
      FHasher.reset();
    }
  }

  std::vector<std::unique_ptr<TDownloadPartThread>> workers;
  workers.reserve(ranges.size());
  std::wstring startError;
  for (int32_t i = 0; i < FThreadCount; ++i) {
    // More ranges than connections: a range starts when the one that many places before ends.
    if (i >= FConnections) workers[static_cast<size_t>(i - FConnections)]->WaitFor();
    try {
      workers.push_back(std::make_unique<TDownloadPartThread>(FUrl, FPartFiles[static_cast<size_t>(i)],
                                                              ranges[static_cast<size_t>(i)].StartByte,
                                                              ranges[static_cast<size_t>(i)].EndByte, this, i));
    } catch (...) {
      startError = FormatMessageText(L"Не удалось запустить поток части %d: %s", {IntToStr(i), CurrentExceptionText()});
    }
    // The workers already running finish their parts; Start raises after waiting for them.
    if (!startError.empty()) break;
  }

  int32_t wholeFilePart = -1;
  for (size_t i = 0; i < workers.size(); ++i) {
    workers[i]->WaitFor();
    if (wholeFilePart < 0 && workers[i]->WholeFile()) wholeFilePart = static_cast<int32_t>(i);
    workers[i].reset();
  }
  if (FHasher) FHasher->Finish();

  if (!startError.empty()) throw Exception(startError);
  std::wstring error;
  {
    std::lock_guard<std::mutex> lock(FLock);
    error = FError;
  }
  if (!error.empty()) throw Exception(error);

#ifdef MORVANE_TEST_HOOKS
  const auto mergeBegan = std::chrono::steady_clock::now();
#endif
  if (!FOnlyRanges.empty())
    PlaceParts();
  else if (wholeFilePart >= 0)
    TakeWholeFile(wholeFilePart);
  else
    MergeParts();
#ifdef MORVANE_TEST_HOOKS
  if (DownloadMergeTimeHook)
    DownloadMergeTimeHook(std::chrono::duration<double>(std::chrono::steady_clock::now() - mergeBegan).count());
#endif
}

int64_t TParallelDownloader::AskRemoteFileSize(const std::wstring& url, bool& refused, bool& passing) {
  refused = passing = false;
  THttpClient client;
  std::unique_ptr<THttpResponse> response;
  try {
    response = client.Head(url);
  } catch (const ETransferError&) {
    passing = true;
    throw;
  }
  // HEAD is not something every download host answers: a refused one leaves the size to the
  // listing.
  const int status = response->StatusCode;
  refused = status == 403 || status == 405 || status == 501;
  if (refused && FExpectedSize > 0) return -1;
  passing = IsPassingStatus(status);
  CheckResponse(response.get(), L"HEAD запрос для определения размера");
  return ParseContentLength(response->Header(L"Content-Length"));
}

int64_t TParallelDownloader::GetRemoteFileSize(const std::wstring& url) {
  int64_t size = -1;
  for (int attempt = 0;; ++attempt) {
    bool refused = false, passing = false;
    try {
      size = AskRemoteFileSize(url, refused, passing);
      break;
    } catch (...) {
      // A passing failure is asked again; after the last try the listing's size serves.
      if (!passing) throw;
      if (attempt == kPartRetries) {
        if (FExpectedSize > 0) break;
        throw;
      }
    }
    Sleep(RetryPauseMs(attempt, 0));
  }
  if (size > 0 && FExpectedSize > 0 && size != FExpectedSize)
    throw Exception(FormatMessageText(L"Размер файла на сервере (%d байт) не совпадает с опубликованным (%d байт)",
                                      {IntToStr(size), IntToStr(FExpectedSize)}));
  if (size > 0) return size;
  if (FExpectedSize > 0) return FExpectedSize;
  throw Exception(L"Не удалось определить размер файла");
}

std::wstring TParallelDownloader::GetPartFileName(int32_t index) const { return PartFileName(FFileName, index); }

void TParallelDownloader::AppendPart(TFileStream& target, int32_t index, std::vector<char>& buffer, TSha256* hash) {
  const std::wstring& path = FPartFiles[static_cast<size_t>(index)];
  if (!FileExists(path)) throw Exception(FormatMessageText(L"Отсутствует временный файл части %d", {IntToStr(index)}));
  {
    TFileStream part = TFileStream::Open(path, 0);
    int64_t remaining = part.Size();
    buffer.resize(static_cast<size_t>(std::min<int64_t>(remaining, static_cast<int64_t>(kMergeBufferSize))));
    while (remaining > 0) {
      const size_t chunk = static_cast<size_t>(std::min<int64_t>(remaining, static_cast<int64_t>(buffer.size())));
      const size_t read = part.Read(buffer.data(), chunk);
      if (read == 0) break;
      target.Write(buffer.data(), read);
      // Hashed in the same pass: the joined file is never read back.
      if (hash) hash->Update(buffer.data(), read);
      remaining -= static_cast<int64_t>(read);
    }
  }
  DeleteFileW(path.c_str());
}

void TParallelDownloader::DeletePartFiles() {
  for (const std::wstring& path : FPartFiles)
    if (!path.empty()) DeleteFileW(path.c_str());
}

void TParallelDownloader::CheckTarget(TFileStream& target, TSha256* hash) {
  const int64_t size = target.Size();
  std::wstring error;
  if (size != FTotalSize)
    error = FormatMessageText(L"Размер собранного файла %d байт вместо %d", {IntToStr(size), IntToStr(FTotalSize)});
  else if (hash && hash->HexDigest() != FExpectedSha256)
    error = L"Контрольная сумма скачанного архива (SHA-256) не совпадает с опубликованной";
  if (error.empty()) return;
  target.Close();
  DeleteFileW(FFileName.c_str());
  DeletePartFiles();
  throw Exception(error);
}

TSha256* TParallelDownloader::JoinHash(std::optional<TSha256>& fresh, bool& taken) {
  taken = false;
  if (FExpectedSha256.empty()) return nullptr;
  if (FHasher)
    if (TSha256* followed = FHasher->Covering()) {
      taken = true;
      return followed;
    }
  return &fresh.emplace();
}

void TParallelDownloader::MergeParts() {
  TFileStream target = TFileStream::Create(FFileName);
  std::optional<TSha256> fresh;
  bool hashed = false;
  TSha256* hash = JoinHash(fresh, hashed);
  std::vector<char> buffer;
  buffer.reserve(kMergeBufferSize);
  for (int32_t i = 0; i < FThreadCount; ++i) AppendPart(target, i, buffer, hashed ? nullptr : hash);
  CheckTarget(target, hash);
}

void TParallelDownloader::TakeWholeFile(int32_t index) {
  TFileStream target = TFileStream::Create(FFileName);
  std::optional<TSha256> fresh;
  bool hashed = false;
  TSha256* hash = JoinHash(fresh, hashed);
  std::vector<char> buffer;
  AppendPart(target, index, buffer, hashed ? nullptr : hash);
  for (int32_t i = 0; i < FThreadCount; ++i)
    if (i != index) DeleteFileW(FPartFiles[static_cast<size_t>(i)].c_str());
  CheckTarget(target, hash);
}

void TParallelDownloader::PlaceParts() {
  TFileStream target = TFileStream::Create(FFileName);
  // Sparse where the file system allows it: the bytes between the ranges take no room.
  DWORD returned = 0;
  DeviceIoControl(target.Handle(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  target.SetSize(FTotalSize);
  std::vector<char> buffer;
  for (int32_t i = 0; i < FThreadCount; ++i) {
    const TPartRange& range = FRanges[static_cast<size_t>(i)];
    if (FileLength(FPartFiles[static_cast<size_t>(i)]) != range.Length()) {
      target.Close();
      DeleteFileW(FFileName.c_str());
      DeletePartFiles();
      throw Exception(FormatMessageText(L"Часть %d получена не полностью", {IntToStr(i)}));
    }
    target.Seek(range.StartByte);
    AppendPart(target, i, buffer, nullptr);
  }
}

void TParallelDownloader::UpdatePartProgress(int32_t PartIndex, int64_t Downloaded) {
  int64_t sum = 0;
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (PartIndex < 0 || PartIndex >= FThreadCount) return;
    // Once the ranges are planned, a part counts only the bytes of its own range, even from a
    // server that sends it the whole file, so the sum never passes the file.
    int64_t own = std::max<int64_t>(Downloaded, 0);
    if (static_cast<size_t>(PartIndex) < FRanges.size())
      own = std::min(own, FRanges[static_cast<size_t>(PartIndex)].Length());
    int64_t& entry = FDownloadedParts[static_cast<size_t>(PartIndex)];
    if (own > entry) entry = own;
    for (int64_t count : FDownloadedParts) sum += count;
  }
  if (FOnProgress) FOnProgress(this, sum, FProgressTotal);
}

// ---------------------------------------------------------------------------------------------
// TDownloadPartThread

TDownloadPartThread::TDownloadPartThread(std::wstring AUrl, std::wstring APartFile, int64_t AStartByte,
                                         int64_t AEndByte, TParallelDownloader* ADownloader, int32_t APartIndex)
    : FUrl(std::move(AUrl)),
      FPartFile(std::move(APartFile)),
      FStartByte(AStartByte),
      FEndByte(AEndByte),
      FPartIndex(APartIndex),
      FDownloader(ADownloader) {
#ifdef MORVANE_TEST_HOOKS
  if (DownloadWorkerStartHook) DownloadWorkerStartHook(FPartIndex);
#endif
  // Started last, once every field is in place.
  FThread = std::thread([this] { Execute(); });
}

TDownloadPartThread::~TDownloadPartThread() { WaitFor(); }

void TDownloadPartThread::WaitFor() {
  if (FThread.joinable()) FThread.join();
}

void TDownloadPartThread::Execute() {
  try {
    // Shared for reading with the hasher, which follows the part as it grows.
    TFileStream part = TFileStream::Create(FPartFile, FILE_SHARE_READ);
    std::wstring lastError;
    for (int attempt = 0;; ++attempt) {
      if (TryOnce(part, lastError)) return;
      if (attempt == kPartRetries) throw Exception(lastError);
      Sleep(RetryPauseMs(attempt, FRetryAfterMs));
    }
  } catch (...) {
    RecordFailure(CurrentExceptionText());
  }
}

bool TDownloadPartThread::TryOnce(TFileStream& part, std::wstring& lastError) {
  const int64_t total = FDownloader ? FDownloader->FTotalSize : FEndByte + 1;
  const bool wholeRange = FStartByte == 0 && FEndByte == total - 1;
  TPartSink sink(part);
  if (FDownloader && FDownloader->FHasher) {
    sink.Hasher = FDownloader->FHasher.get();
    sink.Index = static_cast<size_t>(FPartIndex);
  }
  // What the part file still lacks: of the range, or of the whole file once the server has
  // answered with all of it. Every byte in it came from an answer whose head named exactly
  // those bytes; a part is done only when such an answer also ended its body, so one that
  // holds every byte here had its last answer fail: its last byte is asked again.
  const int64_t needed = FWholeFile ? total : FEndByte - FStartByte + 1;
  if (part.Size() >= needed) sink.SetSize(needed - 1);
  const int64_t have = part.Size();
  const TPartRange rest{(FWholeFile ? 0 : FStartByte) + have, FWholeFile ? total - 1 : FEndByte};

  THttpClient client;
  client.UserAgent = kWorkerUserAgent;
  client.CustomHeaders = {{L"Range", RangeHeaderValue(rest)}};
  SetStallGuard(client);
  client.OnReceiveData = [this](void* Sender, int64_t AContentLength, int64_t AReadCount, bool& AAbort) {
    ReceiveData(Sender, AContentLength, AReadCount, AAbort);
  };
  sink.Limit = have + rest.Length();
  bool final = false;
  int64_t expected = -1;  // the body length the judged head promised
  FRetryAfterMs = 0;
  // The head is judged before the first byte of the body reaches the part file.
  client.OnResponseHead = [&](const THttpResponse& response) {
    const int status = response.StatusCode;
    if (status < 200 || status > 299) {
      final = !IsPassingStatus(status);
      FRetryAfterMs = RetryAfterMs(response.Header(L"Retry-After"));
      throw Exception(FormatMessageText(L"HTTP %d: %s", {IntToStr(status), response.StatusText}));
    }
    if (status == 206) {
      expected = JudgePartHead(status, response.Header(L"Content-Range"), response.Header(L"Content-Length"), rest,
                               total);
      return;
    }
    // Some ranges of the file only: a server that ignores "Range" would send all of it, again
    // for every range.
    if (FDownloader && !FDownloader->FOnlyRanges.empty() && !wholeRange) {
      final = true;
      throw Exception(FormatMessageText(L"HTTP %d: сервер не отдаёт части файла", {IntToStr(status)}));
    }
    expected = JudgePartHead(status, L"", response.Header(L"Content-Length"), rest, total);
    // A server that ignores "Range" sends the whole file: it replaces what the part held.
    if (sink.Hasher && !wholeRange) sink.Hasher->Lose();
    sink.SetSize(0);
    sink.Seek(0);
    sink.Limit = total;
    FResumeBase = 0;
    FWholeFile = !wholeRange;
  };
  FResumeBase = have;
  part.Seek(have);

  std::unique_ptr<THttpResponse> response;
  try {
    response = client.Get(FUrl, &sink);
  } catch (...) {
    // A cut connection, a time-out, a stall, a head for other bytes or a passing server
    // error: worth another try, from the bytes judged so far.
    if (final || sink.Refused) throw;
    lastError = CurrentExceptionText();
    DoProgress(part.Size());
    return false;
  }
  const int64_t received = part.Size();
  DoProgress(received);
  // A body that ended short is a cut whatever its framing: resumed.
  const int64_t arrived = received - (response->StatusCode == 206 ? have : 0);
  if (arrived < expected) {
    lastError = FormatMessageText(L"получено %d байт вместо %d", {IntToStr(arrived), IntToStr(expected)});
    return false;
  }
  return true;
}

void TDownloadPartThread::RecordFailure(const std::wstring& message) {
  if (!FDownloader) return;
  const std::wstring text = FormatMessageText(L"Ошибка части %d: %s", {IntToStr(FPartIndex), message});
  std::lock_guard<std::mutex> lock(FDownloader->FLock);
  FDownloader->FError = text;
}

void TDownloadPartThread::ReceiveData(void*, int64_t, int64_t AReadCount, bool&) {
  if (TickIntervalPassed(GetTickCount(), FLastUpdateTick, kProgressIntervalMs)) {
    FLastUpdateTick = GetTickCount();
    DoProgress(FResumeBase + AReadCount);
  }
}

// Downloaded: bytes in the part file, each from an answer whose head was judged. Counted as
// bytes of the part's own range: from a whole-file answer only those at or past its start.
void TDownloadPartThread::DoProgress(int64_t Downloaded) {
  TParallelDownloader* downloader = FDownloader;
  if (!downloader) return;
  if (FWholeFile) Downloaded -= FStartByte;
  const int32_t index = FPartIndex;
  MainQueue::Post([downloader, index, Downloaded] { downloader->UpdatePartProgress(index, Downloaded); });
}
