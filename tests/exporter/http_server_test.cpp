#include "programs/exporter/http_server.h"
#include "programs/exporter/gzip.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qvr::exporter {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;

// Well under the server's 3 s request timeout: an answer that came only once the server gave up
// on the connection counts as none.
constexpr Clock::duration kAnswerWait = 1500ms;

// A loopback client that sends raw bytes; every call on the socket has a deadline.
class Client {
 public:
  explicit Client(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    const timeval limit{2, 0};
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      close(fd_);
      throw std::runtime_error("cannot connect to port " + std::to_string(port));
    }
  }
  ~Client() { close(fd_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // The server may close before taking every byte; what it answers is what counts.
  void send(std::string_view bytes) const {
    while (!bytes.empty()) {
      const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent <= 0) {
        return;
      }
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
  }
  void finishSending() const { shutdown(fd_, SHUT_WR); }

  // Everything the server sent until it closed the connection; nothing if it has not by then.
  [[nodiscard]] std::optional<std::string> answer(Clock::duration wait = kAnswerWait) const {
    const Clock::time_point deadline = Clock::now() + wait;
    std::string received;
    char buffer[4096];
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      pollfd ready{fd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) != 1) {
        return std::nullopt;
      }
      const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) {  // closed, or reset after unread request bytes
        return received;
      }
      received.append(buffer, static_cast<std::size_t>(n));
    }
  }

 private:
  int fd_;
};

struct Answer {
  int status = 0;
  std::string head;  // the status line and headers, each line ending in CRLF
  std::string body;
};

Answer parse(const std::string& text) {
  Answer parsed;
  const std::size_t end = text.find("\r\n\r\n");
  if (text.rfind("HTTP/1.1 ", 0) != 0 || end == std::string::npos) {
    return parsed;
  }
  parsed.status = std::stoi(text.substr(9, 3));
  parsed.head = text.substr(0, end + 2);
  parsed.body = text.substr(end + 4);
  return parsed;
}

int portOf(const HttpServer& server) {
  const std::string address = server.boundAddress();
  return std::stoi(address.substr(address.rfind(':') + 1));
}

const std::string kMetricsType = "text/plain; version=0.0.4; charset=utf-8";
const std::string kMetrics = "qvr7130_up{serial=\"QVR000001\"} 1\n";

class HttpServerTest : public testing::Test {
 protected:
  HttpServer server_{
      "127.0.0.1:0",
      {{"/metrics",
        [](std::string_view) {
          return HttpResponse{200, kMetricsType, kMetrics};
        }},
       {"/",
        [](std::string_view) {
          return HttpResponse{200, "text/html; charset=utf-8", "<p>"};
        }},
       {"/broken", [](std::string_view) -> HttpResponse { throw std::runtime_error("bug"); }}}};
  int port_ = portOf(server_);

  [[nodiscard]] std::optional<std::string> exchange(std::string_view request,
                                                    bool finish = false) const {
    const Client client(port_);
    client.send(request);
    if (finish) {
      client.finishSending();
    }
    return client.answer();
  }
};

TEST_F(HttpServerTest, AnswersRoutesAndRefusesEverythingElseWithoutStopping) {
  struct Case {
    const char* what;
    std::string request;
    int status;        // 0: a 4xx answer, or the connection closed without one
    std::string body;  // when status is not 0
    std::string header = {};
    bool finish = false;  // the client closes its sending side after the request
  };
  const std::string tooLong(20000, 'a');
  std::string manyHeaders = "GET /metrics HTTP/1.1\r\n";
  for (int i = 0; i < 200; ++i) {
    manyHeaders += "X-Filler-" + std::to_string(i) + ": " + std::string(100, 'v') + "\r\n";
  }
  std::string binary;
  for (int i = 0; i < 1024; ++i) {
    binary += static_cast<char>(i * 7);
  }
  const Case cases[] = {
      {"scrape",
       "GET /metrics HTTP/1.1\r\nHost: h\r\nAccept: text/plain;version=0.0.4;q=1,*/*;q=0.1\r\n"
       "Accept-Encoding: gzip\r\nX-Prometheus-Scrape-Timeout-Seconds: 10\r\n\r\n",
       200, gzipped(kMetrics), "Content-Encoding: gzip"},
      {"gzip refused", "GET /metrics HTTP/1.1\r\nAccept-Encoding: gzip;q=0, br\r\n\r\n", 200,
       kMetrics},
      {"HTTP/1.0", "GET / HTTP/1.0\r\n\r\n", 200, "<p>"},
      {"HEAD", "HEAD /metrics HTTP/1.1\r\nHost: h\r\n\r\n", 200, "",
       "Content-Length: " + std::to_string(kMetrics.size())},
      {"query string", "GET /metrics?name[]=up&x HTTP/1.1\r\n\r\n", 200, kMetrics},
      {"bare LF", "GET /metrics HTTP/1.1\nHost: h\n\n", 200, kMetrics},
      {"unknown path", "GET /metrics/x HTTP/1.1\r\n\r\n", 404, "not found\n"},
      {"handler throws", "GET /broken HTTP/1.1\r\n\r\n", 500, "internal error\n"},
      {"POST", "POST /metrics HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi", 405,
       "only GET and HEAD are answered here\n", "Allow: GET, HEAD"},
      {"PUT", "PUT / HTTP/1.1\r\nContent-Length: 0\r\n\r\n", 405,
       "only GET and HEAD are answered here\n", "Allow: GET, HEAD"},
      {"DELETE", "DELETE /metrics HTTP/1.1\r\n\r\n", 405, "only GET and HEAD are answered here\n"},
      // A body that never ends is not waited for.
      {"endless body", "POST / HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\nabc", 405,
       "only GET and HEAD are answered here\n"},
      {"absurd length", "GET /metrics HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n",
       200, kMetrics},
      {"negative length", "GET /metrics HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 0, ""},
      {"unknown method", "BREW /metrics HTTP/1.1\r\n\r\n", 0, ""},
      {"unknown version", "GET /metrics HTTP/9.9\r\n\r\n", 505, "HTTP Version not supported\n"},
      {"no version", "GET /metrics\r\n\r\n", 0, ""},
      {"garbage", "\x01\x02 garbage \xff\xfe\r\n\r\n", 0, ""},
      {"NUL in path", "GET /met\0rics HTTP/1.1\r\n\r\n"s, 0, ""},
      {"NUL in header", "GET / HTTP/1.1\r\nHost: a\0b\r\n\r\n"s, 0, ""},
      {"URI over the limit", "GET /" + tooLong + " HTTP/1.1\r\n\r\n", 0, ""},
      {"headers over the limit", manyHeaders + "\r\n", 0, ""},
      {"truncated", "GET /metr", 0, "", {}, true},
      {"TLS hello", "\x16\x03\x01\x00\x6a\x01\x00\x00\x66\x03\x03"s, 0, "", {}, true},
      {"binary", binary, 0, "", {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<std::string> received = exchange(c.request, c.finish);
    ASSERT_TRUE(received.has_value()) << "not closed within the wait";
    if (c.status == 0 && received->empty()) {
      continue;
    }
    const Answer answer = parse(*received);
    if (c.status == 0) {
      EXPECT_GE(answer.status, 400) << *received;
      EXPECT_LT(answer.status, 500) << *received;
    } else {
      EXPECT_EQ(answer.status, c.status) << *received;
      EXPECT_EQ(answer.body, c.body);
    }
    EXPECT_NE(answer.head.find("\r\nContent-Type: "), std::string::npos) << answer.head;
    EXPECT_NE(answer.head.find("\r\nConnection: close\r\n"), std::string::npos) << answer.head;
    if (c.request.rfind("HEAD", 0) != 0) {
      EXPECT_NE(
          answer.head.find("\r\nContent-Length: " + std::to_string(answer.body.size()) + "\r\n"),
          std::string::npos)
          << answer.head;
    }
    EXPECT_NE(answer.head.find("\r\n" + c.header), std::string::npos) << answer.head;
  }
  const std::optional<std::string> after = exchange("GET /metrics HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(after.has_value());
  EXPECT_EQ(parse(*after).body, kMetrics);
}

TEST_F(HttpServerTest, ClientsThatSendNothingDoNotHoldUpAScrape) {
  const Client silent(port_);
  const Client halfway(port_);
  halfway.send("GET /metrics HTTP/1.1\r\nHost:");
  const Clock::time_point start = Clock::now();
  const std::optional<std::string> received = exchange("GET /metrics HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(received.has_value());
  EXPECT_EQ(parse(*received).body, kMetrics);
  EXPECT_LT(Clock::now() - start, 500ms);
}

long residentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      return std::stol(line.substr(6));
    }
  }
  return 0;
}

// What a hostile neighbour can do with a port: hundreds of connections that send nothing and
// dozens that send their request a byte at a time. The scrapes meanwhile are answered at once,
// and the server's memory stays what the connections' buffers bound it to.
TEST_F(HttpServerTest, SlowAndIdleClientsDoNotStarveAScrape) {
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = std::min<rlim_t>(files.rlim_max, 4096);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &files), 0);
  ASSERT_GE(files.rlim_cur, 1200u) << "too few files allowed for this test";
  const long residentBefore = residentKiB();
  std::vector<std::unique_ptr<Client>> idle;
  for (int i = 0; i < 500; ++i) {
    idle.push_back(std::make_unique<Client>(port_));
  }
  std::vector<std::unique_ptr<Client>> trickling;
  for (int i = 0; i < 32; ++i) {
    trickling.push_back(std::make_unique<Client>(port_));
  }
  const std::string request = "GET /metrics HTTP/1.1\r\nHost: a.long.name.for.a.slow.client\r\n";
  Clock::duration slowest{0};
  for (std::size_t byte = 0; byte < 20; ++byte) {
    for (const auto& client : trickling) {
      client->send(request.substr(byte, 1));
    }
    const Clock::time_point start = Clock::now();
    const std::optional<std::string> received = exchange("GET /metrics HTTP/1.1\r\n\r\n");
    slowest = std::max(slowest, Clock::now() - start);
    ASSERT_TRUE(received.has_value());
    EXPECT_EQ(parse(*received).body, kMetrics);
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_LT(slowest, 1s);
  const long grown = residentKiB() - residentBefore;
  std::printf(
      "500 idle and 32 trickling connections: slowest scrape %.1f ms, resident memory "
      "grown by %ld KiB\n",
      std::chrono::duration<double, std::milli>(slowest).count(), grown);
  EXPECT_LT(grown, 32 * 1024);
}

TEST_F(HttpServerTest, RefusesListenAddressesItCannotUse) {
  EXPECT_EQ(server_.boundAddress(), "127.0.0.1:" + std::to_string(port_));
  const struct {
    std::string address;
    std::string errorPart;
  } cases[] = {
      {"127.0.0.1", "no port"},
      {"", "no port"},
      {"127.0.0.1:65536", "not a number from 0 to 65535"},
      {"127.0.0.1:-1", "not a number from 0 to 65535"},
      {"127.0.0.1:80s", "not a number from 0 to 65535"},
      // One address, not a list.
      {"127.0.0.1:9713,127.0.0.1:9714", "neither an IPv4 address"},
      {"no-such-host.invalid:9713", "the host name 'no-such-host.invalid' gives no address"},
      {"[::1:9713", "neither an IPv4 address"},
      {"-x:9713", "nor a host name"},
      {"garbage", "no port"},
      {server_.boundAddress(), "Address already in use"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    try {
      const HttpServer refused(c.address, {});
      ADD_FAILURE() << "listens on " << refused.boundAddress();
    } catch (const ListenError& e) {
      EXPECT_NE(std::string(e.what()).find(c.errorPart), std::string::npos) << e.what();
    }
  }
  // IPv6 where the machine has it; where it does not, the system says why.
  try {
    const HttpServer v6("[::1]:0", {});
    EXPECT_EQ(v6.boundAddress().rfind("[::1]:", 0), 0U) << v6.boundAddress();
    EXPECT_NE(v6.boundAddress(), "[::1]:0");
  } catch (const ListenError& e) {
    EXPECT_NE(std::string(e.what()).find("cannot bind to [::1]:0"), std::string::npos) << e.what();
  }
}

TEST(HttpServer, ReadsAQueryParameterAsBrowsersEncodeIt) {
  const struct {
    std::string_view query;
    std::optional<std::string> serial;
  } cases[] = {
      {"serial=QVR000001", "QVR000001"},
      {"x=1&serial=A%26B+C&serial=second", "A&B C"},
      {"serial=%3Cb%3E", "<b>"},
      {"serial=", ""},
      {"serials=1&xserial=2", std::nullopt},
      {"serial=%4", std::nullopt},
      {"serial=%zz", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(queryParameter(c.query, "serial"), c.serial) << c.query;
  }
}

// As the other exporters take them: no host for every interface (IPv4 among them), and a name.
TEST(HttpServer, ListensOnEveryInterfaceOrOnANamesAddress) {
  for (const std::string address : {":0", "localhost:0"}) {
    SCOPED_TRACE(address);
    const HttpServer server(address, {{"/", [](std::string_view) {
                                         return HttpResponse{200, "text/plain", "up"};
                                       }}});
    const std::string bound = server.boundAddress();
    EXPECT_EQ(bound.substr(0, bound.rfind(':') + 1), address.substr(0, address.size() - 1));
    const Client client(portOf(server));
    client.send("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(parse(client.answer().value_or("")).body, "up");
  }
}

}  // namespace
}  // namespace qvr::exporter
