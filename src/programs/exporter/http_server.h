#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qvr::exporter {

class BasicAuth;
class TlsContext;

struct HttpResponse {
  int status = 200;
  std::string contentType;  // empty: text/plain; charset=utf-8
  std::string body;
};

// Runs on the server's thread, one at a time; it must not block on a device, since every other
// connection waits meanwhile: it answers from what was last decoded. An exception it throws is
// answered with a 500.
// Gets the request's query string, without its '?' (empty when there is none).
using HttpHandler = std::function<HttpResponse(std::string_view query)>;

// The value of the query's first `name=...` parameter, its %XX escapes and '+' decoded; nothing
// when the query has none or its escapes are broken.
[[nodiscard]] std::optional<std::string> queryParameter(std::string_view query,
                                                        std::string_view name);

// Why the server could not start: a listen address it does not understand, or the system's
// reason for not listening (the address is in use, not one of this machine's, ...).
class ListenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws ListenError when `listenAddress` is not "ADDRESS:PORT" with a port from 0 to 65535 and
// an IPv4 address, an IPv6 address in brackets, a host name that resolves (to its first IPv4
// address, else its first IPv6 one) or nothing (every interface, IPv6 and IPv4).
void checkListenAddress(const std::string& listenAddress);

// A small HTTP server for the exporter's few endpoints. It answers GET and HEAD on exact paths
// (the query string is ignored), 405 to every other method and 404 to every other path, and
// serves no files. Each connection carries one request and is then closed. An answer is
// gzip-compressed when the request accepts gzip.
//
// One thread serves every connection from one event loop, so a client that sends its request
// a byte a second, or opens hundreds of connections and sends nothing, holds no worker that a
// scrape would wait for: each costs a socket and at most kMaxRequestHead bytes. A connection
// gets kRequestTime to finish its TLS handshake and send its request head; when kMaxConnections are
// open, the one that has sent nothing for longest makes room for a new one.
class HttpServer {
 public:
  static constexpr std::size_t kMaxRequestHead = 16384;
  static constexpr std::size_t kMaxConnections = 1000;
  static constexpr std::chrono::milliseconds kRequestTime{3000};

  // What a client must go through before a handler runs; nothing: plain HTTP, open to all.
  struct Security {
    std::shared_ptr<const TlsContext> tls;  // TLS on every connection
    std::shared_ptr<BasicAuth> auth;        // a 401 for a request without a known user
  };

  // Listens on "ADDRESS:PORT" with a numeric address: "127.0.0.1:9713", "0.0.0.0:9713",
  // "[::1]:0"; port 0 takes a free port. Throws ListenError when it cannot listen.
  HttpServer(const std::string& listenAddress, std::map<std::string, HttpHandler> routes,
             Security security = {});
  // Stops listening, closes every connection and waits for a handler that is running.
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;
  HttpServer(HttpServer&&) = delete;
  HttpServer& operator=(HttpServer&&) = delete;

  // "127.0.0.1:43121": the address and the port actually taken.
  [[nodiscard]] std::string boundAddress() const;

  struct State;  // what the loop's thread works on

 private:
  std::unique_ptr<State> state_;
};

}  // namespace qvr::exporter
