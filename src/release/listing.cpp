#include "release/listing.h"

// A malformed escape in an answer must never stop the program: the reader's own checks turn
// into nothing, and every value is type-checked before it is read.
#define RAPIDJSON_ASSERT(x) ((void)0)
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include "system/errors.h"
#include "system/text.h"

namespace {

using TDocument = rapidjson::Document;
using TValue = rapidjson::Value;

// Iterative: the reader keeps its own stack on the heap, so no answer can exhaust the thread's.
constexpr unsigned kParseFlags = rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseIterativeFlag;

// True when arrays and objects nest deeper than kMaxJsonDepth outside strings.
bool NestsTooDeep(std::string_view source) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < source.size(); ++i) {
    const char c = source[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxJsonDepth) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

const TValue* Member(const TValue& object, const char* name) {
  // FindMember walks the members in order, so the first of two equal names counts.
  const auto it = object.FindMember(name);
  return it == object.MemberEnd() ? nullptr : &it->value;
}

// A member read as text: strings and numbers (kept as the text of the body), true, false and
// null have a text; objects and arrays do not.
std::wstring MemberText(const TValue& object, const char* name, const wchar_t* shownName) {
  const TValue* v = Member(object, name);
  if (!v) throw Exception(FormatMessageText(L"Value '%s' not found", {shownName}));
  switch (v->GetType()) {
    case rapidjson::kStringType:
      return DecodeUtf8Lenient(std::string_view(v->GetString(), v->GetStringLength()));
    case rapidjson::kNumberType:  // not produced with numbers kept as text, but harmless
      return Widen(std::to_string(v->GetDouble()));
    case rapidjson::kTrueType:
      return L"true";
    case rapidjson::kFalseType:
      return L"false";
    case rapidjson::kNullType:
      return L"";
    case rapidjson::kObjectType:
      throw Exception(L"Conversion from object to string is not supported");
    case rapidjson::kArrayType:
      throw Exception(L"Conversion from array to string is not supported");
  }
  return L"";
}

// A whole non-negative integer from a member of an object; -1 when it is not one.
int64_t WholeNumber(const TValue& embedded, const char* name) {
  const TValue* v = Member(embedded, name);
  if (!v || !v->IsString()) return -1;
  const char* s = v->GetString();
  const size_t len = v->GetStringLength();
  if (len == 0 || len > 15) return -1;
  int64_t n = 0;
  for (size_t i = 0; i < len; ++i) {
    if (s[i] < '0' || s[i] > '9') return -1;
    n = n * 10 + (s[i] - '0');
  }
  return n;
}

// The published SHA-256 of an entry: 64 hex digits, given in lower case; empty when the entry
// has none (no member, or null). One that is there but not 64 hex digits fails the listing:
// the file would otherwise be taken unchecked.
std::wstring Sha256Text(const TValue& item, std::wstring_view name) {
  const TValue* v = Member(item, "sha256");
  if (!v || v->IsNull()) return L"";
  auto malformed = [&] {
    return EReleaseRefused(FormatMessageText(L"Список файлов публичной папки: неверная контрольная сумма SHA-256 файла %s",
                                       {std::wstring(name)}));
  };
  if (!v->IsString() || v->GetStringLength() != 64) throw malformed();
  std::wstring text;
  for (size_t i = 0; i < 64; ++i) {
    char c = v->GetString()[i];
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) throw malformed();
    text.push_back(static_cast<wchar_t>(c));
  }
  return text;
}

}  // namespace

std::wstring EncodeQueryValue(std::wstring_view text) {
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  std::wstring out;
  auto percent = [&](unsigned byte) {
    out.push_back(L'%');
    out.push_back(kHex[(byte >> 4) & 0xF]);
    out.push_back(kHex[byte & 0xF]);
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const uint32_t c = static_cast<uint32_t>(text[i]) & 0xFFFF;
    if ((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') ||
        std::wstring_view(L"!$'()*-.@_").find(static_cast<wchar_t>(c)) != std::wstring_view::npos) {
      out.push_back(static_cast<wchar_t>(c));
    } else if (c == L' ') {
      out.push_back(L'+');
    } else if (c < 0x80) {
      percent(c);
    } else {
      size_t len = 1;
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
        const uint32_t lo = static_cast<uint32_t>(text[i + 1]) & 0xFFFF;
        if (lo >= 0xDC00 && lo <= 0xDFFF) len = 2;
      }
      for (unsigned char b : EncodeUtf8(text.substr(i, len))) percent(b);
      i += len - 1;
    }
  }
  return out;
}

std::wstring ListingUrl(std::wstring_view apiRoot, std::wstring_view publicLink, int64_t offset) {
  std::wstring url(apiRoot);
  url += L"/v1/disk/public/resources?public_key=";
  url += EncodeQueryValue(publicLink);
  if (offset > 0) url += L"&offset=" + IntToStr(offset);
  return url;
}

TListingPage SearchListing(std::wstring_view text, std::wstring_view wanted) {
  const std::string source = EncodeUtf8(text);

  // The reader stops at a NUL unit; no JSON text holds one, so a body with one is no JSON text.
  TDocument doc;
  if (source.find('\0') != std::string::npos || NestsTooDeep(source)) throw Exception(L"Ошибка парсинга JSON");
  doc.Parse<kParseFlags>(source.c_str());
  if (doc.HasParseError()) throw Exception(L"Ошибка парсинга JSON");
  if (!doc.IsObject()) throw Exception(L"Invalid class typecast");

  TListingPage page;
  const TValue* embedded = Member(doc, "_embedded");
  if (!embedded || !embedded->IsObject()) return page;
  const TValue* items = Member(*embedded, "items");
  if (!items || !items->IsArray()) return page;

  for (const TValue& item : items->GetArray()) {
    if (!item.IsObject()) throw Exception(L"Invalid class typecast");
    if (MemberText(item, "name", L"name") == wanted) {
      page.Found = true;
      page.Link = MemberText(item, "file", L"file");
      page.Size = WholeNumber(item, "size");
      page.Sha256 = Sha256Text(item, wanted);
      return page;
    }
  }

  // Not on this page: the folder may hold more entries than one answer carries.
  const int64_t offset = WholeNumber(*embedded, "offset");
  const int64_t limit = WholeNumber(*embedded, "limit");
  const int64_t total = WholeNumber(*embedded, "total");
  const int64_t count = static_cast<int64_t>(items->Size());
  page.Offset = offset;
  if (offset >= 0 && limit > 0 && total >= 0 && count > 0 && offset + limit < total && offset + count < total) {
    page.MoreFollow = true;
    page.NextOffset = offset + count;
  }
  return page;
}
