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
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "release/download_plan.h"
#include "release/retry.h"

using TParallelProgressEvent = std::function<void(void* Sender, int64_t Downloaded, int64_t Total)>;

class TDownloadPartThread;
class TFileStream;
class TPartHasher;
class TSha256;

class TParallelDownloader {
 public:
  // AThreadCount: the number of parts and workers, at least 1. AExpectedSize and
  // AExpectedSha256 are what the folder's listing publishes for the file (-1 and empty when it
  // gives none): the size stands in for a HEAD that gives none, and the joined file must have
  // that SHA-256.
  TParallelDownloader(std::wstring AUrl, std::wstring AFileName, int32_t AThreadCount, int64_t AExpectedSize = -1,
                      std::wstring AExpectedSha256 = {});
  virtual ~TParallelDownloader();
  TParallelDownloader(const TParallelDownloader&) = delete;
  TParallelDownloader& operator=(const TParallelDownloader&) = delete;

  // Sizes the file with HEAD, downloads every range on a worker of its own, waits for all of
  // them and joins the parts into the target, checking its SHA-256 on the way. Blocks; raises
  // on any failure. A joined file of the wrong size or checksum is deleted with the parts.
  void Start();
  // Before Start: fetch only these ranges of the file (sorted, apart, inside it), at most
  // AThreadCount at a time, and place each at its own offset in a target as large as the file;
  // the bytes between stay zero. Progress then runs over the ranges' bytes. A server that
  // answers a range with the whole file fails that part at once (no whole file is taken), and
  // no SHA-256 of the whole can be checked: the caller checks what it fetched.
  void SetRanges(std::vector<TPartRange> ranges);
  // Main thread only: records the byte count of one part (counts never go down) and reports
  // the sum over all parts to OnProgress.
  void UpdatePartProgress(int32_t PartIndex, int64_t Downloaded);

  const TParallelProgressEvent& OnProgress() const { return FOnProgress; }
  void SetOnProgress(TParallelProgressEvent value) { FOnProgress = std::move(value); }
  std::wstring Error();

 private:
  friend class TDownloadPartThread;

  int64_t GetRemoteFileSize(const std::wstring& url);
  // One HEAD: the size it gives (-1: none), or the reason to fall back to the listing's size
  // in refused; raises when asking again may help (transfer), else a final failure.
  int64_t AskRemoteFileSize(const std::wstring& url, bool& refused, bool& passing);
  std::wstring GetPartFileName(int32_t index) const;
  void MergeParts();
  // The target made of one part file that holds the whole file; every part file is deleted.
  void TakeWholeFile(int32_t index);
  void AppendPart(TFileStream& target, int32_t index, std::vector<char>& buffer, TSha256* hash);
  // The hash of the joined file: the one taken while the parts arrived when it covers them all
  // (taken is then set and the join hashes nothing); otherwise a new one in fresh, which the
  // join feeds. None without a published checksum.
  TSha256* JoinHash(std::optional<TSha256>& fresh, bool& taken);
  // Size and published SHA-256 of the joined target; deletes it when either is wrong.
  void CheckTarget(TFileStream& target, TSha256* hash);
  void DeletePartFiles();
  // The fetched ranges written into the target at their offsets; every part file is deleted.
  void PlaceParts();

  std::wstring FUrl;
  std::wstring FFileName;
  int64_t FExpectedSize;
  std::wstring FExpectedSha256;
  // Lowered by Start for a file with fewer bytes than parts: one part per byte at most.
  int32_t FThreadCount;
  int64_t FTotalSize = 0;
  std::vector<int64_t> FDownloadedParts;
  std::vector<TPartRange> FRanges;
  std::vector<TPartRange> FOnlyRanges;  // SetRanges; empty: the whole file
  int32_t FConnections;                 // workers at a time
  int64_t FProgressTotal = 0;           // the bytes progress runs over
  std::vector<std::wstring> FPartFiles;
  TParallelProgressEvent FOnProgress;
  std::wstring FError;
  std::mutex FLock;
  // The SHA-256 of the parts, taken on a thread of its own while they arrive, so the join
  // hashes nothing (a published checksum only).
  std::unique_ptr<TPartHasher> FHasher;
};

// One part: a ranged GET into the part file, on a thread of its own that starts as soon as the
// object is constructed. A transport failure, a stalled or short body, an answer for other
// bytes than asked, or a passing server error (408, 429, 500, 502, 503, 504) is retried up to
// kPartRetries times after growing pauses, each time for the bytes the part file still lacks.
// Bytes go into the part file only from an answer whose head was judged to carry exactly them,
// and the part is done only when such an answer delivered its whole body. Its creator waits
// for it and then destroys it.
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
  // One request for the bytes the part file still lacks. False when it failed in a way worth
  // another try (message in lastError); raises for a failure that is final.
  bool TryOnce(TFileStream& part, std::wstring& lastError);
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
  int64_t FResumeBase = 0;  // bytes already in the part file when the current request began
  bool FWholeFile = false;
  uint32_t FRetryAfterMs = 0;  // the last answer's "Retry-After", in ms; 0 when none
  std::thread FThread;
};

// The stall guard of the parts: fewer than kStallMinBytes in kStallWindowMs cut the request,
// which is then resumed like any other cut.
constexpr uint32_t kStallWindowMs = 30000;
constexpr int64_t kStallMinBytes = 1024;

#ifdef MORVANE_TEST_HOOKS
// The stall guard's window and threshold as the workers use them (tests shorten the window).
extern uint32_t DownloadStallWindowMs;
extern int64_t DownloadStallMinBytes;
// Called with the part index just before a worker's thread is started; a test makes it raise
// to stand for a thread that cannot be created.
extern std::function<void(int32_t)> DownloadWorkerStartHook;
// Called with the seconds the join of the parts took (hashing included), for the benchmark.
extern std::function<void(double)> DownloadMergeTimeHook;
// Called on a worker's thread when the first body bytes of the download reach a part file, for
// the benchmark.
extern std::function<void()> DownloadFirstByteHook;
#endif
