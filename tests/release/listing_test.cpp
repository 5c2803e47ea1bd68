#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <sstream>

#include "support/utf8.h"
#include "release/answer_text.h"
#include "release/cookies.h"
#include "release/listing.h"
#include "release/response.h"
#include "release/url.h"
#include "system/errors.h"
#include "support/deflate.h"
#include "system/text.h"

namespace {

std::wstring MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return L"<no exception>";
}


}  // namespace

TEST(EncodeQueryValue, WritesEveryClassOfCharacterAsTheQueryNeeds) {
  const struct {
    std::wstring in, out;
  } cases[] = {
      {L"AZaz09!$'()*-.@_", L"AZaz09!$'()*-.@_"},
      {L":", L"%3A"},
      {L"/", L"%2F"},
      {L"~", L"%7E"},
      {L"+", L"%2B"},
      {L"a b", L"a+b"},
      {L"=&?#%", L"%3D%26%3F%23%25"},
      {L"\x01\x7F", L"%01%7F"},
      {L"\x00E9", L"%C3%A9"},
      {L"\x0416", L"%D0%96"},
      {L"\x20AC", L"%E2%82%AC"},
      {std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}, L"%F0%9F%98%80"},
      {L"https://disk.yandex.ru/d/Ab+c", L"https%3A%2F%2Fdisk.yandex.ru%2Fd%2FAb%2Bc"},
  };
  for (const auto& c : cases) EXPECT_EQ(EncodeQueryValue(c.in), c.out) << EncodeUtf8(c.in);
  EXPECT_EQ(ListingUrl(L"https://cloud-api.yandex.net", L"https://x/d/a"),
            L"https://cloud-api.yandex.net/v1/disk/public/resources?public_key=https%3A%2F%2Fx%2Fd%2Fa");
  EXPECT_EQ(ListingUrl(L"http://h:1", L"k", 20), L"http://h:1/v1/disk/public/resources?public_key=k&offset=20");
}

namespace {

std::wstring Listing(const std::string& items, const std::string& paging = R"("offset":0,"limit":20,"total":1)") {
  return U((R"({"type":"dir","_embedded":{)" + paging + R"(,"items":[)" + items + "]}}").c_str());
}

}  // namespace

TEST(SearchListing, FindsTheEntryOrSaysWhyNot) {
  const struct {
    std::wstring text, wanted;
    bool found;
    std::wstring link;  // or the message when raising
    bool raises;
  } cases[] = {
      {Listing(R"({"name":"version.txt","file":"http://f/1"})"), L"version.txt", true, L"http://f/1", false},
      {Listing(R"({"name":"Version.txt","file":"http://f/1"})"), L"version.txt", false, L"", false},
      {Listing(R"({"name":"a","file":"1"},{"name":"a","file":"2"})"), L"a", true, L"1", false},
      {Listing(R"({"name":"a","name":"b","file":"1","file":"2"})"), L"a", true, L"1", false},
      {Listing(R"({"name":"a","file":""})"), L"a", true, L"", false},
      {U(R"({"type":"file","name":"a","file":"http://f/1"})"), L"a", false, L"", false},
      {U(R"({"_embedded":[]})"), L"a", false, L"", false},
      {U(R"({"_embedded":{"items":{}}})"), L"a", false, L"", false},
      {U(R"({"_embedded":{"items":[]}})"), L"a", false, L"", false},
      {Listing(R"({"name":"old","type":"dir"})"), L"old", false, L"Value 'file' not found", true},
      {Listing(R"({"type":"dir"},{"name":"a","file":"1"})"), L"a", false, L"Value 'name' not found", true},
      {Listing(R"({"name":"x","file":"1"})"), L"", false, L"", false},
      {Listing(R"({"name":"","file":"1"})"), L"", true, L"1", false},
      {Listing(R"({"name":null,"file":"1"})"), L"", true, L"1", false},
      {Listing(R"({"name":12.50e1,"file":-0.0})"), L"12.50e1", true, L"-0.0", false},
      {Listing(R"({"name":true,"file":false})"), L"true", true, L"false", false},
      {Listing(R"({"name":"a","file":null})"), L"a", true, L"", false},
      {Listing(R"({"name":{},"file":"1"})"), L"a", false, L"Conversion from object to string is not supported", true},
      {Listing(R"({"name":"a","file":[1]})"), L"a", false, L"Conversion from array to string is not supported", true},
      {Listing(R"({"name":"a","file":"1"},7)"), L"b", false, L"Invalid class typecast", true},
      {Listing(R"("x",{"name":"a","file":"1"})"), L"a", false, L"Invalid class typecast", true},
      {Listing(R"({"name":"\u0416\ud83d\ude00","file":"ok"})"), U("\xD0\x96\xF0\x9F\x98\x80"), true, L"ok", false},
      {Listing(R"({"name":"\udc00","file":"ok"})"), std::wstring(1, wchar_t(0xDC00)), true, L"ok", false},
      {U("[]"), L"a", false, L"Invalid class typecast", true},
      {U("\"text\""), L"a", false, L"Invalid class typecast", true},
      {U(""), L"a", false, U("Ошибка парсинга JSON"), true},
      {U("  \r\n"), L"a", false, U("Ошибка парсинга JSON"), true},
      {U("{} {}"), L"a", false, U("Ошибка парсинга JSON"), true},
      {U("{\"a\":1,}"), L"a", false, U("Ошибка парсинга JSON"), true},
      {std::wstring(L"{}\0", 3), L"a", false, U("Ошибка парсинга JSON"), true},
      {U(" \t{}\r\n "), L"a", false, L"", false},
  };
  for (const auto& c : cases) {
    const std::string label = EncodeUtf8(c.text) + " / " + EncodeUtf8(c.wanted);
    if (c.raises) {
      EXPECT_EQ(MessageOf([&] { SearchListing(c.text, c.wanted); }), c.link) << label;
      continue;
    }
    TListingPage page;
    ASSERT_NO_THROW(page = SearchListing(c.text, c.wanted)) << label;
    EXPECT_EQ(page.Found, c.found) << label;
    EXPECT_EQ(page.Link, c.link) << label;
  }
}

// A checksum that is there but malformed fails the search: the file would go unchecked.
TEST(SearchListing, ReadsThePublishedSizeAndChecksumOrRefusesAMalformedOne) {
  const std::string sha(64, 'a');
  const std::string upper = "0123456789ABCDEF" + std::string(48, 'F');
  const std::string refused = "!";
  const struct {
    std::string item;
    int64_t size;
    std::string sha256;  // "!": the search raises
  } cases[] = {
      {R"("size":10240,"sha256":")" + sha + "\"", 10240, sha},
      {R"("size":6442450944,"sha256":")" + upper + "\"", 6442450944, "0123456789abcdef" + std::string(48, 'f')},
      {R"("size":0)", 0, ""},
      {R"("size":0,"sha256":null)", 0, ""},
      {R"("size":-5,"sha256":")" + sha.substr(1) + "\"", -1, refused},
      {R"("size":"12","sha256":")" + sha + "0\"", 12, refused},  // numbers are read as their text
      {R"("size":1.5,"sha256":")" + std::string(63, 'a') + "g\"", -1, refused},
      {R"("size":null,"sha256":12)", -1, refused},
      {R"("sha256":"")", -1, refused},
      {"", -1, ""},
  };
  for (const auto& c : cases) {
    const std::string item = R"({"name":"a","file":"1")" + (c.item.empty() ? "" : "," + c.item) + "}";
    if (c.sha256 == refused) {
      EXPECT_EQ(MessageOf([&] { SearchListing(Listing(item), L"a"); }),
                L"Список файлов публичной папки: неверная контрольная сумма SHA-256 файла a")
          << c.item;
      continue;
    }
    const TListingPage page = SearchListing(Listing(item), L"a");
    EXPECT_EQ(page.Size, c.size) << c.item;
    EXPECT_EQ(EncodeUtf8(page.Sha256), c.sha256) << c.item;
  }
  // Only the wanted entry's checksum matters.
  const TListingPage other = SearchListing(
      Listing(R"({"name":"b","file":"2","sha256":"bad"},{"name":"a","file":"1","sha256":")" + sha + "\"}"), L"a");
  EXPECT_EQ(EncodeUtf8(other.Sha256), sha);
}

TEST(SearchListing, RefusesNestingBeyondTheLimitWithoutRecursion) {
  auto nested = [](int depth, const char* open, const char* close) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += open;
    for (int i = 0; i < depth; ++i) text += close;
    return text;
  };
  const std::wstring parseError = U("Ошибка парсинга JSON");
  // The listing's own three levels plus the items' nesting.
  EXPECT_EQ(MessageOf([&] { SearchListing(Listing(nested(kMaxJsonDepth - 3, "[", "]")), L"a"); }),
            L"Invalid class typecast");
  EXPECT_EQ(MessageOf([&] { SearchListing(Listing(nested(kMaxJsonDepth, "[", "]")), L"a"); }), parseError);
  EXPECT_EQ(MessageOf([&] { SearchListing(Widen(nested(100000, "[", "]")), L"a"); }), parseError);
  EXPECT_EQ(MessageOf([&] { SearchListing(Widen(nested(100000, "{\"a\":", "}")), L"a"); }), parseError);
  EXPECT_EQ(MessageOf([&] { SearchListing(Widen(std::string(100000, '[')), L"a"); }), parseError);
  // Brackets inside strings are text, not nesting.
  const std::string deepText = "\"" + nested(1000, "[", "]") + "\\\"[\"";
  const TListingPage page = SearchListing(Listing(R"({"name":)" + deepText + R"(,"file":"1"})"), L"a");
  EXPECT_FALSE(page.Found);
}

TEST(SearchListing, AsksForTheNextPageOnlyWhileEntriesRemain) {
  const struct {
    std::string paging;
    int items;
    bool more;
    int64_t next;
  } cases[] = {
      {R"("offset":0,"limit":20,"total":45)", 20, true, 20},
      {R"("total":45,"limit":20,"offset":20)", 20, true, 40},
      {R"("offset":40,"limit":20,"total":45)", 5, false, 0},
      {R"("offset":0,"limit":20,"total":20)", 20, false, 0},
      {R"("offset":0,"limit":20,"total":45)", 0, false, 0},
      {R"("offset":0,"limit":20)", 20, false, 0},
      {R"("offset":"0","limit":20,"total":45.5)", 20, false, 0},
      {R"("offset":0,"limit":10,"total":45)", 3, true, 3},
  };
  for (const auto& c : cases) {
    std::string items;
    for (int i = 0; i < c.items; ++i) items += (i ? "," : "") + std::string(R"({"name":"f)") + std::to_string(i) + R"(","file":"x"})";
    const TListingPage page = SearchListing(Listing(items, c.paging), L"wanted");
    EXPECT_FALSE(page.Found);
    EXPECT_EQ(page.MoreFollow, c.more) << c.paging;
    if (c.more) {
      EXPECT_EQ(page.NextOffset, c.next) << c.paging;
    }
  }
  // The answer's own offset, for the caller to hold against the one it asked for.
  EXPECT_EQ(SearchListing(Listing("", R"("offset":40,"limit":20,"total":45)"), L"w").Offset, 40);
  EXPECT_EQ(SearchListing(Listing("", R"("limit":20,"total":45)"), L"w").Offset, -1);
}

TEST(SearchListing, ReadsTheRecordedFolderAnswer) {
  std::ifstream in(MORVANE_FOLDER_ANSWER, std::ios::binary);
  ASSERT_TRUE(in);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::wstring text = *DecodeUtf8Strict(ss.str());
  const TListingPage changes = SearchListing(text, L"Changes.txt");
  EXPECT_TRUE(changes.Found);
  EXPECT_EQ(changes.Link.rfind(L"https://downloader.disk.yandex.ru/disk/", 0), 0u);
  EXPECT_EQ(MessageOf([&] { SearchListing(text, L"old"); }), L"Value 'file' not found");
  EXPECT_FALSE(SearchListing(text, L"missing.txt").MoreFollow);
}

TEST(CharsetOf, TakesTheFirstCharsetPieceWithExactlyOneEqualsSign) {
  const struct {
    std::wstring contentType;
    bool found;
    std::wstring charset;
  } cases[] = {
      {L"text/plain", false, L""},
      {L"", false, L""},
      {L"text/plain; charset=windows-1251", true, L"windows-1251"},
      {L"text/plain;charset=UTF-8", true, L"UTF-8"},
      {L"text/plain;  CharSet = \"koi8-r\" ", true, L"koi8-r"},
      {L"text/plain; charset='cp1251'", true, L"cp1251"},
      {L"text/plain; charset=\"cp1251", true, L"\"cp1251"},
      {L"text/plain; charset", false, L""},
      {L"text/plain; charset=a=b", false, L""},
      {L"text/plain; x=1; charset=utf-8; charset=koi8-r", true, L"utf-8"},
      {L"text/plain; xcharset=koi8-r", false, L""},
      {L"text/plain; charset=", true, L""},
  };
  for (const auto& c : cases) {
    const auto got = CharsetOf(c.contentType);
    EXPECT_EQ(got.has_value(), c.found) << EncodeUtf8(c.contentType);
    if (got && c.found) {
      EXPECT_EQ(*got, c.charset) << EncodeUtf8(c.contentType);
    }
  }
}

namespace {

// Stands for the system's code page tables: every byte maps to U+0400 plus its value above 0x7F.
std::wstring FakeCodePage(unsigned codePage, std::string_view bytes) {
  std::wstring out = IntToStr(codePage) + L":";
  for (unsigned char b : bytes) out.push_back(b < 0x80 ? wchar_t(b) : wchar_t(0x0400 + (b - 0x80)));
  return out;
}

std::string Compress(const std::string& data, bool gzip) { return DeflateBytes(data, gzip ? kGzip : kZlibDeflate); }

}  // namespace

TEST(DecodeAnswerText, InflatesThenDecodesWithTheNamedCharset) {
  const std::wstring noMapping = L"No mapping for the Unicode character exists in the target multi-byte code page";
  const struct {
    std::string body;
    std::wstring contentType, contentEncoding, text;
    bool raises;
  } cases[] = {
      {"1.2.3\r\n", L"text/plain", L"", L"1.2.3\r\n", false},
      {"\xEF\xBB\xBF" "1.2.3", L"text/plain", L"", L"1.2.3", false},
      {"\xEF\xBB\xBF" "1.2.3", L"text/plain; charset=utf-8", L"", L"1.2.3", false},
      {"\xD0\x96", L"", L"", L"\x0416", false},
      {"1.2\xFF", L"text/plain", L"", noMapping, true},
      {"1.2\xFF", L"text/plain; charset=UTF-8", L"", noMapping, true},
      {"", L"text/plain", L"", L"", false},
      {"\xC6", L"text/plain; charset=windows-1251", L"", L"1251:\x0446", false},
      {"\xC6", L"text/plain; charset=KOI8-R", L"", L"20866:\x0446", false},
      {"a", L"text/plain; charset=no-such-thing", L"", L"Invalid encoding name", true},
      {std::string("\xFF\xFE" "1\0.\0", 6), L"text/plain; charset=utf-16", L"", L"1.", false},
      {std::string("\xFE\xFF\0" "1\0.", 6), L"text/plain; charset=utf-16be", L"", L"1.", false},
      {Compress("1.2.3", true), L"text/plain", L"gzip", L"1.2.3", false},
      {Compress("\xEF\xBB\xBF" "4.5", false), L"text/plain", L"deflate", L"4.5", false},
      {Compress("1.2.3", true), L"text/plain", L"GZIP", noMapping, true},
      {Compress("1.2.3", true).substr(0, 8), L"text/plain", L"gzip", L"Error decompressing data", true},
      {"plain", L"text/plain", L"deflate", L"Error decompressing data", true},
  };
  for (const auto& c : cases) {
    const std::string label = c.body + " / " + EncodeUtf8(c.contentType) + " / " + EncodeUtf8(c.contentEncoding);
    if (c.raises) {
      EXPECT_EQ(MessageOf([&] { DecodeAnswerText(c.body, c.contentType, c.contentEncoding, FakeCodePage); }), c.text)
          << label;
    } else {
      EXPECT_EQ(DecodeAnswerText(c.body, c.contentType, c.contentEncoding, FakeCodePage), c.text) << label;
    }
  }
}

// A small answer must not inflate without bound.
TEST(InflateBody, StopsAtItsCap) {
  const std::string big(5000, 'z');
  for (bool gzip : {true, false}) {
    EXPECT_EQ(InflateBody(Compress(big, gzip), gzip, 5000), big);
    EXPECT_EQ(MessageOf([&] { InflateBody(Compress(big, gzip), gzip, 4999); }),
              L"Распакованный ответ сервера длиннее 4999 байт");
  }
}

TEST(TrimControlAndSpace, TrimsEveryUnitUpToSpaceAndNothingElse) {
  const struct {
    std::wstring in, out;
  } cases[] = {
      {L"1.2.3\r\n", L"1.2.3"},
      {L"\t 1.2.3 \x01\x1F", L"1.2.3"},
      {L"\x00A0" L"1.2.3\x00A0", L"\x00A0" L"1.2.3\x00A0"},
      {L" 1 2 ", L"1 2"},
      {L" \r\n\t", L""},
      {L"", L""},
      {std::wstring(L"\0" L"1\0", 3), L"1"},
  };
  for (const auto& c : cases) EXPECT_EQ(TrimControlAndSpace(c.in), c.out) << EncodeUtf8(c.in);
}

TEST(CheckResponse, NamesTheStepAndTheStatus) {
  EXPECT_EQ(MessageOf([] { CheckResponse(nullptr, U("Загрузка version.txt")); }),
            U("Загрузка version.txt: нет ответа от сервера"));
  THttpResponse r;
  r.StatusCode = 404;
  r.StatusText = L"Not Found";
  EXPECT_EQ(MessageOf([&] { CheckResponse(&r, U("Получение списка файлов")); }),
            U("Получение списка файлов: HTTP ошибка 404 - Not Found"));
  r.StatusCode = 302;
  r.StatusText = L"";
  EXPECT_EQ(MessageOf([&] { CheckResponse(&r, L"X"); }), U("X: HTTP ошибка 302 - "));
  for (int ok : {200, 206, 299}) {
    r.StatusCode = ok;
    EXPECT_NO_THROW(CheckResponse(&r, L"X"));
  }
}

TEST(ResolveLocation, ResolvesRelativeTargetsAndCarriesTheFragment) {
  const struct {
    std::wstring base, location, out;
  } cases[] = {
      {L"http://a/b/c?q", L"http://x/y", L"http://x/y"},
      {L"http://a/b/c?q", L"HTTPS://x", L"https://x"},
      {L"http://a/b/c?q", L"//x/y", L"http://x/y"},
      {L"http://a/b/c?q", L"/d", L"http://a/d"},
      {L"http://a/b/c?q", L"d?e", L"http://a/b/d?e"},
      {L"http://a/b/c?q", L"../d", L"http://a/d"},
      {L"http://a/b/c?q", L"../../../d", L"http://a/d"},
      {L"http://a/b/c?q", L"?z", L"http://a/b/c?z"},
      {L"http://a/b/c#frag", L"/d", L"http://a/d#frag"},
      {L"http://a/b/c#frag", L"/d#new", L"http://a/d#new"},
      {L"http://a:8/b", L"./c/./d/../e", L"http://a:8/c/e"},
      {L"http://a", L"b", L"http://a/b"},
  };
  for (const auto& c : cases) EXPECT_EQ(ResolveLocation(c.base, c.location), c.out) << EncodeUtf8(c.location);
}

TEST(LeavesHttps, OnlyASecureToPlainHopIsADowngrade) {
  EXPECT_TRUE(LeavesHttps(L"https://a/x", L"http://a/x"));
  EXPECT_TRUE(LeavesHttps(L"HTTPS://a/x", L"http://b/"));
  EXPECT_TRUE(LeavesHttps(L"https://a/x", L"ftp://a/x"));
  EXPECT_FALSE(LeavesHttps(L"https://a/x", L"HTTPS://b/y"));
  EXPECT_FALSE(LeavesHttps(L"http://a/x", L"http://b/y"));
  EXPECT_FALSE(LeavesHttps(L"http://a/x", L"https://b/y"));
}

TEST(ParseHttpUrl, SplitsWhatWinHttpTakes) {
  auto u = ParseHttpUrl(L"HTTP://user@Host:8123/p?q=1#f");
  ASSERT_TRUE(u);
  EXPECT_EQ(u->Scheme, L"http");
  EXPECT_EQ(u->Host, L"Host");
  EXPECT_EQ(u->Port, 8123);
  EXPECT_EQ(u->PathQuery, L"/p?q=1");
  u = ParseHttpUrl(L"https://[::1]?x");
  ASSERT_TRUE(u);
  EXPECT_EQ(u->Host, L"::1");
  EXPECT_EQ(u->Port, 443);
  EXPECT_EQ(u->PathQuery, L"/?x");
  for (const wchar_t* bad : {L"ftp://a/", L"http:/a", L"http://:80/", L"http://a:0/", L"http://a:99999/",
                             L"http://a:1x/", L"http://[::1/", L"a/b"})
    EXPECT_FALSE(ParseHttpUrl(bad)) << EncodeUtf8(bad);
}

TEST(ProxyForScheme, PicksTheEntryForTheSchemeOrTheOneForAll) {
  const struct {
    const wchar_t* list;
    const wchar_t* scheme;
    const wchar_t* out;
  } cases[] = {
      {L"proxy:3128", L"http", L"proxy:3128"},
      {L"proxy:3128", L"https", L"proxy:3128"},
      {L"http=h:1;https=s:2", L"http", L"h:1"},
      {L"http=h:1;https=s:2", L"https", L"s:2"},
      {L"HTTPS=s:2 all:9", L"https", L"s:2"},
      {L"all:9;https=s:2", L"https", L"s:2"},
      {L"all:9;https=s:2", L"http", L"all:9"},
      {L"https=s:2", L"http", L""},
      {L"ftp=f:21;socks=k:1080", L"http", L""},
      {L"http=http://h:1/;;  ", L"http", L"h:1"},
      {L"http://h:8080", L"https", L"h:8080"},
      {L"", L"http", L""},
      {L"http=", L"http", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(ProxyForScheme(c.list, c.scheme), c.out) << EncodeUtf8(c.list) << " " << EncodeUtf8(c.scheme);
}

TEST(TCookieStore, SendsWhatAnswersSetToTheRightHostsAndPaths) {
  TCookieStore store;
  store.SetCookie(L"hop=1; Path=/", L"a.example.org", L"/r/1");
  store.SetCookie(L"sub=2; Domain=.example.org; Path=/r", L"a.example.org", L"/r/1");
  store.SetCookie(L"sec=3; Secure", L"a.example.org", L"/x/y");
  store.SetCookie(L"foreign=4; Domain=other.org", L"a.example.org", L"/");
  store.SetCookie(L"novalue", L"a.example.org", L"/");
  // A Domain of one label, or with empty labels, is nobody's to set.
  for (const wchar_t* domain : {L"org", L".org", L"example.org.", L"a..example.org", L"."})
    store.SetCookie(std::wstring(L"wide=5; Domain=") + domain, L"a.example.org", L"/");
  EXPECT_EQ(store.CookieHeader(L"a.example.org", L"/r/2?q", false), L"hop=1; sub=2");
  EXPECT_EQ(store.CookieHeader(L"b.example.org", L"/r", false), L"sub=2");
  EXPECT_EQ(store.CookieHeader(L"b.example.org", L"/rx", false), L"");
  EXPECT_EQ(store.CookieHeader(L"a.example.org", L"/x/z", true), L"hop=1; sec=3");
  EXPECT_EQ(store.CookieHeader(L"other.org", L"/", true), L"");
  store.SetCookie(L"hop=5; Path=/", L"A.EXAMPLE.ORG", L"/");
  EXPECT_EQ(store.CookieHeader(L"a.example.org", L"/", false), L"hop=5");
  store.SetCookie(L"hop=; Path=/; Max-Age=0", L"a.example.org", L"/");
  EXPECT_EQ(store.CookieHeader(L"a.example.org", L"/", false), L"");
}
