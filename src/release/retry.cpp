#include "release/retry.h"

#include <algorithm>


bool IsPassingStatus(int status) {
  return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

uint32_t RetryAfterMs(std::wstring_view value) {
  while (!value.empty() && (value.front() == L' ' || value.front() == L'\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == L' ' || value.back() == L'\t')) value.remove_suffix(1);
  if (value.empty()) return 0;
  uint64_t seconds = 0;
  for (wchar_t c : value) {
    if (c < L'0' || c > L'9') return 0;
    seconds = std::min<uint64_t>(seconds * 10 + static_cast<uint64_t>(c - L'0'), kMaxRetryAfterMs);
  }
  return static_cast<uint32_t>(std::min<uint64_t>(seconds * 1000, kMaxRetryAfterMs));
}

uint32_t RetryPauseMs(int attempt, uint32_t retryAfterMs) {
  const int index = std::clamp(attempt, 0, kPartRetries - 1);
  return std::max(kPartRetryPauseMs[index], std::min(retryAfterMs, kMaxRetryAfterMs));
}
