#include "inet/IdHTTP.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "rtl/TlsSettings.h"
#include "tests/support/HttpServers.h"
#include "tests/support/SilentPort.h"

namespace {

using namespace inet;
using namespace testsupport;

// ---------------------------------------------------------------------------------------------
// URL parts and encoding

struct UriCase {
  std::string uri;
  std::string protocol, username, password, host, port, path, document, params, bookmark;
  std::string rebuilt;  // GetFullURI()
};

TEST(IdURITest, SplitsAndRebuildsUrls) {
  const UriCase cases[] = {
      {"http://www.example.com/dir/sub/page.html?a=1&b=2#top", "http", "", "", "www.example.com", "",
       "/dir/sub/", "page.html", "a=1&b=2", "top", "http://www.example.com/dir/sub/page.html?a=1&b=2#top"},
      {"https://ann:p%40ss:w@host:8443/a/b/", "https", "ann", "p@ss:w", "host", "8443", "/a/b/", "", "", "",
       "https://ann:p%40ss:w@host:8443/a/b/"},
      {"http://[::1]:8080/x.bin", "http", "", "", "::1", "8080", "/", "x.bin", "", "",
       "http://[::1]:8080/x.bin"},
      {"http://host", "http", "", "", "host", "", "/", "", "", "", "http://host/"},
      // The scheme's own port is left out, any other kept (80 for https too).
      {"http://host:80/x", "http", "", "", "host", "80", "/", "x", "", "", "http://host/x"},
      {"https://host:80/x", "https", "", "", "host", "80", "/", "x", "", "", "https://host:80/x"},
      {"HTTP://u@Host/?q=a/b#f?g", "HTTP", "u", "", "Host", "", "/", "", "q=a/b", "f?g",
       "HTTP://u@Host/?q=a/b#f?g"},
      {"http://h/p@q/r:s", "http", "", "", "h", "", "/p@q/", "r:s", "", "", "http://h/p@q/r:s"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uri);
    const TIdURI u(c.uri);
    EXPECT_EQ(u.Protocol, c.protocol);
    EXPECT_EQ(u.Username, c.username);
    EXPECT_EQ(u.Password, c.password);
    EXPECT_EQ(u.Host, c.host);
    EXPECT_EQ(u.Port, c.port);
    EXPECT_EQ(u.Path, c.path);
    EXPECT_EQ(u.Document, c.document);
    EXPECT_EQ(u.Params, c.params);
    EXPECT_EQ(u.Bookmark, c.bookmark);
    EXPECT_EQ(u.GetFullURI(), c.rebuilt);
  }
}

// The action sets port, user and password one by one and fetches GetFullURI: credentials
// with URL delimiters survive the round trip, and the optional parts are left out on request.
TEST(IdURITest, PartsSetOneByOneRoundTrip) {
  TIdURI u("https://example.org:8443/dir/f.txt?x=1#frag");
  u.Port = "80";
  u.Username = "dom\\user@corp";
  u.Password = "p:@/?#% w";
  const std::string full = u.GetFullURI();
  const TIdURI back(full);
  EXPECT_EQ(back.Username, u.Username);
  EXPECT_EQ(back.Password, u.Password);
  EXPECT_EQ(back.Host, "example.org");
  EXPECT_EQ(back.Port, "80");
  EXPECT_EQ(back.Params, "x=1");
  EXPECT_EQ(back.Bookmark, "frag");
  EXPECT_EQ(u.GetFullURI(false, false), "https://example.org:80/dir/f.txt?x=1");
  EXPECT_EQ(u.GetURI(), "https://example.org:80/dir/f.txt?x=1#frag");
}

TEST(IdURITest, URLEncode) {
  const struct {
    std::string in, out;
  } cases[] = {
      // A valid URL stays byte for byte, escapes and every reserved character included.
      {"http://u:p@h:1/a-b._~/c.html?x=%20y&z=%C3%b6;!$'()*+,=#f/:@[]",
       "http://u:p@h:1/a-b._~/c.html?x=%20y&z=%C3%b6;!$'()*+,=#f/:@[]"},
      {"http://[::1]:8080/", "http://[::1]:8080/"},
      {"http://h/my file.txt?q=a b", "http://h/my%20file.txt?q=a%20b"},
      {"http://h/K\xC3\xB6ln", "http://h/K%C3%B6ln"},
      {"http://h/100%?x=5%&y=%4&z=%zz", "http://h/100%25?x=5%25&y=%254&z=%25zz"},
      {"http://h/\"<>\\^`{|}", "http://h/%22%3C%3E%5C%5E%60%7B%7C%7D"},
      {std::string("http://h/\t\x01\x7F\xFF"), "http://h/%09%01%7F%FF"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(TIdURI::URLEncode(c.in), c.out) << c.in;
}

// ---------------------------------------------------------------------------------------------
// Against the servers

// What a Get delivered and reported.
struct Fetched {
  std::string body;
  std::vector<std::string> status;
  std::vector<std::string> work;  // "begin N", "work N", "end"
};

class HttpClientTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = std::make_unique<HttpTestServer>();
    nginx_ = std::make_unique<NginxServer>();
  }
  static void TearDownTestSuite() {
    server_.reset();
    nginx_.reset();
  }

  // A client whose events land in `out`; https is verified against the test CA.
  static std::unique_ptr<TIdHTTP> Client(Fetched& out) {
    auto http = std::make_unique<TIdHTTP>();
    http->OnStatus = [&out](const std::string& s) { out.status.push_back(s); };
    http->Work.OnWorkBegin = [&out](TWorkMode, std::int64_t max) {
      out.work.push_back("begin " + std::to_string(max));
    };
    http->Work.OnWork = [&out](TWorkMode, std::int64_t n) {
      out.work.push_back("work " + std::to_string(n));
    };
    http->Work.OnWorkEnd = [&out](TWorkMode) { out.work.push_back("end"); };
    http->IOHandler = std::make_unique<TIdSSLIOHandlerSocketOpenSSL>();
    http->IOHandler->Options.VerifyPeer = true;
    http->IOHandler->Options.CaFile = GetTestCertificates().caCert.string();
    return http;
  }

  static void Get(TIdHTTP& http, const std::string& url, Fetched& out) {
    http.Get(url, [&out](const char* data, std::size_t len) { out.body.append(data, len); });
  }

  static Fetched Fetch(const std::string& url) {
    Fetched out;
    Get(*Client(out), url, out);
    return out;
  }

  static std::string Url(const std::string& path) { return server_->Url(path); }

  static std::unique_ptr<HttpTestServer> server_;
  static std::unique_ptr<NginxServer> nginx_;
};

std::unique_ptr<HttpTestServer> HttpClientTest::server_;
std::unique_ptr<NginxServer> HttpClientTest::nginx_;

// Work events frame the body: Begin with the length (0 when the server sends none), the
// cumulative count, End once.
void ExpectWorkFraming(const Fetched& f, std::int64_t announced) {
  ASSERT_GE(f.work.size(), 2u);
  EXPECT_EQ(f.work.front(), "begin " + std::to_string(announced));
  EXPECT_EQ(f.work.back(), "end");
  std::int64_t last = 0;
  for (std::size_t i = 1; i + 1 < f.work.size(); ++i) {
    ASSERT_EQ(f.work[i].rfind("work ", 0), 0u) << f.work[i];
    const std::int64_t n = std::stoll(f.work[i].substr(5));
    EXPECT_GT(n, last);
    last = n;
  }
  EXPECT_EQ(last, static_cast<std::int64_t>(f.body.size()));
}

TEST_F(HttpClientTest, BodiesArriveExactlyWithWorkEvents) {
  const std::string big = HttpPattern(3 * 1024 * 1024 + 17, 5);
  nginx_->Put("dir/big.bin", big);
  const struct {
    std::string url;
    std::string body;
    std::int64_t announced;
  } cases[] = {
      {Url("/bytes/0"), "", 0},
      {Url("/bytes/1"), HttpPattern(1), 1},
      {Url("/bytes/65536"), HttpPattern(65536), 65536},
      {Url("/bytes/1000003?chunked=1"), HttpPattern(1000003), 0},
      {Url("/text"), k_http_text, static_cast<std::int64_t>(std::string(k_http_text).size())},
      {nginx_->HttpUrl("/dir/big.bin"), big, static_cast<std::int64_t>(big.size())},
      {nginx_->HttpsUrl("/dir/big.bin"), big, static_cast<std::int64_t>(big.size())},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    Fetched f;
    auto http = Client(f);
    Get(*http, c.url, f);
    EXPECT_EQ(http->ResponseCode(), 200);
    EXPECT_TRUE(f.body == c.body) << "got " << f.body.size() << " bytes, expected " << c.body.size();
    ExpectWorkFraming(f, c.announced);
  }
}

TEST_F(HttpClientTest, StatusesRedirectsAndErrors) {
  const struct {
    std::string path;
    int code;
    bool raises;
    std::string body;
    std::string text;  // ResponseText / the exception's message
  } cases[] = {
      {"/status/200", 200, false, "status 200\n", "HTTP/1.1 200 OK"},
      {"/status/204", 204, false, "", "HTTP/1.1 204 No Content"},
      {"/status/301", 200, false, k_http_text, "HTTP/1.1 200 OK"},
      {"/redirect?code=307&to=/chain/2", 200, false, k_http_text, "HTTP/1.1 200 OK"},
      {"/status/304", 304, false, "", "HTTP/1.1 304 Not Modified"},
      {"/status/400", 400, true, "", "HTTP/1.1 400 Bad Request"},
      {"/status/404", 404, true, "", "HTTP/1.1 404 Not Found"},
      {"/no-such-path", 404, true, "", "HTTP/1.1 404 Not Found"},
      {"/status/500", 500, true, "", "HTTP/1.1 500 Internal Server Error"},
      {"/redirect?to=/status/503", 503, true, "", "HTTP/1.1 503 Service Unavailable"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    Fetched f;
    auto http = Client(f);
    if (c.raises) {
      try {
        Get(*http, Url(c.path), f);
        ADD_FAILURE() << "no exception";
      } catch (const EIdHTTPProtocolException& e) {
        EXPECT_EQ(e.ErrorCode(), c.code);
        EXPECT_EQ(std::string(e.what()), c.text);
      }
      EXPECT_TRUE(f.work.empty());
    } else {
      Get(*http, Url(c.path), f);
      ExpectWorkFraming(f, static_cast<std::int64_t>(c.body.size()));
    }
    EXPECT_EQ(f.body, c.body);
    EXPECT_EQ(http->ResponseCode(), c.code);
    EXPECT_EQ(http->ResponseText(), c.text);
  }

  // A redirect elsewhere than http or https cannot be followed: it fails, and its page is
  // delivered nowhere.
  for (const char* to : {"ftp://127.0.0.1/file", "file:///etc/passwd"}) {
    SCOPED_TRACE(to);
    Fetched f;
    auto http = Client(f);
    try {
      Get(*http, Url("/redirect?to=" + std::string(to)), f);
      ADD_FAILURE() << "no exception";
    } catch (const EIdHTTPProtocolException& e) {
      EXPECT_EQ(e.ErrorCode(), 302);
      EXPECT_EQ(std::string(e.what()),
                "Redirect to " + std::string(to) + " refused: only http and https locations are followed");
    }
    EXPECT_EQ(f.body, "");
    EXPECT_TRUE(f.work.empty());
    EXPECT_EQ(http->ResponseCode(), 302);
  }
}

TEST_F(HttpClientTest, RedirectLimitAndSwitch) {
  Fetched f;
  auto http = Client(f);
  http->RedirectMaximum = 3;
  Get(*http, Url("/chain/3"), f);
  EXPECT_EQ(f.body, k_http_text);

  http->RedirectMaximum = 2;
  f = {};
  try {
    Get(*http, Url("/chain/3"), f);
    ADD_FAILURE() << "no exception";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ErrorCode(), 302);
    EXPECT_NE(std::string(e.what()).find("/chain/0"), std::string::npos) << e.what();
  }
  EXPECT_EQ(f.body, "");

  http->HandleRedirects = false;
  f = {};
  Get(*http, Url("/chain/3"), f);
  EXPECT_EQ(http->ResponseCode(), 302);
  EXPECT_EQ(f.body, "moved\n");
}

TEST_F(HttpClientTest, BasicAndDigestAuthentication) {
  const struct {
    std::string path;
    bool inProcessAuth;
    std::string password;
    int code;
  } cases[] = {
      {"/basic", true, k_http_password, 200},  {"/basic", true, "wrong", 401},
      {"/basic", false, k_http_password, 401}, {"/digest", true, k_http_password, 200},
      {"/digest", true, "wrong", 401},         {"/digest", false, k_http_password, 401},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + " auth " + std::to_string(c.inProcessAuth) + " " + c.password);
    Fetched f;
    auto http = Client(f);
    http->InProcessAuth = c.inProcessAuth;
    TIdURI url(Url(c.path));
    url.Username = k_http_user;
    url.Password = c.password;
    if (c.code == 200) {
      Get(*http, url.GetFullURI(), f);
      EXPECT_EQ(f.body, "hello webuser\n");
    } else {
      EXPECT_THROW(Get(*http, url.GetFullURI(), f), EIdHTTPProtocolException);
      EXPECT_EQ(f.body, "");
    }
    EXPECT_EQ(http->ResponseCode(), c.code);
  }
}

// Without in-process authentication the user information of the URL is not sent at all.
TEST_F(HttpClientTest, CredentialsOnlyWithInProcessAuth) {
  for (const bool auth : {false, true}) {
    Fetched f;
    auto http = Client(f);
    http->InProcessAuth = auth;
    TIdURI url(Url("/echo-headers"));
    url.Username = k_http_user;
    url.Password = k_http_password;
    Get(*http, url.GetFullURI(), f);
    EXPECT_EQ(f.body.find("Authorization"), std::string::npos) << f.body;  // no challenge, nothing sent
    EXPECT_EQ(f.body.find("webuser"), std::string::npos) << f.body;
  }
}

TEST_F(HttpClientTest, ThroughProxies) {
  TinyProxy open;
  TinyProxy guarded("proxyuser", "proxy-pass");
  nginx_->Put("p.txt", "through the tunnel\n");
  const struct {
    TinyProxy* proxy;
    std::string user, password;
    std::string url;
    std::string body;
    int refusal;  // the proxy's code when it refuses (tinyproxy: 401 for a wrong password)
  } cases[] = {
      {&open, "", "", Url("/text"), k_http_text, 0},
      {&open, "", "", nginx_->HttpsUrl("/p.txt"), "through the tunnel\n", 0},
      {&guarded, "proxyuser", "proxy-pass", Url("/text"), k_http_text, 0},
      {&guarded, "proxyuser", "proxy-pass", nginx_->HttpsUrl("/p.txt"), "through the tunnel\n", 0},
      {&guarded, "", "", Url("/text"), "", 407},
      {&guarded, "", "", nginx_->HttpsUrl("/p.txt"), "", 407},
      {&guarded, "proxyuser", "wrong", nginx_->HttpsUrl("/p.txt"), "", 401},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url + " user " + c.user + " " + c.password);
    Fetched f;
    auto http = Client(f);
    http->ProxyParams.ProxyServer = c.proxy->Host();
    http->ProxyParams.ProxyPort = c.proxy->Port();
    http->ProxyParams.ProxyUsername = c.user;
    http->ProxyParams.ProxyPassword = c.password;
    if (c.refusal != 0) {
      try {
        Get(*http, c.url, f);
        ADD_FAILURE() << "no exception";
      } catch (const EIdHTTPProtocolException& e) {
        EXPECT_EQ(e.ErrorCode(), c.refusal) << e.what();
        EXPECT_EQ(http->ResponseCode(), c.refusal);
      }
    } else {
      Get(*http, c.url, f);
    }
    EXPECT_EQ(f.body, c.body);
    EXPECT_EQ(f.status.front(), "Connecting to 127.0.0.1:" + std::to_string(c.proxy->Port()));
  }
  const std::string log = open.Log();
  EXPECT_NE(log.find("GET " + Url("/text")), std::string::npos) << log;
  EXPECT_NE(log.find("CONNECT 127.0.0.1:" + std::to_string(nginx_->HttpsPort())), std::string::npos) << log;

  // A proxy that does not listen.
  Fetched f;
  auto http = Client(f);
  const int dead = FreePort();
  http->ProxyParams.ProxyServer = "127.0.0.1";
  http->ProxyParams.ProxyPort = dead;
  try {
    Get(*http, Url("/text"), f);
    ADD_FAILURE() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_NE(std::string(e.what()).find("proxy 127.0.0.1:" + std::to_string(dead)), std::string::npos)
        << e.what();
  }
}

TEST_F(HttpClientTest, HttpsVerification) {
  nginx_->Put("s.txt", "secure\n");
  const std::string ca = GetTestCertificates().caCert.string();
  const std::string otherName = "https://127.0.0.1:" + std::to_string(nginx_->OtherNamePort()) + "/s.txt";
  const struct {
    std::string url;
    bool verify;
    std::string caFile;
    bool ok;
  } cases[] = {
      {nginx_->HttpsUrl("/s.txt"), true, ca, true},
      {"https://localhost:" + std::to_string(nginx_->HttpsPort()) + "/s.txt", true, ca, true},
      {nginx_->HttpsUrl("/s.txt"), true, "", false},  // the system's store does not know the test CA
      {otherName, true, ca, false},                   // certificate for another name
      {otherName, false, "", true},                   // verification off
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url + " verify " + std::to_string(c.verify) + " ca " + c.caFile);
    Fetched f;
    auto http = Client(f);
    std::vector<std::string> handlerStatus;
    http->IOHandler->Options.VerifyPeer = c.verify;
    http->IOHandler->Options.CaFile = c.caFile;
    http->IOHandler->OnStatusInfo = [&](const std::string& s) { handlerStatus.push_back(s); };
    if (c.ok) {
      Get(*http, c.url, f);
      EXPECT_EQ(f.body, "secure\n");
      ASSERT_GE(f.status.size(), 4u);
      EXPECT_EQ(f.status[1], "Connected.");
      EXPECT_EQ(f.status[2].rfind("TLS handshake done: TLSv1.", 0), 0u) << f.status[2];
      EXPECT_EQ(f.status.back(), "Disconnected.");
      EXPECT_NE(std::find(handlerStatus.begin(), handlerStatus.end(), f.status[2]), handlerStatus.end());
    } else {
      try {
        Get(*http, c.url, f);
        ADD_FAILURE() << "no exception";
      } catch (const EIdTLSError& e) {
        EXPECT_NE(std::string(e.what()).find("127.0.0.1:"), std::string::npos) << e.what();
      }
      EXPECT_EQ(f.body, "");
    }
  }
}

// Without a handler of its own an https fetch takes the runner's settings.
TEST_F(HttpClientTest, HttpsWithoutHandlerUsesGlobalSettings) {
  nginx_->Put("g.txt", "global\n");
  const rtl::TTlsSettings saved = rtl::GetTlsSettings();
  for (const bool withCa : {true, false}) {
    rtl::SetTlsSettings({withCa ? GetTestCertificates().caCert.string() : std::string(), false});
    Fetched f;
    auto http = Client(f);
    http->IOHandler.reset();
    if (withCa) {
      Get(*http, nginx_->HttpsUrl("/g.txt"), f);
      EXPECT_EQ(f.body, "global\n");
    } else {
      EXPECT_THROW(Get(*http, nginx_->HttpsUrl("/g.txt"), f), EIdTLSError);
    }
  }
  rtl::SetTlsSettings(saved);
}

TEST_F(HttpClientTest, PlainStatusTexts) {
  const Fetched f = Fetch(Url("/text"));
  const std::vector<std::string> expected{"Connecting to 127.0.0.1:" + std::to_string(server_->Port()),
                                          "Connected.", "Disconnected."};
  EXPECT_EQ(f.status, expected);
}

TEST_F(HttpClientTest, Ipv6Literal) {
  HttpTestServer v6({.ipv6 = true});
  const Fetched f = Fetch(v6.Url("/text"));
  EXPECT_EQ(f.body, k_http_text);
  EXPECT_EQ(f.status.front(), "Connecting to [::1]:" + std::to_string(v6.Port()));
}

// The read time-out is the longest silence, not the length of the whole transfer.
TEST_F(HttpClientTest, ReadTimeout) {
  Fetched f;
  auto http = Client(f);
  http->ReadTimeout = 300;
  Get(*http, Url("/slow/1000?chunk=100&delay=100"), f);  // about a second, never 300 ms silent
  EXPECT_EQ(f.body, HttpPattern(1000));

  f = {};
  try {
    Get(*http, Url("/stall?after=10"), f);
    ADD_FAILURE() << "no exception";
  } catch (const EIdReadTimeout& e) {
    EXPECT_NE(std::string(e.what()).find("300 ms"), std::string::npos) << e.what();
  }
  EXPECT_EQ(f.body, HttpPattern(10));
  EXPECT_EQ(f.work.back(), "end");
}

// A server that never completes the connection: the connect time-out ends the wait, and a
// read time-out does not stand in for it.
TEST_F(HttpClientTest, ConnectTimeout) {
  SilentPort silent;
  Fetched f;
  auto http = Client(f);
  http->ConnectTimeout = 300;
  http->ReadTimeout = 60000;
  try {
    Get(*http, "http://127.0.0.1:" + std::to_string(silent.Port()) + "/", f);
    ADD_FAILURE() << "no exception";
  } catch (const EIdConnectTimeout& e) {
    EXPECT_NE(std::string(e.what()).find("127.0.0.1:" + std::to_string(silent.Port())), std::string::npos)
        << e.what();
  }
  EXPECT_TRUE(f.body.empty());
}

TEST_F(HttpClientTest, AStopFromAnotherThreadEndsAStalledGet) {
  for (const std::string path : {"/stall?after=100", "/stall"}) {
    SCOPED_TRACE(path);
    Fetched f;
    auto http = Client(f);
    std::stop_source stop;
    http->SetStopToken(stop.get_token());
    std::promise<void> requested;
    bool signalled = false;
    http->OnStatus = [&](const std::string& s) {
      if (s == "Connected." && !signalled) {
        signalled = true;
        requested.set_value();
      }
    };
    auto running = std::async(std::launch::async, [&] { Get(*http, Url(path), f); });
    if (requested.get_future().wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      stop.request_stop();
      FAIL() << "the request did not start";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = std::chrono::steady_clock::now();
    stop.request_stop();
    EXPECT_THROW(running.get(), EIdAborted);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

    // The client is usable again under a new stop.
    f = {};
    http->OnStatus = nullptr;
    http->SetStopToken({});
    Get(*http, Url("/text"), f);
    EXPECT_EQ(f.body, k_http_text);
  }
}

TEST_F(HttpClientTest, SinkExceptionIsRethrownUnchanged) {
  struct SinkFull : std::runtime_error {
    using std::runtime_error::runtime_error;
  };
  Fetched f;
  auto http = Client(f);
  std::size_t calls = 0;
  EXPECT_THROW(http->Get(Url("/endless"),
                         [&](const char*, std::size_t) {
                           if (++calls == 3) throw SinkFull("disk full");
                         }),
               SinkFull);
  EXPECT_EQ(calls, 3u);
  EXPECT_EQ(f.work.back(), "end");
}

TEST_F(HttpClientTest, RefusedUrlsSendNothing) {
  const std::string bad[] = {
      Url("/text\r\nX-Injected: 1"),
      Url("/text\n"),
      Url("/te") + std::string(1, '\0') + "xt",
      "ftp://127.0.0.1/file",
      "file:///etc/passwd",
      "127.0.0.1/text",
      "http:///path",
  };
  for (const auto& url : bad) {
    Fetched f;
    auto http = Client(f);
    EXPECT_THROW(Get(*http, url, f), EIdInvalidArgument) << url;
    EXPECT_TRUE(f.status.empty()) << url;
  }
}

TEST_F(HttpClientTest, TransportFailures) {
  const int dead = FreePort();
  Fetched f;
  auto http = Client(f);
  try {
    Get(*http, "http://127.0.0.1:" + std::to_string(dead) + "/", f);
    ADD_FAILURE() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_NE(std::string(e.what()).find("127.0.0.1:" + std::to_string(dead)), std::string::npos) << e.what();
  }
  EXPECT_THROW(Get(*http, "http://no-such-host.invalid/", f), EIdResolveError);
}

}  // namespace
