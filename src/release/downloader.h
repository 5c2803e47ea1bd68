// The parallel ranged downloader: one file, given by its direct link, fetched over several
// HTTP byte ranges at once into part files next to the target, then joined into the target.
//
// Use: create it, set OnProgress, call Start on a background thread (never on the main thread:
// the workers need the main thread for their progress while Start waits). Start returns when
// the target holds the whole remote file byte for byte, or raises one Exception.
//
// Lifetime: every worker posts its final progress report to the main thread's queue shortly
// before it ends, so reports may still be queued when Start returns or raises. They call
// UpdatePartProgress on this object, so the owner must keep the downloader alive until they
// have run: release it in a procedure posted to the main thread after Start has returned (the
// queue runs in posting order), never on the job thread itself.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using TParallelProgressEvent = std::function<void(void* Sender, int64_t Downloaded, int64_t Total)>;

class TDownloadPartThread;
class TFileStream;

class TParallelDownloader {
 public:
  // AThreadCount: the number of parts and workers, at least 1.
  TParallelDownloader(std::wstring AUrl, std::wstring AFileName, int32_t AThreadCount);
  virtual ~TParallelDownloader();
  TParallelDownloader(const TParallelDownloader&) = delete;
  TParallelDownloader& operator=(const TParallelDownloader&) = delete;

  // Sizes the file with HEAD, downloads every range on a worker of its own, waits for all of
  // them and joins the parts into the target. Blocks; raises on any failure.
  void Start();
  // Main thread only: records the byte count of one part (counts never go down) and reports
  // the sum over all parts to OnProgress.
  void UpdatePartProgress(int32_t PartIndex, int64_t Downloaded);

  const TParallelProgressEvent& OnProgress() const { return FOnProgress; }
  void SetOnProgress(TParallelProgressEvent value) { FOnProgress = std::move(value); }
  std::wstring Error();

 private:
  friend class TDownloadPartThread;

  int64_t GetRemoteFileSize(const std::wstring& url);
  std::wstring GetPartFileName(int32_t index) const;
  void MergeParts();
  // The target made of one part file that holds the whole file; every part file is deleted.
  void TakeWholeFile(int32_t index);
  void AppendPart(TFileStream& target, int32_t index, std::vector<char>& buffer);
  void CheckTargetSize(TFileStream& target);

  std::wstring FUrl;
  std::wstring FFileName;
  // Lowered by Start for a file with fewer bytes than parts: one part per byte at most.
  int32_t FThreadCount;
  int64_t FTotalSize = 0;
  std::vector<int64_t> FDownloadedParts;
  std::vector<std::wstring> FPartFiles;
  TParallelProgressEvent FOnProgress;
  std::wstring FError;
  std::mutex FLock;
};

// One part: a ranged GET into the part file, on a thread of its own that starts as soon as the
// object is constructed. Its creator waits for it and then destroys it.
class TDownloadPartThread final {
 public:
  // Raises when the thread cannot be started.
  TDownloadPartThread(std::wstring AUrl, std::wstring APartFile, int64_t AStartByte, int64_t AEndByte,
                      TParallelDownloader* ADownloader, int32_t APartIndex);
  // Waits for the thread when nobody did.
  ~TDownloadPartThread();
  TDownloadPartThread(const TDownloadPartThread&) = delete;
  TDownloadPartThread& operator=(const TDownloadPartThread&) = delete;

  void WaitFor();
  // After WaitFor: the part was answered with the whole file instead of its range.
  bool WholeFile() const { return FWholeFile; }

 private:
  void Execute();
  void ReceiveData(void* Sender, int64_t AContentLength, int64_t AReadCount, bool& AAbort);
  void DoProgress(int64_t Downloaded);
  void RecordFailure(const std::wstring& message);

  std::wstring FUrl;
  std::wstring FPartFile;
  int64_t FStartByte;
  int64_t FEndByte;
  int32_t FPartIndex;
  TParallelDownloader* FDownloader;
  uint32_t FLastUpdateTick = 0;
  bool FWholeFile = false;
  std::thread FThread;
};

#ifdef MORVANE_TEST_HOOKS
// Called with the part index just before a worker's thread is started; a test makes it raise
// to stand for a thread that cannot be created.
extern std::function<void(int32_t)> DownloadWorkerStartHook;
#endif
