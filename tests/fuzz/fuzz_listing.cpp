// Feeds arbitrary answers through the answer-text decoder and the listing search, and the same
// bytes as a "Location", a "Set-Cookie", a "Content-Range", a "Content-Length" and a
// "Retry-After" value.
#include <cstddef>
#include <cstdint>
#include <string>

#include "release/answer_text.h"
#include "release/cookies.h"
#include "release/download_plan.h"
#include "release/listing.h"
#include "release/retry.h"
#include "release/url.h"
#include "system/errors.h"
#include "system/text.h"

namespace {

std::wstring Latin1(unsigned, std::string_view bytes) {
  std::wstring out;
  for (unsigned char b : bytes) out.push_back(static_cast<wchar_t>(b));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const wchar_t* const kContentTypes[] = {
      L"application/json; charset=utf-8", L"application/json", L"text/plain; charset=windows-1251",
      L"text/plain; charset=utf-16", L"text/plain; charset=utf-16be", L"text/plain; charset=\"utf-32\""};
  static const wchar_t* const kEncodings[] = {L"", L"gzip", L"deflate"};
  // A leading selector byte picks the header pair; a plain JSON text goes in as UTF-8 as it is.
  const bool plain = size && (data[0] == '{' || data[0] == '[' || data[0] == '"' || data[0] == ' ');
  const bool selected = size && !plain;
  const unsigned selector = selected ? data[0] : 0;
  const std::string_view body(reinterpret_cast<const char*>(data) + (selected ? 1 : 0), size - (selected ? 1 : 0));

  try {
    const std::wstring text = DecodeAnswerText(body, kContentTypes[selector % 6], kEncodings[(selector / 6) % 3], Latin1);
    for (const wchar_t* wanted : {L"version.txt", L"", L"Changes.txt"}) {
      try {
        const TListingPage page = SearchListing(text, wanted);
        if (page.MoreFollow && page.NextOffset <= 0) __builtin_trap();
        if (!page.Sha256.empty() && page.Sha256.size() != 64) __builtin_trap();
        if (page.Size < -1) __builtin_trap();
      } catch (const Exception&) {
      }
    }
    (void)EncodeQueryValue(text);
    const std::wstring target = ResolveLocation(L"https://host.example/a/b?c#d", text);
    (void)ParseHttpUrl(target);
    (void)LeavesHttps(L"https://host.example/a", target);
    try {
      // A part's head is accepted only for exactly the bytes asked.
      if (JudgePartHead(206, text, L"", TPartRange{2, 3}, 10) != 2) __builtin_trap();
      if (JudgePartHead(200, L"", text, TPartRange{2, 3}, 10) != 10) __builtin_trap();
    } catch (const Exception&) {
    }
    if (RetryAfterMs(text) > kMaxRetryAfterMs) __builtin_trap();
    TCookieStore cookies;
    cookies.SetCookie(text, L"host.example", L"/a/b");
    (void)cookies.CookieHeader(L"host.example", L"/a/b", true);
  } catch (const Exception&) {
  }
  return 0;
}
