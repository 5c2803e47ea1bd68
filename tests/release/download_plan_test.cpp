#include "release/download_plan.h"
#include "release/retry.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "system/errors.h"
#include "system/text.h"

namespace {

constexpr int64_t GiB = 1073741824;

TEST(DownloadPlan, RangesCoverTheFileInOrder) {
  struct Case {
    int64_t total;
    int32_t wanted;
    std::vector<TPartRange> ranges;
  };
  const Case cases[] = {
      {10, 4, {{0, 1}, {2, 3}, {4, 5}, {6, 9}}},
      {8, 4, {{0, 1}, {2, 3}, {4, 5}, {6, 7}}},
      {1, 4, {{0, 0}}},
      {3, 4, {{0, 0}, {1, 1}, {2, 2}}},
      {4, 4, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
      {5, 1, {{0, 4}}},
      // Beyond 4 GiB nothing wraps: 8 GiB + 3 bytes in four parts.
      {8 * GiB + 3, 4, {{0, 2 * GiB - 1}, {2 * GiB, 4 * GiB - 1}, {4 * GiB, 6 * GiB - 1}, {6 * GiB, 8 * GiB + 2}}},
      {INT64_MAX, 2, {{0, INT64_MAX / 2 - 1}, {INT64_MAX / 2, INT64_MAX - 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.total);
    const int32_t parts = EffectivePartCount(c.total, c.wanted);
    EXPECT_EQ(PlanRanges(c.total, parts), c.ranges);
  }
}

TEST(DownloadPlan, RangeHeaderIsDecimal64Bit) {
  EXPECT_EQ(RangeHeaderValue({2, 3}), L"bytes=2-3");
  EXPECT_EQ(RangeHeaderValue({4 * GiB, 6 * GiB - 1}), L"bytes=4294967296-6442450943");
  EXPECT_EQ(RangeHeaderValue({0, INT64_MAX - 1}), L"bytes=0-9223372036854775806");
}

TEST(DownloadPlan, PartFileNameReplacesTheExtension) {
  struct Case {
    const wchar_t* target;
    int32_t index;
    const wchar_t* part;
  };
  const Case cases[] = {
      {L"C:\\Users\\u\\AppData\\Local\\Tandrel\\Update.zip", 3, L"C:\\Users\\u\\AppData\\Local\\Tandrel\\Update.part3"},
      {L"Update.zip", 0, L"Update.part0"},
      {L"a.b.c", 12, L"a.b.part12"},
      {L"C:\\dir.d\\Update", 1, L"C:\\dir.d\\Update.part1"},  // the dot belongs to a folder
      {L"C:Update", 2, L"C:Update.part2"},
      {L"a.:b", 2, L"a.:b.part2"},  // a ":" after the dot
      {L"Update.", 0, L"Update.part0"},
  };
  for (const Case& c : cases) EXPECT_EQ(PartFileName(c.target, c.index), c.part) << c.target;
}

TEST(DownloadPlan, ContentLength) {
  EXPECT_EQ(ParseContentLength(L"10"), 10);
  EXPECT_EQ(ParseContentLength(L"6442450944"), 6 * GiB);
  EXPECT_EQ(ParseContentLength(L"9223372036854775807"), INT64_MAX);
  EXPECT_EQ(ParseContentLength(L"0"), 0);
  EXPECT_LT(ParseContentLength(L"-5"), 0);
  for (const wchar_t* bad : {L"", L"abc", L"12x", L"9223372036854775808", L" ", L"+", L"1 2"})
    EXPECT_EQ(ParseContentLength(bad), -1) << bad;
}

TEST(DownloadPlan, PartChecks) {
  const TPartRange part1{2, 3};
  const TPartRange whole{0, 9};
  const TPartRange high{4 * GiB, 6 * GiB - 1};
  EXPECT_EQ(CheckPart(206, L"bytes 2-3/10", 2, part1, 10), TPartOutcome::Range);
  EXPECT_EQ(CheckPart(206, L"bytes 2-3/*", 2, part1, 10), TPartOutcome::Range);
  EXPECT_EQ(CheckPart(206, L"bytes 4294967296-6442450943/8589934595", 2 * GiB, high, 8 * GiB + 3),
            TPartOutcome::Range);
  EXPECT_EQ(CheckPart(200, L"", 10, part1, 10), TPartOutcome::WholeFile);
  EXPECT_EQ(CheckPart(200, L"", 10, whole, 10), TPartOutcome::Range);

  struct Bad {
    int status;
    const wchar_t* contentRange;
    int64_t received;
    const wchar_t* message;
  };
  const Bad bad[] = {
      {206, L"bytes 2-3/10", 1, L"получено 1 байт вместо 2"},          // closed early
      {206, L"", 10, L"получен диапазон \"\" вместо 2-3/10"},              // the whole file as 206
      {206, L"", 2, L"получен диапазон \"\" вместо 2-3/10"},               // a range it does not name
      {206, L"bytes 4-5/10", 2, L"получен диапазон \"bytes 4-5/10\" вместо 2-3/10"},
      {206, L"bytes 2-3/11", 2, L"получен диапазон \"bytes 2-3/11\" вместо 2-3/10"},
      {206, L"garbage", 2, L"получен диапазон \"garbage\" вместо 2-3/10"},
      {200, L"", 2, L"получено 2 байт вместо 10"},                      // 200 with only the range
      {200, L"", 7, L"получено 7 байт вместо 10"},                      // whole file cut short
      {200, L"", 20, L"получено 20 байт вместо 10"},
  };
  for (const Bad& b : bad) {
    try {
      CheckPart(b.status, b.contentRange, b.received, part1, 10);
      ADD_FAILURE() << "accepted " << b.status << " " << b.received;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), b.message);
    }
  }
}

// The head of an answer is judged before its body: the body length it must deliver, or the
// reason it carries other bytes than asked.
TEST(DownloadPlan, PartHeadIsJudgedBeforeItsBody) {
  const TPartRange part1{2, 3};
  struct Row {
    int status;
    const wchar_t* contentRange;
    const wchar_t* contentLength;
    int64_t expected;        // -1: refused
    const wchar_t* message;  // when refused
  };
  const Row rows[] = {
      {206, L"bytes 2-3/10", L"2", 2, nullptr},
      {206, L"bytes 2-3/10", L"", 2, nullptr},  // chunked or close-delimited
      {206, L"bytes 2-3/*", L"", 2, nullptr},
      {200, L"", L"10", 10, nullptr},
      {200, L"", L"", 10, nullptr},
      {206, L"bytes 0-1/10", L"2", -1, L"получен диапазон \"bytes 0-1/10\" вместо 2-3/10"},
      {206, L"bytes 2-4/10", L"3", -1, L"получен диапазон \"bytes 2-4/10\" вместо 2-3/10"},
      {206, L"", L"2", -1, L"получен диапазон \"\" вместо 2-3/10"},
      {206, L"bytes 2-3/10", L"3", -1, L"сервер объявил 3 байт вместо 2"},
      {206, L"bytes 2-3/10", L"x", -1, L"сервер объявил x байт вместо 2"},
      {200, L"", L"2", -1, L"сервер объявил 2 байт вместо 10"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(EncodeUtf8(std::wstring(r.contentRange) + L" | " + r.contentLength));
    try {
      EXPECT_EQ(JudgePartHead(r.status, r.contentRange, r.contentLength, part1, 10), r.expected);
      EXPECT_NE(r.expected, -1) << "accepted";
    } catch (const Exception& e) {
      EXPECT_EQ(r.expected, -1);
      EXPECT_EQ(e.Message(), r.message ? r.message : L"");
    }
  }
}

// The server's wish of when to come back is followed in whole seconds, up to a cap, and never
// shortens the growing pause.
TEST(RetryPause, FollowsRetryAfterUpToItsCap) {
  const struct {
    const wchar_t* retryAfter;
    uint32_t ms;
  } values[] = {
      {L"", 0}, {L"0", 0}, {L" 2 ", 2000}, {L"10", 10000}, {L"11", kMaxRetryAfterMs},
      {L"99999999999999999999999", kMaxRetryAfterMs}, {L"-1", 0}, {L"1.5", 0},
      {L"Wed, 21 Oct 2015 07:28:00 GMT", 0},
  };
  for (const auto& v : values) EXPECT_EQ(RetryAfterMs(v.retryAfter), v.ms) << EncodeUtf8(v.retryAfter);
  EXPECT_EQ(RetryPauseMs(0, 0), 500u);
  EXPECT_EQ(RetryPauseMs(2, 0), 2000u);
  EXPECT_EQ(RetryPauseMs(0, 3000), 3000u);
  EXPECT_EQ(RetryPauseMs(2, 1000), 2000u);
  EXPECT_EQ(RetryPauseMs(1, 60000), kMaxRetryAfterMs);
  for (int status : {408, 429, 500, 502, 503, 504}) EXPECT_TRUE(IsPassingStatus(status)) << status;
  for (int status : {200, 206, 400, 403, 404, 416, 501}) EXPECT_FALSE(IsPassingStatus(status)) << status;
}

TEST(DownloadPlan, ThrottleWrapsAround) {
  EXPECT_TRUE(TickIntervalPassed(100, 0, 100));
  EXPECT_FALSE(TickIntervalPassed(99, 0, 100));
  EXPECT_TRUE(TickIntervalPassed(50, 0xFFFFFFF0u, 50));   // 66 ms across the wrap
  EXPECT_FALSE(TickIntervalPassed(10, 0xFFFFFFF0u, 100));  // 26 ms across the wrap
  EXPECT_FALSE(TickIntervalPassed(5, 5, 100));
}

}  // namespace
