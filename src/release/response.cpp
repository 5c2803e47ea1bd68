#include "release/response.h"

#include "system/errors.h"
#include "system/text.h"

std::wstring THttpResponse::Header(const std::wstring& name) const {
  for (const auto& [key, value] : Headers)
    if (SameTextAscii(key, name)) return value;
  return L"";
}

bool THttpResponse::HasHeader(const std::wstring& name) const {
  for (const auto& header : Headers)
    if (SameTextAscii(header.first, name)) return true;
  return false;
}

void CheckResponse(const THttpResponse* response, const std::wstring& context) {
  if (!response) throw Exception(context + L": нет ответа от сервера");
  if (response->StatusCode >= 200 && response->StatusCode <= 299) return;
  throw Exception(FormatMessageText(L"%s: HTTP ошибка %d - %s",
                                    {context, IntToStr(response->StatusCode), response->StatusText}));
}
