#include "release/downloader.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <utility>

#include "system/main_queue.h"
#include "release/download_plan.h"
#include "release/http_client.h"
#include "release/release_folder.h"
#include "system/errors.h"
#include "system/file_stream.h"
#include "system/text.h"

#ifdef MORVANE_TEST_HOOKS
std::function<void(int32_t)> DownloadWorkerStartHook;
#endif

namespace {

constexpr size_t kMergeBufferSize = 1048576;
constexpr uint32_t kProgressIntervalMs = 100;
constexpr wchar_t kWorkerUserAgent[] = L"Mozilla/5.0 (Windows NT 10.0; Win64; x64)";


}  // namespace

// ---------------------------------------------------------------------------------------------
// TParallelDownloader

TParallelDownloader::TParallelDownloader(std::wstring AUrl, std::wstring AFileName, int32_t AThreadCount)
    : FUrl(std::move(AUrl)),
      FFileName(std::move(AFileName)),
      FThreadCount(std::max<int32_t>(AThreadCount, 1)),
      FDownloadedParts(static_cast<size_t>(FThreadCount), 0),
      FPartFiles(static_cast<size_t>(FThreadCount)) {}

TParallelDownloader::~TParallelDownloader() = default;

std::wstring TParallelDownloader::Error() {
  std::lock_guard<std::mutex> lock(FLock);
  return FError;
}

void TParallelDownloader::Start() {
  FTotalSize = GetRemoteFileSize(FUrl);

  {
    // A file with fewer bytes than parts gets one part per byte; the counts and names shrink
    // with it. No worker exists yet, so nothing reports while this changes.
    std::lock_guard<std::mutex> lock(FLock);
    const int32_t parts = EffectivePartCount(FTotalSize, FThreadCount);
    if (parts < FThreadCount) {
      FThreadCount = parts;
      FDownloadedParts.resize(static_cast<size_t>(parts));
      FPartFiles.resize(static_cast<size_t>(parts));
    }
    FError.clear();
  }
  const std::vector<TPartRange> ranges = PlanRanges(FTotalSize, FThreadCount);

  std::vector<std::unique_ptr<TDownloadPartThread>> workers;
  workers.reserve(ranges.size());
  std::wstring startError;
  for (int32_t i = 0; i < FThreadCount; ++i) {
    FPartFiles[static_cast<size_t>(i)] = GetPartFileName(i);
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

  if (!startError.empty()) throw Exception(startError);
  std::wstring error;
  {
    std::lock_guard<std::mutex> lock(FLock);
    error = FError;
  }
  if (!error.empty()) throw Exception(error);

  if (wholeFilePart >= 0)
    TakeWholeFile(wholeFilePart);
  else
    MergeParts();
}

int64_t TParallelDownloader::GetRemoteFileSize(const std::wstring& url) {
  THttpClient client;
  const std::unique_ptr<THttpResponse> response = client.Head(url);
  CheckResponse(response.get(), L"HEAD запрос для определения размера");
  const int64_t size = response->HasHeader(L"Content-Length") ? ParseContentLength(response->Header(L"Content-Length")) : -1;
  if (size > 0) return size;
  throw Exception(L"Не удалось определить размер файла");
}

std::wstring TParallelDownloader::GetPartFileName(int32_t index) const { return PartFileName(FFileName, index); }

void TParallelDownloader::AppendPart(TFileStream& target, int32_t index, std::vector<char>& buffer) {
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
      remaining -= static_cast<int64_t>(read);
    }
  }
  DeleteFileW(path.c_str());
}

void TParallelDownloader::CheckTargetSize(TFileStream& target) {
  const int64_t size = target.Size();
  if (size == FTotalSize) return;
  target.Close();
  DeleteFileW(FFileName.c_str());
  throw Exception(FormatMessageText(L"Размер собранного файла %d байт вместо %d", {IntToStr(size), IntToStr(FTotalSize)}));
}

void TParallelDownloader::MergeParts() {
  TFileStream target = TFileStream::Create(FFileName);
  std::vector<char> buffer;
  buffer.reserve(kMergeBufferSize);
  for (int32_t i = 0; i < FThreadCount; ++i) AppendPart(target, i, buffer);
  CheckTargetSize(target);
}

void TParallelDownloader::TakeWholeFile(int32_t index) {
  TFileStream target = TFileStream::Create(FFileName);
  std::vector<char> buffer;
  AppendPart(target, index, buffer);
  for (int32_t i = 0; i < FThreadCount; ++i)
    if (i != index) DeleteFileW(FPartFiles[static_cast<size_t>(i)].c_str());
  CheckTargetSize(target);
}

void TParallelDownloader::UpdatePartProgress(int32_t PartIndex, int64_t Downloaded) {
  int64_t sum = 0;
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (PartIndex < 0 || PartIndex >= FThreadCount) return;
    int64_t& entry = FDownloadedParts[static_cast<size_t>(PartIndex)];
    if (Downloaded > entry) entry = Downloaded;
    for (int64_t count : FDownloadedParts) sum += count;
  }
  if (FOnProgress) FOnProgress(this, sum, FTotalSize);
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
    THttpClient client;
    client.UserAgent = kWorkerUserAgent;
    const TPartRange range{FStartByte, FEndByte};
    client.CustomHeaders = {{L"Range", RangeHeaderValue(range)}};
    client.OnReceiveData = [this](void* Sender, int64_t AContentLength, int64_t AReadCount, bool& AAbort) {
      ReceiveData(Sender, AContentLength, AReadCount, AAbort);
    };
    TFileStream part = TFileStream::Create(FPartFile);
    const std::unique_ptr<THttpResponse> response = client.Get(FUrl, &part);
    if (response->StatusCode < 200 || response->StatusCode > 299) {
      throw Exception(FormatMessageText(L"HTTP %d: %s", {IntToStr(response->StatusCode), response->StatusText}));
    }
    const int64_t received = part.Size();
    DoProgress(received);
    if (FDownloader) {
      // A part counts only when it holds exactly its range (or, from a server that ignores
      // "Range", exactly the whole file).
      FWholeFile = CheckPart(response->StatusCode, response->Header(L"Content-Range"), received, range,
                             FDownloader->FTotalSize) == TPartOutcome::WholeFile;
    }
  } catch (...) {
    RecordFailure(CurrentExceptionText());
  }
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
    DoProgress(AReadCount);
  }
}

void TDownloadPartThread::DoProgress(int64_t Downloaded) {
  TParallelDownloader* downloader = FDownloader;
  if (!downloader) return;
  const int32_t index = FPartIndex;
  MainQueue::Post([downloader, index, Downloaded] { downloader->UpdatePartProgress(index, Downloaded); });
}
