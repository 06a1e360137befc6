#pragma once

#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace qvr::exporter {

struct HttpResponse {
  int status = 200;
  std::string contentType;  // empty: text/plain; charset=utf-8
  std::string body;
};

// Runs on one of the server's threads, several at once when scrapes overlap, so it must be safe
// to call concurrently and must not block on a device: it answers from what was last decoded.
// An exception it throws is answered with a 500.
using HttpHandler = std::function<HttpResponse()>;

// Why the server could not start: a listen address it does not understand, or civetweb's own
// reason for not listening (the address is in use, not one of this machine's, ...).
class ListenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A small HTTP server for the exporter's few endpoints, on civetweb. It answers GET and HEAD on
// exact paths (the query string is ignored), 405 to every other method and 404 to every other
// path, and serves no files. Each connection carries one request and is then closed.
class HttpServer {
 public:
  // Listens on "ADDRESS:PORT" with a numeric address: "127.0.0.1:9713", "0.0.0.0:9713",
  // "[::1]:0"; port 0 takes a free port. Throws ListenError when it cannot listen.
  HttpServer(const std::string& listenAddress, std::map<std::string, HttpHandler> routes);
  // Stops listening, drops connections that have not sent a whole request, and waits for the
  // handlers that are running. It can take up to 2 s: civetweb's threads look for the stop
  // between waits of that length.
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;
  HttpServer(HttpServer&&) = delete;
  HttpServer& operator=(HttpServer&&) = delete;

  // "127.0.0.1:43121": the address and the port actually taken.
  [[nodiscard]] std::string boundAddress() const;

  struct State;  // what civetweb's threads share with the server

 private:
  std::unique_ptr<State> state_;
};

}  // namespace qvr::exporter
