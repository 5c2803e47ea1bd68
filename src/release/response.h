// The answer to an HTTP request as the program sees it, and the check every request of the
// program puts its answer through. Portable.
#pragma once

#include <string>
#include <utility>
#include <vector>

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

// Returns for a status from 200 to 299; otherwise raises "<context>: нет ответа от сервера"
// (no answer) or "<context>: HTTP ошибка <status> - <reason phrase>".
void CheckResponse(const THttpResponse* response, const std::wstring& context);
