// The program's HTTP client on WinHTTP. One client object per HTTP operation: it sends one
// request (plus the requests of any redirects it follows) and is freed at the end.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "release/response.h"
#include "system/errors.h"
#include "system/stream.h"

// Receive-data notification: the content length of the answer (-1 when unknown) and the body
// bytes received so far. Always run on the main thread.
using TReceiveDataEvent =
    std::function<void(void* Sender, int64_t AContentLength, int64_t AReadCount, bool& AAbort)>;

// A failure of the transfer itself (connection, time-out, a cut or stalled body): worth another
// try, unlike a refused certificate or a redirect loop.
class ETransferError : public Exception {
 public:
  using Exception::Exception;
};

// The most bytes of an answer body the client keeps in memory, and of a redirect's page, which
// it reads and drops.
constexpr int64_t kMaxHeldBody = 16 * 1024 * 1024;
constexpr int64_t kMaxRedirectPage = 64 * 1024;

class THttpClient {
 public:
  THttpClient();
  ~THttpClient();
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;

  // Empty: the client's default user agent.
  std::wstring UserAgent;
  // Sent with every request of the operation, redirects included.
  std::vector<std::pair<std::wstring, std::wstring>> CustomHeaders;
  TReceiveDataEvent OnReceiveData;
  // The most bytes of a body kept in the answer (no sink given); a longer one fails the
  // operation.
  int64_t MaxBodyBytes = kMaxHeldBody;
  // Stall guard: when StallWindowMs is not 0, a body that receives fewer than StallMinBytes in
  // any StallWindowMs fails the operation as a transfer error, and so does a server that keeps
  // silent that long at any step.
  uint32_t StallWindowMs = 0;
  int64_t StallMinBytes = 0;
  // Run on the calling thread with the status and headers of the final answer (never of a
  // redirect) before its body is read. May raise to end the operation there, or move the sink.
  std::function<void(const THttpResponse&)> OnResponseHead;

  // The body of the final answer goes into sink when given (written from its position at the
  // call), else into the answer's Body; a redirect's page never reaches either. Raises
  // ETransferError on every transport failure, Exception on the others; never returns null.
  std::unique_ptr<THttpResponse> Get(const std::wstring& url, TStream* sink = nullptr);
  std::unique_ptr<THttpResponse> Head(const std::wstring& url);

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

#ifdef MORVANE_TEST_HOOKS
// The proxy decisions are made once per run; tests that change the user's settings start over.
void ForgetProxyDecisions();
#endif
