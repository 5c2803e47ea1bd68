// The HTTP client on the system's WinHTTP and the release folder client, against the local
// stand-in of the cloud disk on loopback: listing answers, version files, redirects and cookies,
// compression, transport failures, paging, the thread of the receive-data handler and the
// user's proxy settings.
#include <windows.h>

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/utf8.h"
#include "system/main_queue.h"
#include "release/answer_text.h"
#include "release/http_client.h"
#include "release/release_folder.h"
#include "support/main_loop.h"
#include "support/standin.h"
#include "system/errors.h"
#include "system/stream.h"
#include "system/text.h"

namespace {


// The result of f, or the message of the Exception it raised.
std::wstring ResultOrMessage(const std::function<std::wstring()>& f) {
  try {
    return f();
  } catch (const Exception& e) {
    return e.Message();
  }
}

std::string JsonText(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// Percent-encodes a query value for the stand-in's test endpoints.
std::wstring Q(const std::string& utf8) { return QueryEscapeUtf8(utf8); }

using LoggedRequest = TLoggedRequest;

std::vector<LoggedRequest> Requests() { return StandinRequests(); }

std::vector<LoggedRequest> ListingRequests() {
  std::vector<LoggedRequest> out;
  for (const LoggedRequest& r : Requests()) {
    if (r.path.rfind("/v1/disk/public/resources", 0) == 0) out.push_back(r);
  }
  return out;
}

// The echo endpoint's view of the request that reached it.
struct Echo {
  std::string method, path;
  std::map<std::string, std::string> headers;
};

Echo ParseEcho(const std::string& body) {
  rapidjson::Document doc;
  doc.Parse(body.c_str(), body.size());
  Echo echo;
  if (!doc.IsObject()) {
    ADD_FAILURE() << "not an echo: " << body;
    return echo;
  }
  echo.method = doc["method"].GetString();
  echo.path = doc["path"].GetString();
  for (const auto& h : doc["headers"].GetObject()) echo.headers[h.name.GetString()] = h.value.GetString();
  return echo;
}

class StandinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StandinReset();
    ForgetProxyDecisions();
  }
};

// ---------------------------------------------------------------------------------------------
// Listing answers

std::string Folder(const std::string& items, int total = -1) {
  if (total < 0) total = items.empty() ? 0 : static_cast<int>(std::count(items.begin(), items.end(), '{'));
  return R"({"type":"dir","name":"rel","_embedded":{"offset":0,"limit":20,"total":)" + std::to_string(total) +
         R"(,"items":[)" + items + "]}}";
}

struct ListingCase {
  const char* name;
  std::string body;
  const char* wanted;    // UTF-8
  const char* expected;  // UTF-8: the link, or the message raised
};

const wchar_t kListingContext[] = L"Получение списка файлов";

// Links here are HTTPS, or published with a checksum: a plain-HTTP link without one is refused.
TEST_F(StandinTest, ListingAnswersGiveTheLinkOrTheirMessage) {
  const std::string sha = R"("sha256":")" + std::string(64, 'a') + "\"";
  const ListingCase cases[] = {
      {"name differing in case", Folder(R"({"name":"Version.txt","file":"https://h/1"})"), "version.txt",
       "Файл version.txt не найден в публичной папке"},
      {"first of two entries", Folder(R"({"name":"a.zip","file":"https://h/first"},{"name":"a.zip","file":"https://h/second"})"),
       "a.zip", "https://h/first"},
      {"first of two members", Folder(R"({"name":"a.zip","file":"https://h/first","file":"https://h/second"})"), "a.zip",
       "https://h/first"},
      {"single file", R"({"type":"file","name":"a.zip","file":"https://h/a"})", "a.zip",
       "Файл a.zip не найден в публичной папке"},
      {"folder entry", Folder(R"({"name":"a.zip","type":"dir"})"), "a.zip", "Value 'file' not found"},
      {"nameless entry before", Folder(R"({"file":"https://h/0"},{"name":"a.zip","file":"https://h/a"})"), "a.zip",
       "Value 'name' not found"},
      {"nameless entry after", Folder(R"({"name":"a.zip","file":"https://h/a"},{"file":"https://h/0"})"), "a.zip",
       "https://h/a"},
      {"empty wanted name", Folder(R"({"name":"a.zip","file":"https://h/a"})"), "", "Файл  не найден в публичной папке"},
      {"empty wanted name, null name", Folder(R"({"name":"a.zip","file":"https://h/a"},{"name":null,"file":"https://h/null"})"),
       "", "https://h/null"},
      {"empty wanted name, empty name", Folder(R"({"name":"","file":"https://h/empty"})"), "", "https://h/empty"},
      {"number name as written", Folder(R"({"name":12.50,"file":"https://h/n"})"), "12.50", "https://h/n"},
      {"number name not rewritten", Folder(R"({"name":12.50,"file":"https://h/n"})"), "12.5",
       "Файл 12.5 не найден в публичной папке"},
      {"true name", Folder(R"({"name":true,"file":"https://h/t"})"), "true", "https://h/t"},
      {"false name", Folder(R"({"name":false,"file":"https://h/f"})"), "false", "https://h/f"},
      {"object name", Folder(R"({"name":{"a":1},"file":"https://h/o"})"), "a.zip",
       "Conversion from object to string is not supported"},
      {"array name", Folder(R"({"name":["a.zip"],"file":"https://h/o"})"), "a.zip",
       "Conversion from array to string is not supported"},
      {"number file", Folder(R"({"name":"a.zip","file":-1.5e+3,)" + sha + "}"), "a.zip", "-1.5e+3"},
      {"true file", Folder(R"({"name":"a.zip","file":true,)" + sha + "}"), "a.zip", "true"},
      {"false file", Folder(R"({"name":"a.zip","file":false,)" + sha + "}"), "a.zip", "false"},
      {"null file", Folder(R"({"name":"a.zip","file":null})"), "a.zip", "Файл a.zip не найден в публичной папке"},
      {"empty file", Folder(R"({"name":"a.zip","file":""})"), "a.zip", "Файл a.zip не найден в публичной папке"},
      {"object file", Folder(R"({"name":"a.zip","file":{}})"), "a.zip", "Conversion from object to string is not supported"},
      {"array file", Folder(R"({"name":"a.zip","file":[]})"), "a.zip", "Conversion from array to string is not supported"},
      {"array answer", R"([{"name":"a.zip","file":"https://h/a"}])", "a.zip", "Invalid class typecast"},
      {"entry not an object", Folder(R"(1,{"name":"a.zip","file":"https://h/a"})", 2), "a.zip", "Invalid class typecast"},
      {"empty body", "", "a.zip", "Ошибка парсинга JSON"},
      {"white space around", " \r\n\t" + Folder(R"({"name":"a.zip","file":"https://h/a"})") + "\n ", "a.zip", "https://h/a"},
      {"text after the value", Folder(R"({"name":"a.zip","file":"https://h/a"})") + "x", "a.zip", "Ошибка парсинга JSON"},
      {"_embedded not an object", R"({"_embedded":[{"name":"a.zip","file":"https://h/a"}]})", "a.zip",
       "Файл a.zip не найден в публичной папке"},
      {"items not an array", R"({"_embedded":{"items":{"name":"a.zip","file":"https://h/a"}}})", "a.zip",
       "Файл a.zip не найден в публичной папке"},
      {"name outside ASCII", Folder(R"({"name":"Журнал.txt","file":"https://h/j"})"), "Журнал.txt", "https://h/j"},
      {"escaped name", Folder(R"({"name":"a\u002Ezip","file":"https:\/\/h\/e"})"), "a.zip", "https://h/e"},
  };
  for (const ListingCase& c : cases) {
    StandinConfig(R"({"listing_body":)" + JsonText(c.body) + "}");
    EXPECT_EQ(ResultOrMessage([&] { return GetDirectDownloadLink(FolderLink(L"rel"), U(c.wanted)); }), U(c.expected))
        << c.name;
  }
}

TEST_F(StandinTest, ListingFailuresNameTheStep) {
  const struct {
    const char* config;
    std::wstring expected;
  } cases[] = {
      {R"({"listing_status":404})", std::wstring(kListingContext) + L": HTTP ошибка 404 - Not Found"},
      {R"({"listing_status":503})", std::wstring(kListingContext) + L": HTTP ошибка 503 - Service Unavailable"},
      {R"({"listing_body":"{}","listing_content_type":"application/json; charset=x-no-such-code-page"})",
       L"Invalid encoding name"},
      // A hundred thousand nested arrays: refused as a parse error, no stack overflow.
      {R"({"listing_depth":100000})", U("Ошибка парсинга JSON")},
  };
  for (const auto& c : cases) {
    StandinReset();
    StandinConfig(c.config);
    EXPECT_EQ(ResultOrMessage([] { return GetDirectDownloadLink(FolderLink(L"rel"), L"a.zip"); }), c.expected)
        << c.config;
  }
  // A folder the service does not know.
  StandinReset();
  EXPECT_EQ(ResultOrMessage([] { return GetDirectDownloadLink(FolderLink(L"no-such-folder"), L"a.zip"); }),
            std::wstring(kListingContext) + L": HTTP ошибка 404 - Not Found");
}

TEST_F(StandinTest, RealFolderEntriesAndTheListingRequest) {
  StandinPutFile(L"real", L"Tandrel.zip", "zip");
  StandinPutFile(L"real", L"notes/Changes.txt", "notes");
  const std::wstring link = GetDirectDownloadLink(FolderLink(L"real"), L"Tandrel.zip");
  EXPECT_EQ(link.rfind(StandinUrl() + L"/disk/", 0), 0u) << EncodeUtf8(link);
  // A subfolder is an entry without "file".
  EXPECT_EQ(ResultOrMessage([] { return GetDirectDownloadLink(FolderLink(L"real"), L"notes"); }),
            L"Value 'file' not found");
  // One request per search for a small folder, with the public link as its only parameter.
  const std::vector<LoggedRequest> listings = ListingRequests();
  ASSERT_EQ(listings.size(), 2u);
  for (const LoggedRequest& r : listings) {
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.path, "/v1/disk/public/resources?public_key=https%3A%2F%2Fdisk.yandex.ru%2Fd%2Freal");
  }
}

TEST_F(StandinTest, LargeFolderIsSearchedPageByPage) {
  for (int i = 1; i <= 45; ++i) {
    wchar_t name[32];
    swprintf(name, 32, L"file-%02d.txt", i);
    StandinPutFile(L"big", name, "x");
  }
  // The last entry of the third page.
  EXPECT_EQ(ResultOrMessage([] { return GetDirectDownloadLink(FolderLink(L"big"), L"file-45.txt"); })
                .rfind(StandinUrl() + L"/disk/", 0),
            0u);
  std::vector<std::string> paths;
  for (const LoggedRequest& r : ListingRequests()) paths.push_back(r.path);
  const std::string first = "/v1/disk/public/resources?public_key=https%3A%2F%2Fdisk.yandex.ru%2Fd%2Fbig";
  EXPECT_EQ(paths, (std::vector<std::string>{first, first + "&offset=20", first + "&offset=40"}));

  // The first page holds it: one request only.
  StandinReset();
  EXPECT_EQ(GetDirectDownloadLink(FolderLink(L"big"), L"file-20.txt").rfind(StandinUrl(), 0), 0u);
  EXPECT_EQ(ListingRequests().size(), 1u);

  // Not there at all: every page, then the not-found message.
  StandinReset();
  EXPECT_EQ(ResultOrMessage([] { return GetDirectDownloadLink(FolderLink(L"big"), L"file-46.txt"); }),
            L"Файл file-46.txt не найден в публичной папке");
  EXPECT_EQ(ListingRequests().size(), 3u);

  // A service that answers every offset with the first page would keep the search going round:
  // the second page already gives itself away.
  StandinReset();
  StandinConfig(R"({"paging_ignores_offset":true})");
  EXPECT_EQ(ResultOrMessage([] { return GetDirectDownloadLink(FolderLink(L"big"), L"file-45.txt"); }),
            U("Сервер вернул не ту страницу списка файлов: запрошено смещение 20, получено 0"));
  EXPECT_EQ(ListingRequests().size(), 2u);
}

// ---------------------------------------------------------------------------------------------
// The version file

struct VersionCase {
  const char* name;
  std::string bytes;
  const char* config;
  const char* expected;  // UTF-8: the version text, or the message (its start when prefix)
  bool prefix = false;
};

TEST_F(StandinTest, VersionTextIsDecodedAndTrimmed) {
  const VersionCase cases[] = {
      {"line end", "1.2.3\r\n", "{}", "1.2.3"},
      {"byte-order mark", "\xEF\xBB\xBF" "1.2.3", "{}", "1.2.3"},
      {"byte-order mark, spaces and line end", "\xEF\xBB\xBF \t1.2.3 \n", "{}", "1.2.3"},
      {"control characters at both ends", std::string("\x01\x1F 1.2.3\x7F", 9) + std::string("\0\x1F", 2), "{}",
       "1.2.3\x7F"},
      {"no-break space stays", "1.2.3\xC2\xA0", "{}", "1.2.3\xC2\xA0"},
      {"windows-1251", "1.2.3 \xE1\xE5\xF2\xE0", R"({"charset":{"version.txt":"windows-1251"}})", "1.2.3 бета"},
      {"windows-1251 quoted", "1.2.3 \xE1\xE5\xF2\xE0",
       R"({"content_type":{"version.txt":"text/plain; charset=\"WINDOWS-1251\""}})", "1.2.3 бета"},
      {"UTF-8 without charset", "1.2.3 \xD0\xB1\xD0\xB5\xD1\x82\xD0\xB0", "{}", "1.2.3 бета"},
      {"UTF-16 with its mark", std::string("\xFF\xFE" "1\0.\0" "2\0", 8), R"({"charset":{"version.txt":"utf-16"}})",
       "1.2"},
      {"invalid UTF-8", "1.2.\xFF", "{}", "No mapping for the Unicode character exists in the target multi-byte code page"},
      {"windows-1251 bytes without charset", "1.2.3 \xE1\xE5\xF2\xE0", "{}",
       "No mapping for the Unicode character exists in the target multi-byte code page"},
      {"unknown charset", "1.2.3", R"({"charset":{"version.txt":"x-no-such-code-page"}})", "Invalid encoding name"},
      {"empty file", "", "{}", ""},
      {"gzip", "1.2.3\n", R"({"encoding":"gzip"})", "1.2.3"},
      {"deflate", "1.2.3\n", R"({"encoding":"deflate"})", "1.2.3"},
      // The direct link redirects once to the storage host; four more hops make five.
      {"five redirects", "1.2.3", R"({"redirects":4})", "1.2.3"},
      {"six redirects", "1.2.3", R"({"redirects":5})", "Maximum number of redirections (5) exceeded"},
      {"redirect without Location", "1.2.3", R"({"redirect_location_missing":true})",
       "Загрузка version.txt: HTTP ошибка 302 - Found"},
      {"expired link", "1.2.3", R"({"download_status":500})", "Загрузка version.txt: HTTP ошибка 500 - Internal Server Error"},
      {"connection closed early", "1.2.3.4.5.6", R"({"close_after":3})", "Error reading data: (12030) ", true},
      {"expired once", "1.2.3", R"({"download_status":503,"times":{"download_status":1}})", "1.2.3"},
      {"not the published file", "1.2.3",
       R"({"listing_fields":{"sha256":"00000000000000000000000000000000000000000000000000000000000000ff"}})",
       "Загрузка version.txt: контрольная сумма (SHA-256) не совпадает с опубликованной"},
  };
  for (const VersionCase& c : cases) {
    StandinReset();
    StandinPutFile(L"ver", L"version.txt", c.bytes);
    StandinConfig(c.config);
    const std::wstring got = ResultOrMessage([] { return GetRemoteVersionText(FolderLink(L"ver"), L"version.txt"); });
    if (c.prefix) {
      EXPECT_EQ(got.rfind(U(c.expected), 0), 0u) << c.name << ": " << EncodeUtf8(got);
      EXPECT_GT(got.size(), U(c.expected).size()) << c.name << ": no system text";
    } else {
      EXPECT_EQ(got, U(c.expected)) << c.name;
    }
  }
}

// The cloud's own requests are asked again after a passing failure, and only then.
TEST_F(StandinTest, CloudRequestsAreAskedAgainAfterPassingFailures) {
  StandinPutFile(L"rel", L"a.zip", "zip");
  const struct {
    const char* config;
    size_t listings;        // listing requests made
    const char* expected;  // UTF-8: "" for the link, else the message
  } cases[] = {
      {R"({"listing_status":503,"times":{"listing_status":2}})", 3, ""},
      {R"({"listing_status":429,"times":{"listing_status":1},"retry_after":1})", 2, ""},
      {R"({"listing_status":408,"times":{"listing_status":3}})", 4, ""},
      {R"({"listing_status":503})", 4, "Получение списка файлов: HTTP ошибка 503 - Service Unavailable"},
      {R"({"listing_status":404})", 1, "Получение списка файлов: HTTP ошибка 404 - Not Found"},
      {R"({"listing_status":400})", 1, "Получение списка файлов: HTTP ошибка 400 - Bad Request"},
  };
  for (const auto& c : cases) {
    StandinReset();
    StandinConfig(c.config);
    const std::wstring got = ResultOrMessage([] { return GetDirectDownloadLink(FolderLink(L"rel"), L"a.zip"); });
    if (*c.expected)
      EXPECT_EQ(got, U(c.expected)) << c.config;
    else
      EXPECT_EQ(got.rfind(StandinUrl() + L"/disk/", 0), 0u) << c.config << ": " << EncodeUtf8(got);
    EXPECT_EQ(ListingRequests().size(), c.listings) << c.config;
  }
}

// A pause between two tries on the main thread keeps the window alive: what background threads
// posted meanwhile runs, and so do the window's messages.
TEST_F(StandinTest, PausesOnTheMainThreadRunTheQueue) {
  MainQueue::Initialize();
  StandinPutFile(L"rel", L"a.zip", "zip");
  StandinConfig(R"({"listing_status":503,"times":{"listing_status":1}})");
  bool ran = false;
  // Queued before the request: only a pause that runs the queue can run it before it returns.
  std::thread([&] { MainQueue::Post([&] { ran = true; }); }).join();
  EXPECT_FALSE(ran);
  GetDirectDownloadLink(FolderLink(L"rel"), L"a.zip");
  EXPECT_TRUE(ran);
  MainQueue::RunPending();
}

// Bodies kept in memory stop at the client's cap, and a redirect's page, which is read and
// dropped, at its own.
TEST_F(StandinTest, BodiesInMemoryStopAtTheirCap) {
  const std::wstring redirect = StandinUrl() + L"/_test/status?code=302&location=/_test/echo&size=";
  THttpClient follower;
  EXPECT_EQ(follower.Get(redirect + IntToStr(kMaxRedirectPage))->StatusCode, 200);
  EXPECT_EQ(ResultOrMessage([&] { return IntToStr(follower.Get(redirect + IntToStr(kMaxRedirectPage + 1))->StatusCode); }),
            L"Страница перенаправления длиннее 65536 байт");
  // With a sink, only the final answer's body reaches it.
  TMemoryStream sink;
  follower.Get(redirect + L"300", &sink);
  EXPECT_EQ(sink.Data().rfind("{", 0), 0u) << sink.Data().substr(0, 40);
  THttpClient client;
  client.MaxBodyBytes = 1000;
  const std::wstring url = StandinUrl() + L"/_test/status?code=200&body=" + std::wstring(1000, L'x');
  EXPECT_EQ(client.Get(url)->Body.size(), 1000u);
  THttpClient small;
  small.MaxBodyBytes = 999;
  EXPECT_EQ(ResultOrMessage([&] { return std::wstring(small.Get(url)->Body.size(), L'x'); }),
            L"Ответ сервера длиннее 999 байт");
}

// ---------------------------------------------------------------------------------------------
// The client itself: headers, redirects, cookies, the sink

TEST_F(StandinTest, DefaultAndCustomHeadersGoWithEveryHop) {
  THttpClient client;
  client.CustomHeaders = {{L"X-Morvane-Test", L"every hop"}};
  const auto response = client.Get(StandinUrl() + L"/_test/redirect?n=2");
  ASSERT_EQ(response->StatusCode, 200);
  const std::vector<LoggedRequest> requests = Requests();
  ASSERT_EQ(requests.size(), 3u);
  const std::string agent = requests[0].headers.at("user-agent");
  EXPECT_FALSE(agent.empty());
  for (const LoggedRequest& r : requests) {
    EXPECT_EQ(r.headers.count("accept"), 0u) << r.path;
    EXPECT_EQ(r.headers.count("accept-encoding"), 0u) << r.path;
    EXPECT_EQ(r.headers.count("accept-language"), 0u) << r.path;
    EXPECT_EQ(r.headers.count("x-morvane-test") ? r.headers.at("x-morvane-test") : "", "every hop") << r.path;
    EXPECT_EQ(r.headers.at("user-agent"), agent) << r.path;
  }

  THttpClient worker;
  worker.UserAgent = L"Mozilla/5.0 (Windows NT 10.0; Win64; x64)";
  EXPECT_EQ(ParseEcho(worker.Get(StandinUrl() + L"/_test/echo")->Body).headers["user-agent"],
            "Mozilla/5.0 (Windows NT 10.0; Win64; x64)");
}

TEST_F(StandinTest, RedirectsAreFollowedUpToFive) {
  const struct {
    const wchar_t* query;
    bool head;
    int status;            // of the final answer; 0 when the operation raises
    size_t requests;       // reaching the stand-in
  } cases[] = {
      {L"/_test/redirect?n=5", false, 200, 6},
      {L"/_test/redirect?n=6", false, 0, 6},
      {L"/_test/redirect?n=5", true, 200, 6},
      {L"/_test/redirect?n=3&relative=1", false, 200, 4},
      {L"/_test/redirect?n=2&frag=part", false, 200, 3},
      {L"/_test/redirect?n=1&status=300", false, 200, 2},
      {L"/_test/redirect?n=1&status=301", false, 200, 2},
      {L"/_test/redirect?n=1&status=303", false, 200, 2},
      {L"/_test/redirect?n=1&status=307", true, 200, 2},
      {L"/_test/redirect?n=1&status=308", false, 200, 2},
      // Each hop asks for the cookie that the previous answer set.
      {L"/_test/redirect?n=5&cookie=1", false, 200, 6},
      // Not a redirect: the answer is final.
      {L"/_test/redirect?n=1&status=304", false, 304, 1},
      {L"/_test/status?code=302", false, 302, 1},
      {L"/_test/status?code=301&location=", false, 301, 1},
  };
  for (const auto& c : cases) {
    StandinReset();
    const std::wstring url = StandinUrl() + c.query;
    const std::wstring label = std::wstring(c.head ? L"HEAD " : L"GET ") + c.query;
    int status = 0;
    const std::wstring message = ResultOrMessage([&] {
      THttpClient client;
      status = (c.head ? client.Head(url) : client.Get(url))->StatusCode;
      return std::wstring();
    });
    if (c.status) {
      EXPECT_EQ(message, L"") << EncodeUtf8(label);
      EXPECT_EQ(status, c.status) << EncodeUtf8(label);
    } else {
      EXPECT_EQ(message, L"Maximum number of redirections (5) exceeded") << EncodeUtf8(label);
    }
    const std::vector<LoggedRequest> requests = Requests();
    EXPECT_EQ(requests.size(), c.requests) << EncodeUtf8(label);
    for (const LoggedRequest& r : requests) {
      EXPECT_EQ(r.method, c.head ? "HEAD" : "GET") << EncodeUtf8(label);
      EXPECT_EQ(r.path.find('#'), std::string::npos) << "a fragment was sent: " << r.path;
    }
  }
}

TEST_F(StandinTest, CookiesLiveAlongOneOperationOnly) {
  THttpClient client;
  const Echo echo = ParseEcho(client.Get(StandinUrl() + L"/_test/redirect?n=3&cookie=1")->Body);
  // The cookies of all three hops reach the final request.
  EXPECT_NE(echo.headers.count("cookie") ? echo.headers.at("cookie").find("r3=v3") : std::string::npos,
            std::string::npos);
  THttpClient next;
  EXPECT_EQ(ParseEcho(next.Get(StandinUrl() + L"/_test/echo")->Body).headers.count("cookie"), 0u);
}

TEST_F(StandinTest, RedirectBodiesAreCutFromTheSink) {
  const std::wstring final = L"/_test/status?code=200&body=final";
  const std::wstring url = StandinUrl() + L"/_test/status?code=302&body=" + Q(std::string(5000, 'r')) +
                           L"&location=" + Q(EncodeUtf8(final));
  TMemoryStream sink;
  sink.Write("kept:", 5);
  THttpClient client;
  const auto response = client.Get(url, &sink);
  EXPECT_EQ(response->StatusCode, 200);
  EXPECT_EQ(sink.Data(), "kept:final");
  EXPECT_TRUE(response->Body.empty());
}

TEST_F(StandinTest, CompressedBodiesAreInflatedWhenReadAsText) {
  for (const char* encoding : {"gzip", "deflate"}) {
    THttpClient client;
    const auto response =
        client.Get(StandinUrl() + L"/_test/status?code=200&body=" + Q("Журнал 1.2.3") + L"&encoding=" + Widen(encoding));
    EXPECT_EQ(response->Header(L"Content-Encoding"), Widen(encoding));
    EXPECT_NE(response->Body, "Журнал 1.2.3") << "WinHTTP inflated it: " << encoding;
    EXPECT_EQ(ReadAnswerText(*response, [](unsigned, std::string_view) { return std::wstring(); }), U("Журнал 1.2.3"))
        << encoding;
  }
}

// ---------------------------------------------------------------------------------------------
// Transport failures


TEST_F(StandinTest, TransportFailuresCarryTheWinHttpCodeAndText) {
  const std::wstring refused = L"http://127.0.0.1:" + IntToStr(RefusedLoopbackPort()) + L"/x";
  const std::wstring message = ResultOrMessage([&] {
    THttpClient client;
    client.Get(refused);
    return std::wstring(L"<answered>");
  });
  const std::wstring head = L"Error sending data: (12029) ";
  ASSERT_EQ(message.rfind(head, 0), 0u) << EncodeUtf8(message);
  const std::wstring text = message.substr(head.size());
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.find(L"%"), std::wstring::npos) << EncodeUtf8(text);

  // The stand-in's HTTPS port has a certificate of its own, which nobody trusts.
  for (bool head : {false, true}) {
    EXPECT_EQ(ResultOrMessage([&] {
                THttpClient client;
                const std::wstring url = StandinHttpsUrl() + L"/_test/echo";
                (head ? client.Head(url) : client.Get(url));
                return std::wstring(L"<answered>");
              }),
              L"Server Certificate Invalid or not present")
        << (head ? "HEAD" : "GET");
  }
  // Nothing passed the handshake.
  EXPECT_TRUE(Requests().empty());
}

// ---------------------------------------------------------------------------------------------
// The receive-data handler

struct Notifications {
  std::vector<int64_t> counts;
  std::vector<int64_t> lengths;
  bool offMainThread = false;
};

Notifications Fetch(const std::wstring& url, bool onJobThread, TStream* sink, int* status) {
  Notifications seen;
  auto request = [&] {
    THttpClient client;
    client.OnReceiveData = [&](void* sender, int64_t contentLength, int64_t readCount, bool&) {
      if (!MainQueue::IsMainThread() || sender != &client) seen.offMainThread = true;
      seen.counts.push_back(readCount);
      seen.lengths.push_back(contentLength);
    };
    *status = client.Get(url, sink)->StatusCode;
  };
  if (onJobThread) {
    RunWithMainLoop(request);
  } else {
    MainQueue::Initialize();
    request();
  }
  return seen;
}

TEST_F(StandinTest, ReceiveDataRunsOnTheMainThreadForSuccessfulAnswersOnly) {
  std::string content(300000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 13 + 5);
  StandinPutFile(L"data", L"Tandrel.zip", content);
  // The direct link answers 302 first: that answer is not reported.
  const std::wstring link = GetDirectDownloadLink(FolderLink(L"data"), L"Tandrel.zip");
  for (bool onJobThread : {false, true}) {
    TMemoryStream sink;
    int status = 0;
    const Notifications seen = Fetch(link, onJobThread, &sink, &status);
    const char* where = onJobThread ? "job thread" : "main thread";
    EXPECT_EQ(status, 200) << where;
    EXPECT_TRUE(sink.Data() == content) << where;
    EXPECT_FALSE(seen.offMainThread) << where;
    ASSERT_GE(seen.counts.size(), 2u) << where;
    EXPECT_EQ(std::count(seen.counts.begin(), seen.counts.end(), 0), 1) << where;
    EXPECT_EQ(seen.counts.front(), 0) << where;
    EXPECT_EQ(seen.counts.back(), static_cast<int64_t>(content.size())) << where;
    EXPECT_TRUE(std::is_sorted(seen.counts.begin(), seen.counts.end())) << where;
    for (int64_t length : seen.lengths) {
      EXPECT_EQ(length, static_cast<int64_t>(content.size())) << where;
    }
  }
  // Answers of 300 and above are never reported, wherever they run.
  for (const wchar_t* query : {L"/_test/status?code=404&body=missing", L"/_test/status?code=302&body=moved",
                               L"/_test/status?code=500&body=broken"}) {
    for (bool onJobThread : {false, true}) {
      int status = 0;
      const Notifications seen = Fetch(StandinUrl() + query, onJobThread, nullptr, &status);
      EXPECT_GE(status, 300);
      EXPECT_TRUE(seen.counts.empty()) << EncodeUtf8(query) << (onJobThread ? " on a job thread" : "");
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The user's proxy settings

// The current user's connection settings, as the system's settings dialog stores them, set for
// the life of the object and then put back as they were.
class UserProxySettings {
 public:
  static constexpr DWORD kDirect = 1, kProxy = 2, kScript = 4, kAutoDetect = 8;

  UserProxySettings(DWORD flags, const std::string& proxy, const std::string& bypass, const std::string& script) {
    RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &FKey, nullptr);
    DWORD size = 0, type = 0;
    if (RegQueryValueExW(FKey, kValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
      FHadValue = true;
      FSaved.resize(size);
      RegQueryValueExW(FKey, kValue, nullptr, &type, FSaved.data(), &size);
    }
    std::string blob;
    auto dword = [&](DWORD v) { blob.append(reinterpret_cast<const char*>(&v), sizeof v); };
    auto text = [&](const std::string& t) {
      dword(static_cast<DWORD>(t.size()));
      blob += t;
    };
    dword(0x46);  // the settings' version
    dword(1);     // a change counter
    dword(flags);
    text(proxy);
    text(bypass);
    text(script);
    blob.append(32, '\0');
    RegSetValueExW(FKey, kValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>(blob.data()), static_cast<DWORD>(blob.size()));
  }
  ~UserProxySettings() {
    if (FHadValue) {
      RegSetValueExW(FKey, kValue, 0, REG_BINARY, FSaved.data(), static_cast<DWORD>(FSaved.size()));
    } else {
      RegDeleteValueW(FKey, kValue);
    }
    RegCloseKey(FKey);
  }
  UserProxySettings(const UserProxySettings&) = delete;
  UserProxySettings& operator=(const UserProxySettings&) = delete;

 private:
  static constexpr wchar_t kKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
  static constexpr wchar_t kValue[] = L"DefaultConnectionSettings";
  HKEY FKey = nullptr;
  bool FHadValue = false;
  std::vector<BYTE> FSaved;
};

TEST_F(StandinTest, TheUsersProxySettingsAreUsed) {
  // The stand-in serves absolute-form requests too, so it acts as the proxy. Loopback stays
  // direct in every setting, so other programs of this prefix are not drawn through it.
  const std::string proxy = EncodeUtf8(StandinUrl().substr(7));  // 127.0.0.1:<port>
  const std::string bypass = "127.0.0.1;localhost";
  const std::string script =
      "function FindProxyForURL(url, host) { if (host == \"via-proxy.invalid\") return \"PROXY " + proxy +
      "\"; return \"DIRECT\"; }";
  const std::string scriptUrl = EncodeUtf8(StandinUrl()) + "/_test/status?code=200&type=application/x-ns-proxy-autoconfig&body=" +
                                EncodeUtf8(Q(script));
  const struct {
    const char* name;
    DWORD flags;
    std::string proxy, bypass, script;
    bool proxied;  // via-proxy.invalid goes through the proxy
  } cases[] = {
      {"one proxy for every scheme", UserProxySettings::kDirect | UserProxySettings::kProxy, proxy, bypass, "", true},
      {"a proxy per scheme", UserProxySettings::kDirect | UserProxySettings::kProxy,
       "http=" + proxy + ";https=127.0.0.1:1", bypass, "", true},
      {"a proxy for https only", UserProxySettings::kDirect | UserProxySettings::kProxy, "https=" + proxy, bypass, "",
       false},
      {"proxy switched off", UserProxySettings::kDirect, proxy, bypass, "", false},
      {"configuration script", UserProxySettings::kDirect | UserProxySettings::kScript, "", "", scriptUrl, true},
  };
  for (const auto& c : cases) {
    StandinReset();
    ForgetProxyDecisions();
    std::wstring viaProxy, direct;
    {
      UserProxySettings settings(c.flags, c.proxy, c.bypass, c.script);
      viaProxy = ResultOrMessage([] {
        THttpClient client;
        return Widen(ParseEcho(client.Get(L"http://via-proxy.invalid/_test/echo?a=1")->Body).path);
      });
      direct = ResultOrMessage([] {
        THttpClient client;
        return Widen(ParseEcho(client.Get(StandinUrl() + L"/_test/echo?b=2")->Body).path);
      });
    }
    if (c.proxied) {
      // The request line names the whole URL; Wine's WinHTTP writes the default port into it.
      const size_t port = viaProxy.find(L":80/");
      if (port != std::wstring::npos) viaProxy.erase(port, 3);
      EXPECT_EQ(viaProxy, L"http://via-proxy.invalid/_test/echo?a=1") << c.name;
    } else {
      EXPECT_EQ(viaProxy.rfind(L"Error sending data: (12007) ", 0), 0u) << c.name << ": " << EncodeUtf8(viaProxy);
    }
    EXPECT_EQ(direct, L"/_test/echo?b=2") << c.name;
  }
}

TEST_F(StandinTest, TheProxyIsDecidedOncePerHostAndAFailedLookupOnce) {
  const std::string proxy = EncodeUtf8(StandinUrl().substr(7));
  const std::string bypass = "127.0.0.1;localhost";
  auto pathOf = [](const std::wstring& url) {
    return ResultOrMessage([&] {
      THttpClient client;
      return Widen(ParseEcho(client.Get(url)->Body).path);
    });
  };
  auto proxied = [](const std::wstring& path) { return path.rfind(L"http://", 0) == 0; };
  {
    // A host keeps the decision made for it while the settings change; a new host gets the new one.
    UserProxySettings through(UserProxySettings::kDirect | UserProxySettings::kProxy, proxy, bypass, "");
    EXPECT_TRUE(proxied(pathOf(L"http://via-proxy.invalid/_test/echo?a=1")));
  }
  {
    UserProxySettings direct(UserProxySettings::kDirect, "", "", "");
    EXPECT_TRUE(proxied(pathOf(L"http://via-proxy.invalid/_test/echo?a=2")));
    EXPECT_EQ(pathOf(L"http://other.invalid/_test/echo?a=3").rfind(L"Error sending data: (12007) ", 0), 0u);
  }

  // A configuration script that cannot be fetched is tried once: later hosts use the proxy the
  // settings name, and a script named later is not asked either.
  ForgetProxyDecisions();
  const std::wstring missing = StandinUrl() + L"/_test/status?code=404&type=application/x-ns-proxy-autoconfig";
  const std::string script = "function FindProxyForURL(url, host) { return \"DIRECT\"; }";
  const std::wstring working = StandinUrl() + L"/_test/status?code=200&type=application/x-ns-proxy-autoconfig&body=" +
                               Q(script);
  {
    UserProxySettings failing(UserProxySettings::kDirect | UserProxySettings::kProxy | UserProxySettings::kScript,
                              proxy, bypass, EncodeUtf8(missing));
    EXPECT_TRUE(proxied(pathOf(L"http://first.invalid/_test/echo?b=1")));
  }
  {
    UserProxySettings later(UserProxySettings::kDirect | UserProxySettings::kProxy | UserProxySettings::kScript,
                            proxy, bypass, EncodeUtf8(working));
    EXPECT_TRUE(proxied(pathOf(L"http://second.invalid/_test/echo?b=2")));
  }
  size_t missingFetched = 0, workingFetched = 0;
  for (const LoggedRequest& r : Requests()) {
    if (r.path.find("code=404&type=application") != std::string::npos) ++missingFetched;
    if (r.path.find("code=200&type=application") != std::string::npos) ++workingFetched;
  }
  EXPECT_EQ(missingFetched, 1u);
  EXPECT_EQ(workingFetched, 0u);
}

}  // namespace
