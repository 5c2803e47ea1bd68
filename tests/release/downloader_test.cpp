// The downloader against the local stand-in of the cloud disk: one table of server behaviours,
// each with the outcome and the target's content. Start runs on a job thread while the main
// thread pumps messages and the main queue, as in the program.
#include <windows.h>

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <tuple>
#include <cstdint>
#include <string>
#include <vector>

#include "support/files.h"
#include "system/main_queue.h"
#include "release/downloader.h"
#include "release/release_folder.h"
#include "support/main_loop.h"
#include "support/standin.h"
#include "system/errors.h"
#include "system/file_stream.h"
#include "system/text.h"

namespace {

constexpr wchar_t kFolder[] = L"dl";
constexpr char kWorkerAgent[] = "Mozilla/5.0 (Windows NT 10.0; Win64; x64)";

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251 + 1) & 0xFF);
  return bytes;
}

std::wstring WorkDir() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + L"morvane-downloader-test";
  ForceDirectories(dir);
  return dir;
}

std::wstring Target() { return WorkDir() + L"\\Update.zip"; }
std::wstring PartPath(int i) { return WorkDir() + L"\\Update.part" + IntToStr(i); }

void RemoveLeftovers() {
  DeleteFileW(Target().c_str());
  for (int i = 0; i < 8; ++i) DeleteFileW(PartPath(i).c_str());
}

struct Outcome {
  bool ok = false;
  std::wstring error;
  std::vector<int64_t> sums;
  int64_t total = -1;
};

// Start on a job thread while the main thread runs its messages and the queue, as the window
// does; the reports still queued when Start ends run before the downloader is released.
Outcome Download(const TRemoteFile& file, int32_t parts, const std::vector<TPartRange>& only = {}) {
  MainQueue::Initialize();
  auto* downloader = new TParallelDownloader(file.Link, Target(), parts, file.Size, only.empty() ? file.Sha256 : L"");
  if (!only.empty()) downloader->SetRanges(only);
  Outcome outcome;
  bool offMainThread = false;
  downloader->SetOnProgress([&](void* sender, int64_t downloaded, int64_t total) {
    if (sender != downloader || !MainQueue::IsMainThread()) offMainThread = true;
    outcome.sums.push_back(downloaded);
    outcome.total = total;
  });
  RunWithMainLoop([&] {
    try {
      downloader->Start();
      outcome.ok = true;
    } catch (const Exception& e) {
      outcome.error = e.Message();
    }
  });
  delete downloader;
  EXPECT_FALSE(offMainThread) << "OnProgress ran off the main thread or with another sender";
  return outcome;
}

struct LoggedRequest {
  std::string method, path, range, agent;
};

// The requests after the listing: sizing, the parts, redirects.
std::vector<LoggedRequest> DownloadRequests() {
  std::vector<LoggedRequest> out;
  for (TLoggedRequest& r : StandinRequests()) {
    if (r.path.rfind("/v1/", 0) == 0) continue;  // the listing
    out.push_back({r.method, r.path, r.headers["range"], r.headers["user-agent"]});
  }
  return out;
}

// What a download leaves beside the target when it fails.
enum class Leaves {
  Nothing,    // failed while sizing: no part file, no target
  PartFiles,  // a part failed: every part file as far as its worker got, no target
  Deleted,    // the joined file was wrong: deleted with every part file
};

struct Case {
  const char* name;
  size_t size;
  const char* config;
  bool leftovers;        // stale, longer target and part files from an earlier run
  const wchar_t* error;  // nullptr: success, the target is the file; else the message start
  Leaves leaves;         // on failure
  std::vector<std::string> ranges;  // "Range" of the storage host's GETs, when checked
  bool progressIsExact;  // the last report sums to the file size
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class DownloaderStandin : public ::testing::TestWithParam<Case> {};

TEST_P(DownloaderStandin, Download) {
  const Case& c = GetParam();
  StandinReset();
  const std::string content = Pattern(c.size);
  StandinPutFile(kFolder, L"Tandrel.zip", content);
  StandinConfig(c.config);
  // As the program does: the listing's size and checksum go to the downloader with the link.
  RemoveLeftovers();
  TRemoteFile file;
  try {
    file = FindRemoteFile(FolderLink(kFolder), L"Tandrel.zip");
  } catch (const Exception& e) {
    // Refused by the listing: nothing is asked of the download host.
    ASSERT_TRUE(c.error) << EncodeUtf8(e.Message());
    EXPECT_EQ(e.Message().rfind(c.error, 0), 0u) << EncodeUtf8(e.Message());
    EXPECT_EQ(c.leaves, Leaves::Nothing);
    EXPECT_TRUE(DownloadRequests().empty());
    return;
  }
  if (c.leftovers) {
    WriteFileBytes(Target(), std::string(c.size * 3 + 5, 'T'));
    for (int i = 0; i < 4; ++i) WriteFileBytes(PartPath(i), std::string(c.size * 2 + 3, 'P'));
  }

  const Outcome outcome = Download(file, 4);

  const std::vector<LoggedRequest> requests = DownloadRequests();
  std::vector<std::string> storageRanges;
  for (const LoggedRequest& r : requests) {
    if (r.method == "GET") {
      // Every GET of a worker, on the direct link and on every hop after it, asks for its range.
      EXPECT_FALSE(r.range.empty()) << r.path;
      EXPECT_EQ(r.agent, kWorkerAgent) << r.path;
      if (r.path.rfind("/rdisk/", 0) == 0) storageRanges.push_back(r.range);
    } else {
      EXPECT_EQ(r.method, "HEAD");
      EXPECT_TRUE(r.range.empty());
      EXPECT_NE(r.agent, kWorkerAgent);
    }
  }
  if (!c.ranges.empty()) {
    std::sort(storageRanges.begin(), storageRanges.end());
    std::vector<std::string> expected = c.ranges;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(storageRanges, expected);
  }

  if (!c.error) {
    ASSERT_TRUE(outcome.ok) << EncodeUtf8(outcome.error);
    EXPECT_TRUE(ReadFileBytes(Target()) == content) << "the target differs from the remote file";
    for (int i = 0; i < 4; ++i) {
      EXPECT_FALSE(FileExists(PartPath(i))) << i;
    }
    ASSERT_FALSE(outcome.sums.empty());
    EXPECT_EQ(outcome.total, static_cast<int64_t>(c.size));
    EXPECT_TRUE(std::is_sorted(outcome.sums.begin(), outcome.sums.end()));
    if (c.progressIsExact) {
      EXPECT_EQ(outcome.sums.back(), static_cast<int64_t>(c.size));
    }
  } else {
    ASSERT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error.rfind(c.error, 0), 0u) << EncodeUtf8(outcome.error);
    EXPECT_FALSE(FileExists(Target()));
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(FileExists(PartPath(i)), c.leaves == Leaves::PartFiles) << i;
    }
    // A wrong joined file is found only after every byte arrived.
    if (c.leaves == Leaves::Deleted) {
      ASSERT_FALSE(outcome.sums.empty());
      EXPECT_EQ(outcome.sums.back(), static_cast<int64_t>(c.size));
    }
    // A download that failed while sizing never started a part, so nothing reported.
    if (c.leaves == Leaves::Nothing) {
      EXPECT_TRUE(outcome.sums.empty());
    }
  }
}

const Case kCases[] = {
    {"every_part_206", 10, "{}", false, nullptr, Leaves::Nothing,
     {"bytes=0-1", "bytes=2-3", "bytes=4-5", "bytes=6-9"}, true},
    {"size_1", 1, "{}", false, nullptr, Leaves::Nothing, {"bytes=0-0"}, true},
    {"size_3", 3, "{}", false, nullptr, Leaves::Nothing, {"bytes=0-0", "bytes=1-1", "bytes=2-2"}, true},
    // Three blocks of the merge buffer and an uneven last part.
    {"large", 3 * 1048576 + 7, "{}", false, nullptr, Leaves::Nothing, {}, true},
    {"leftovers_rewritten", 10, "{}", true, nullptr, Leaves::Nothing, {}, true},
    // A server that ignores "Range": one whole copy, not the file four times.
    {"ignore_range", 100003, R"({"ignore_range": true})", false, nullptr, Leaves::Nothing, {}, false},
    {"part_416", 1000, R"({"range_status": {"part2": 416}})", false,
     L"Ошибка части 2: HTTP 416: Requested Range Not Satisfiable", Leaves::PartFiles, {}, false},
    // A passing server error is asked again three times, then the part fails with it.
    {"part_500", 1000, R"({"range_status": {"part1": 500}})", false,
     L"Ошибка части 1: HTTP 500: Internal Server Error", Leaves::PartFiles,
     {"bytes=0-249", "bytes=250-499", "bytes=250-499", "bytes=250-499", "bytes=250-499", "bytes=500-749",
      "bytes=750-999"}, false},
    // Cut once: the next request asks for the rest only, and the file comes out whole.
    {"cut_once", 200000, R"({"close_once": {"part1": 1000}})", false, nullptr, Leaves::Nothing,
     {"bytes=0-49999", "bytes=50000-99999", "bytes=51000-99999", "bytes=100000-149999", "bytes=150000-199999"},
     true},
    // The first part's checksum is taken as its bytes arrive: a cut and a resume behind the
    // redirect's page still give the right one, and resumed bytes of another file a wrong one.
    {"first_part_cut_once", 200000, R"({"close_once": {"part0": 1000}})", false, nullptr, Leaves::Nothing,
     {"bytes=0-49999", "bytes=1000-49999", "bytes=50000-99999", "bytes=100000-149999", "bytes=150000-199999"},
     true},
    {"first_part_resumed_from_another_file", 200000, R"({"close_once": {"part0": 1000}, "replaced": true})", false,
     L"Контрольная сумма скачанного архива (SHA-256) не совпадает с опубликованной", Leaves::Deleted, {}, false},
    // Cut on every try: four requests, each resuming where the last one stopped.
    {"cut_every_try", 200000, R"({"close_after": {"part3": 1000}})", false,
     L"Ошибка части 3: Error reading data: ", Leaves::PartFiles,
     {"bytes=0-49999", "bytes=50000-99999", "bytes=100000-149999", "bytes=150000-199999", "bytes=151000-199999",
      "bytes=152000-199999", "bytes=153000-199999"}, false},
    // A body announced past its range is refused before its first byte, on every try; one
    // without a length is stopped at the range's end and never asked again.
    {"body_past_range", 1000, R"({"overlong_body": {"part2": 100}})", false,
     L"Ошибка части 2: сервер объявил 350 байт вместо 250", Leaves::PartFiles,
     {"bytes=0-249", "bytes=250-499", "bytes=500-749", "bytes=500-749", "bytes=500-749", "bytes=500-749",
      "bytes=750-999"}, false},
    {"body_past_range_without_length", 1000, R"({"overlong_body": {"part2": 100}, "framing": "chunked"})", false,
     L"Ошибка части 2: сервер прислал больше данных, чем 250 байт диапазона части", Leaves::PartFiles,
     {"bytes=0-249", "bytes=250-499", "bytes=500-749", "bytes=750-999"}, false},
    {"redirects", 1000, R"({"redirects": 2})", false, nullptr, Leaves::Nothing,
     {"bytes=0-249", "bytes=250-499", "bytes=500-749", "bytes=750-999"}, true},
    // The redirects' pages are longer than the one-byte parts they lead to.
    {"redirects_to_tiny_parts", 3, R"({"redirects": 2})", false, nullptr, Leaves::Nothing,
     {"bytes=0-0", "bytes=1-1", "bytes=2-2"}, true},
    // Without a usable HEAD the listing's size serves; only without both is the size unknown.
    {"head_without_length", 10, R"({"head_length": "none"})", false, nullptr, Leaves::Nothing, {}, true},
    {"head_zero_length", 10, R"({"head_length": "zero"})", false, nullptr, Leaves::Nothing, {}, true},
    {"head_405", 1000, R"({"head_status": 405})", false, nullptr, Leaves::Nothing, {}, true},
    {"head_501", 1000, R"({"head_status": 501})", false, nullptr, Leaves::Nothing, {}, true},
    {"head_without_length_nor_listing_size", 10, R"({"head_length": "none", "listing_fields": {"size": null}})",
     false, L"Не удалось определить размер файла", Leaves::Nothing, {}, false},
    {"head_zero_length_nor_listing_size", 10, R"({"head_length": "zero", "listing_fields": {"size": null}})",
     false, L"Не удалось определить размер файла", Leaves::Nothing, {}, false},
    {"head_405_nor_listing_size", 10, R"({"head_status": 405, "listing_fields": {"size": null}})", false,
     L"HEAD запрос для определения размера: HTTP ошибка 405 - Method Not Allowed", Leaves::Nothing, {}, false},
    {"head_404", 10, R"({"download_status": 404})", false,
     L"HEAD запрос для определения размера: HTTP ошибка 404 - Not Found", Leaves::Nothing, {}, false},
    {"head_length_not_the_listing_size", 1000, R"({"listing_fields": {"size": 999}})", false,
     L"Размер файла на сервере (1000 байт) не совпадает с опубликованным (999 байт)", Leaves::Nothing, {}, false},
    // The checksum: a wrong one, or a file replaced after HEAD, leaves nothing behind.
    {"wrong_sha256", 100000, R"({"listing_fields": {"sha256": "0000000000000000000000000000000000000000000000000000000000000000"}})",
     false, L"Контрольная сумма скачанного архива (SHA-256) не совпадает с опубликованной", Leaves::Deleted, {}, false},
    {"replaced_after_head", 100000, R"({"replaced": true})", false,
     L"Контрольная сумма скачанного архива (SHA-256) не совпадает с опубликованной", Leaves::Deleted, {}, false},
    // A plain-HTTP link is taken only with a checksum to hold it to; a malformed checksum is
    // never taken for none.
    {"no_sha256_on_plain_http", 1000, R"({"listing_fields": {"sha256": null}})", false,
     L"Список файлов публичной папки: ссылка на файл Tandrel.zip не защищена (не HTTPS)", Leaves::Nothing, {}, false},
    {"malformed_sha256", 1000, R"({"listing_fields": {"sha256": "abc"}})", false,
     L"Список файлов публичной папки: неверная контрольная сумма SHA-256 файла Tandrel.zip", Leaves::Nothing, {},
     false},
};

INSTANTIATE_TEST_SUITE_P(Servers, DownloaderStandin, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// Faults of a passing network or a misbehaving server, each run with and without a published
// checksum. A fault that one more request mends must end in the exact file either way; one that
// cannot be mended ends in its error with nothing joined. Never a wrong file.
struct FaultCase {
  const char* name;
  const char* config;
  const wchar_t* error;  // nullptr: the exact file
  // "Range" of the storage host's GETs, in order per part, when they are checked.
  std::vector<std::string> ranges;
  // HEAD requests that reached the storage host, when checked (0: not checked).
  int heads;
  // The stall guard's window for this row; 0: the program's own.
  uint32_t stallWindowMs;
};

std::string RequestsText(std::vector<TLoggedRequest>& requests) {
  std::string text;
  for (TLoggedRequest& r : requests) {
    std::string path = r.path.substr(0, r.path.find('?'));
    if (path.size() > 24) path = path.substr(0, 24) + "...";
    text += "  " + r.method + " " + path + " " + r.headers["range"] + " -> " + std::to_string(r.status) + "\n";
  }
  return text;
}

int64_t RangeStart(const std::string& range) {
  const size_t eq = range.find('=');
  return eq == std::string::npos ? -1 : std::atoll(range.c_str() + eq + 1);
}

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class DownloadFaults : public ::testing::TestWithParam<std::tuple<FaultCase, bool>> {};

TEST_P(DownloadFaults, ExactFileOrErrorNeverAWrongFile) {
  const auto& [c, published] = GetParam();
  StandinReset();
  const std::string content = Pattern(1000);
  StandinPutFile(kFolder, L"Tandrel.zip", content);
  TRemoteFile file = FindRemoteFile(FolderLink(kFolder), L"Tandrel.zip");
  ASSERT_FALSE(file.Sha256.empty());
  if (!published) file.Sha256.clear();
  StandinReset();
  StandinConfig(c.config);
  RemoveLeftovers();

  DownloadStallWindowMs = c.stallWindowMs ? c.stallWindowMs : kStallWindowMs;
  const Outcome outcome = Download(file, 4);
  DownloadStallWindowMs = kStallWindowMs;

  std::vector<TLoggedRequest> log = StandinRequests();
  SCOPED_TRACE("requests:\n" + RequestsText(log));
  if (GetEnvironmentVariableW(L"MORVANE_SHOW_REQUESTS", nullptr, 0) > 0)
    std::printf("%s %s\n%s", c.name, published ? "published" : "unpublished", RequestsText(log).c_str());
  if (!c.error) {
    ASSERT_TRUE(outcome.ok) << EncodeUtf8(outcome.error);
    EXPECT_TRUE(ReadFileBytes(Target()) == content) << "the target differs from the remote file";
  } else {
    ASSERT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error.rfind(c.error, 0), 0u) << EncodeUtf8(outcome.error);
    EXPECT_FALSE(FileExists(Target()));
  }
  if (!c.error) {
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(FileExists(PartPath(i))) << i;
  }
  // Progress counts payload only: it never goes back and never passes the file.
  EXPECT_TRUE(std::is_sorted(outcome.sums.begin(), outcome.sums.end()));
  for (int64_t sum : outcome.sums) EXPECT_LE(sum, 1000);
  if (!c.error && !outcome.sums.empty()) {
    EXPECT_EQ(outcome.sums.back(), 1000);
  }

  std::vector<std::string> storageRanges;
  int heads = 0;
  for (TLoggedRequest& r : log) {
    if (r.method == "HEAD" && r.path.rfind("/rdisk/", 0) == 0) ++heads;
    if (r.method == "GET" && r.path.rfind("/rdisk/", 0) == 0) storageRanges.push_back(r.headers["range"]);
  }
  if (!c.ranges.empty()) {
    std::sort(storageRanges.begin(), storageRanges.end(),
              [](const std::string& a, const std::string& b) { return RangeStart(a) < RangeStart(b); });
    EXPECT_EQ(storageRanges, c.ranges);
  }
  if (c.heads) {
    EXPECT_EQ(heads, c.heads);
  }
}

const FaultCase kFaults[] = {
    // A redirect's page cut by a reset never counts as bytes of the part.
    {"redirect_page_reset", R"({"redirect_cut_once": {"part1": 100}})", nullptr,
     {"bytes=0-249", "bytes=250-499", "bytes=500-749", "bytes=750-999"}, 0, 0},
    {"redirect_page_stalled", R"({"redirect_stall_once": {"part1": 100}})", nullptr,
     {"bytes=0-249", "bytes=250-499", "bytes=500-749", "bytes=750-999"}, 0, 1500},
    // A 206 for other bytes than asked is refused before its first byte, cut or whole.
    {"wrong_content_range_cut", R"({"wrong_range_once": {"part1": 0}, "close_once": {"part1": 100}})", nullptr,
     {"bytes=0-249", "bytes=250-499", "bytes=250-499", "bytes=500-749", "bytes=750-999"}, 0, 0},
    {"wrong_content_range_whole_body", R"({"wrong_range_once": {"part1": 0}, "length_plus_once": {"part1": 1}})",
     nullptr, {"bytes=0-249", "bytes=250-499", "bytes=250-499", "bytes=500-749", "bytes=750-999"}, 0, 0},
    // Every byte arrived, then the answer never ended: the part is not taken on trust, its
    // last byte is asked again.
    {"whole_body_then_silence", R"({"framing": "close", "length_plus_once": {"part1": 1}})", nullptr,
     {"bytes=0-249", "bytes=250-499", "bytes=499-499", "bytes=500-749", "bytes=750-999"}, 0, 1500},
    // The same chunked: Wine's client hands out no byte of a chunked body that stops without
    // its last chunk, so the part is asked whole again.
    {"chunked_body_then_silence", R"({"framing": "chunked", "length_plus_once": {"part1": 1}})", nullptr, {}, 0,
     1500},
    // A short body resumes whatever its framing.
    {"cut_close_delimited", R"({"framing": "close", "close_once": {"part1": 100}})", nullptr,
     {"bytes=0-249", "bytes=250-499", "bytes=350-499", "bytes=500-749", "bytes=750-999"}, 0, 0},
    {"cut_chunked", R"({"framing": "chunked", "close_once": {"part1": 100}})", nullptr,
     {"bytes=0-249", "bytes=250-499", "bytes=350-499", "bytes=500-749", "bytes=750-999"}, 0, 0},
    {"cut_with_length", R"({"close_once": {"part1": 100}})", nullptr,
     {"bytes=0-249", "bytes=250-499", "bytes=350-499", "bytes=500-749", "bytes=750-999"}, 0, 0},
    // Sizing: a passing refusal is asked again; a host that refuses HEAD leaves the size to the
    // listing.
    {"head_503_twice", R"({"head_status": 503, "times": {"head_status": 2}})", nullptr, {}, 3, 0},
    {"head_403", R"({"head_status": 403})", nullptr, {}, 1, 0},
    {"head_503_always", R"({"head_status": 503})", nullptr, {}, 4, 0},
    // A server that ignores "Range" sends four whole copies: the gauge still ends at the file.
    {"ignore_range", R"({"ignore_range": true})", nullptr, {}, 0, 0},
    // A part that trickles is cut by the stall guard and resumed.
    {"trickle", R"({"trickle_once": {"part1": 10}})", nullptr, {}, 0, 1500},
};

INSTANTIATE_TEST_SUITE_P(Faults, DownloadFaults, ::testing::Combine(::testing::ValuesIn(kFaults), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<FaultCase, bool>>& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_published" : "_unpublished");
                         });

TEST(DownloaderStandinFailures, WorkerThatCannotStart) {
  StandinReset();
  const std::string content = Pattern(40000);
  StandinPutFile(kFolder, L"Tandrel.zip", content);
  const TRemoteFile file = FindRemoteFile(FolderLink(kFolder), L"Tandrel.zip");
  // Slow enough that parts 0 and 1 are still running when part 2 fails to start.
  StandinConfig(R"({"rate_limit": 50000})");
  RemoveLeftovers();
  DownloadWorkerStartHook = [](int32_t index) {
    if (index == 2) throw Exception(L"no thread");
  };
  const Outcome outcome = Download(file, 4);
  DownloadWorkerStartHook = nullptr;
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.error, L"Не удалось запустить поток части 2: no thread");
  // The workers that did start ran to their end before Start raised.
  EXPECT_TRUE(ReadFileBytes(PartPath(0)) == content.substr(0, 10000));
  EXPECT_TRUE(ReadFileBytes(PartPath(1)) == content.substr(10000, 10000));
  EXPECT_FALSE(FileExists(PartPath(2)));
  EXPECT_FALSE(FileExists(PartPath(3)));
  EXPECT_FALSE(FileExists(Target()));
}

// Some ranges of the file only: each lands at its own offset of a target as large as the file,
// the rest stays zero, progress runs over the ranges' bytes, and the stand-in serves no more
// than them. Faults of a range are met as for a part: resumed, asked again, or failed.
TEST(DownloaderStandinRanges, FetchesOnlyTheRangesAtTheirOffsets) {
  const size_t size = 3 * 1024 * 1024;
  const std::string content = Pattern(size);
  // Six ranges for four connections, so that two wait for a free one.
  const std::vector<TPartRange> ranges = {{0, 99},         {5000, 5999},     {100000, 300000},
                                          {1048576, 1048576 + 65535}, {2000000, 2000010}, {size - 22, size - 1}};
  int64_t wanted = 0;
  for (const TPartRange& r : ranges) wanted += r.Length();
  struct Case {
    const char* name;
    const char* config;
    const wchar_t* error;  // nullptr: the ranges arrive
  } cases[] = {
      {"plain", "{}", nullptr},
      {"a range cut once and resumed", R"({"close_once": {"100000": 5000}})", nullptr},
      {"a range answered 503 twice", R"({"range_status": {"5000": 503}, "times": {"range_status": 2}})", nullptr},
      {"a host that ignores Range", R"({"ignore_range": true})", L"Ошибка части "},
      {"a range refused", R"({"range_status": {"2000000": 416}})", L"Ошибка части 4: HTTP 416"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StandinReset();
    StandinPutFile(kFolder, L"Tandrel.zip", content);
    const TRemoteFile file = FindRemoteFile(FolderLink(kFolder), L"Tandrel.zip");
    StandinConfig(c.config);
    RemoveLeftovers();
    const Outcome outcome = Download(file, 4, ranges);
    int64_t served = 0;
    for (TLoggedRequest& r : StandinRequests())
      if (r.method == "GET" && r.path.rfind("/rdisk/", 0) == 0) served += r.bytes;
    if (c.error) {
      EXPECT_FALSE(outcome.ok);
      EXPECT_EQ(outcome.error.rfind(c.error, 0), 0u) << EncodeUtf8(outcome.error);
      EXPECT_FALSE(FileExists(Target()));
      continue;
    }
    ASSERT_TRUE(outcome.ok) << EncodeUtf8(outcome.error);
    const std::string target = ReadFileBytes(Target());
    ASSERT_EQ(target.size(), size);
    std::string expected(size, '\0');
    for (const TPartRange& r : ranges)
      expected.replace(static_cast<size_t>(r.StartByte), static_cast<size_t>(r.Length()),
                       content.substr(static_cast<size_t>(r.StartByte), static_cast<size_t>(r.Length())));
    EXPECT_TRUE(target == expected) << "the target is not the ranges at their offsets";
    for (int i = 0; i < 8; ++i) EXPECT_FALSE(FileExists(PartPath(i))) << i;
    EXPECT_EQ(outcome.total, wanted);
    ASSERT_FALSE(outcome.sums.empty());
    EXPECT_EQ(outcome.sums.back(), wanted);
    // A cut answer's bytes are served twice at most; nothing outside the ranges is.
    EXPECT_GE(served, wanted);
    EXPECT_LE(served, wanted + 5000);
  }
}

}  // namespace
