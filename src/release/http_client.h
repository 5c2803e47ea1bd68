// The program's HTTP client on WinHTTP. One client object per HTTP operation: it sends one
// request (plus the requests of any redirects it follows) and is freed at the end.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "system/stream.h"

// The final answer of an operation.
struct THttpResponse {
  int StatusCode = 0;
  std::wstring StatusText;  // the reason phrase; empty when the server sent none
  // Every header of the final answer, in the order received.
  std::vector<std::pair<std::wstring, std::wstring>> Headers;
  // The body, when the caller gave no sink.
  std::string Body;

  // Value of the first header of that name (letter case ignored); empty when missing.
  std::wstring Header(const std::wstring& name) const;
  bool HasHeader(const std::wstring& name) const;
};

// Receive-data notification: the content length of the answer (-1 when unknown) and the body
// bytes received so far. Always run on the main thread.
using TReceiveDataEvent =
    std::function<void(void* Sender, int64_t AContentLength, int64_t AReadCount, bool& AAbort)>;

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

  // The body goes into sink when given (written from its position at the call), else into
  // the answer's Body. Raises Exception on every transport failure; never returns null.
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
