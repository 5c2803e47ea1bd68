// When a request is worth another try and how long to pause before it. Portable.
#pragma once

#include <cstdint>
#include <string_view>

// Further tries of a request after its first, and the pause before each of them.
constexpr int kPartRetries = 3;
constexpr uint32_t kPartRetryPauseMs[kPartRetries] = {500, 1000, 2000};

// Statuses of a server that is busy or briefly broken: asked again.
bool IsPassingStatus(int status);

// The longest pause a server's "Retry-After" may ask for; a longer wish is cut to it.
constexpr uint32_t kMaxRetryAfterMs = 10000;

// A "Retry-After" value in delta seconds as milliseconds, at most kMaxRetryAfterMs; 0 when the
// value is absent or not a number of seconds (a date is not followed).
uint32_t RetryAfterMs(std::wstring_view value);

// The pause before further try attempt (0 for the first further try) of kPartRetries: the
// growing pause, or the server's wish when it is longer.
uint32_t RetryPauseMs(int attempt, uint32_t retryAfterMs);
