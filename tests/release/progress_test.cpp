// How the downloader adds up the reports of its parts, on the main thread.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "system/main_queue.h"
#include "release/downloader.h"

namespace {

struct Report {
  void* sender;
  int64_t downloaded;
  int64_t total;
  bool operator==(const Report&) const = default;
};

TEST(DownloaderProgress, LateSmallerReportsNeverLowerTheSum) {
  MainQueue::Initialize();
  TParallelDownloader downloader(L"http://127.0.0.1:1/x", L"x.zip", 4);
  std::vector<Report> reports;
  downloader.SetOnProgress([&](void* sender, int64_t downloaded, int64_t total) {
    reports.push_back({sender, downloaded, total});
  });
  // Reports of parts 0 and 2 arriving out of order, and one beyond 4 GiB.
  downloader.UpdatePartProgress(0, 500);
  downloader.UpdatePartProgress(2, 100);
  downloader.UpdatePartProgress(0, 300);  // late: changes nothing
  downloader.UpdatePartProgress(2, 5000000000);
  downloader.UpdatePartProgress(0, 500);
  const std::vector<Report> expected = {{&downloader, 500, 0},
                                        {&downloader, 600, 0},
                                        {&downloader, 600, 0},
                                        {&downloader, 5000000500, 0},
                                        {&downloader, 5000000500, 0}};
  EXPECT_EQ(reports, expected);
}

TEST(DownloaderProgress, CountsWithoutReceiver) {
  MainQueue::Initialize();
  TParallelDownloader downloader(L"http://127.0.0.1:1/x", L"x.zip", 2);
  downloader.UpdatePartProgress(1, 7);
  downloader.UpdatePartProgress(0, 3);
  // The counts were kept all along: the first report after a receiver is set has the sum.
  std::vector<int64_t> sums;
  downloader.SetOnProgress([&](void*, int64_t downloaded, int64_t) { sums.push_back(downloaded); });
  downloader.UpdatePartProgress(1, 2);
  EXPECT_EQ(sums, std::vector<int64_t>{10});
}

TEST(DownloaderProgress, ReceiverCanTakeTheLock) {
  // OnProgress runs after the lock is released: a receiver that reads Error() does not hang.
  MainQueue::Initialize();
  TParallelDownloader downloader(L"http://127.0.0.1:1/x", L"x.zip", 1);
  int calls = 0;
  downloader.SetOnProgress([&](void* sender, int64_t, int64_t) {
    EXPECT_TRUE(static_cast<TParallelDownloader*>(sender)->Error().empty());
    ++calls;
  });
  downloader.UpdatePartProgress(0, 1);
  EXPECT_EQ(calls, 1);
}

}  // namespace
