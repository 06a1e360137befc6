#include "programs/exporter/http_server.h"

#include <arpa/inet.h>
#include <civetweb.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

namespace qvr::exporter {

struct HttpServer::State {
  std::map<std::string, HttpHandler> routes;
  std::string host;  // as given: "127.0.0.1", "[::1]"
  int port = 0;
  mg_context* context = nullptr;
};

namespace {

// Four workers on a two-core machine: a scrape, a look at the page and a slow client or two
// at a time. Every further connection waits in civetweb's queue for a free worker.
constexpr const char* kWorkers = "4";
// How long one connection may hold a worker while it sends its request or reads the answer.
// civetweb limits nothing per client, so this alone bounds a client that opens connections and
// sends nothing: each holds a worker this long. Three of them leave a worker free for a scrape;
// every four more delay it by up to 3 s, against Prometheus' scrape timeout of 10 s.
constexpr const char* kRequestTimeoutMs = "3000";
// The request line and headers of a scrape fit in a few hundred bytes; civetweb answers a longer
// head with 400.
constexpr const char* kMaxRequestHead = "16384";
constexpr std::string_view kPlainText = "text/plain; charset=utf-8";

struct ParsedAddress {
  std::string host;
  bool ipv6 = false;
  int port = 0;
};

ParsedAddress parseListenAddress(const std::string& text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) {
    throw ListenError("'" + text + "': no port; give ADDRESS:PORT, such as 127.0.0.1:9713");
  }
  ParsedAddress parsed;
  parsed.host = text.substr(0, colon);
  const std::string port = text.substr(colon + 1);
  const bool digits =
      !port.empty() && port.size() <= 5 && std::all_of(port.begin(), port.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
      });
  if (!digits || std::stoi(port) > 65535) {
    throw ListenError("'" + text + "': the port is not a number from 0 to 65535");
  }
  parsed.port = std::stoi(port);
  // Only numeric addresses: a name could stand for several addresses, and civetweb would
  // listen on whichever its lookup returns first.
  const std::string& host = parsed.host;
  parsed.ipv6 = host.size() > 2 && host.front() == '[' && host.back() == ']';
  bool valid = false;
  if (parsed.ipv6) {
    in6_addr address{};
    valid = inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &address) == 1;
  } else {
    in_addr address{};
    valid = inet_pton(AF_INET, host.c_str(), &address) == 1;
  }
  if (!valid) {
    throw ListenError("'" + text + "': '" + host +
                      "' is neither an IPv4 address nor an IPv6 address in brackets");
  }
  if (parsed.ipv6 && mg_check_feature(MG_FEATURES_IPV6) == 0) {
    throw ListenError("'" + text + "': the civetweb library was built without IPv6; listen on " +
                      "an IPv4 address such as 0.0.0.0:" + port);
  }
  return parsed;
}

// civetweb tells why it could not listen only through its log; the thread that starts a server
// collects those lines while it does.
thread_local std::vector<std::string>* startLog = nullptr;

int onLog(const mg_connection* /*connection*/, const char* message) {
  if (startLog != nullptr) {
    startLog->emplace_back(message);
  }
  // Nothing reaches standard error: what a misbehaving client provokes is no news to the user.
  return 1;
}

std::string httpDate() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[64] = "";
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
  return text;
}

// Written out whole rather than through civetweb's header calls, which put the request's own
// HTTP version in the status line: "HTTP/9.9 505" to a request for version 9.9. Every
// connection is closed after its one answer.
void respond(mg_connection* connection, bool head, int status, std::string_view contentType,
             std::string_view body, std::string_view allow = {}) {
  std::string answer = "HTTP/1.1 " + std::to_string(status) + ' ' +
                       mg_get_response_code_text(connection, status) + "\r\nDate: " + httpDate() +
                       "\r\nContent-Type: ";
  answer += contentType.empty() ? kPlainText : contentType;
  answer += "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  if (!allow.empty()) {
    answer.append("Allow: ").append(allow).append("\r\n");
  }
  answer += "Connection: close\r\n\r\n";
  if (!head) {
    answer += body;
  }
  mg_write(connection, answer.data(), answer.size());
}

// Every request comes here before civetweb would look for a file, a script or a handler of its
// own, so nothing but the routes is ever served.
int onRequest(mg_connection* connection) {
  const auto* state =
      static_cast<const HttpServer::State*>(mg_get_user_data(mg_get_context(connection)));
  // Closed straight after the answer: civetweb would otherwise read and drop a declared body to
  // its end first, for as long as a client keeps sending one.
  mg_disable_connection_keep_alive(connection);
  const mg_request_info* request = mg_get_request_info(connection);
  const std::string_view method = request->request_method;
  const bool head = method == "HEAD";
  if (method != "GET" && !head) {
    respond(connection, false, 405, kPlainText, "only GET and HEAD are answered here\n",
            "GET, HEAD");
    return 405;
  }
  // The path exactly as sent, without the query string: "/%6Detrics" is not "/metrics".
  const char* path = request->local_uri_raw;
  const auto route = path != nullptr ? state->routes.find(path) : state->routes.end();
  if (route == state->routes.end()) {
    respond(connection, head, 404, kPlainText, "not found\n");
    return 404;
  }
  HttpResponse response;
  try {
    response = route->second();
  } catch (...) {
    response = {500, std::string(kPlainText), "internal error\n"};
  }
  respond(connection, head, response.status, response.contentType, response.body);
  return response.status;
}

// civetweb's own answers to requests it cannot parse (400, 411, 505, ...) carry no length,
// and a body that repeats what the client sent.
int onHttpError(mg_connection* connection, int status, const char* /*message*/) {
  const mg_request_info* request = mg_get_request_info(connection);
  const bool head = request != nullptr && request->request_method != nullptr &&
                    std::string_view(request->request_method) == "HEAD";
  respond(connection, head, status, kPlainText,
          std::string(mg_get_response_code_text(connection, status)) + '\n');
  return 0;
}

void initialiseCivetweb() {
  static std::once_flag once;
  std::call_once(once, [] { mg_init_library(MG_FEATURES_DEFAULT); });
}

}  // namespace

HttpServer::HttpServer(const std::string& listenAddress, std::map<std::string, HttpHandler> routes)
    : state_(std::make_unique<State>()) {
  const ParsedAddress address = parseListenAddress(listenAddress);
  state_->routes = std::move(routes);
  state_->host = address.host;
  initialiseCivetweb();

  const std::string ports = address.host + ':' + std::to_string(address.port);
  // No document root: civetweb serves files, directory listings, CGI and SSI only below one.
  const std::pair<const char*, const char*> settings[] = {
      {"listening_ports", ports.c_str()},
      {"num_threads", kWorkers},
      {"request_timeout_ms", kRequestTimeoutMs},
      {"max_request_size", kMaxRequestHead},
      // A kept-alive connection holds a worker between requests; Prometheus opens a new one
      // for each scrape at no cost worth the worker.
      {"enable_keep_alive", "no"},
      {"enable_directory_listing", "no"},
      {"decode_url", "no"},
  };
  std::vector<const char*> options;
  for (const auto& [name, value] : settings) {
    options.push_back(name);
    options.push_back(value);
  }
  options.push_back(nullptr);
  mg_callbacks callbacks{};
  callbacks.begin_request = onRequest;
  callbacks.log_message = onLog;
  callbacks.http_error = onHttpError;
  mg_init_data init{&callbacks, state_.get(), options.data()};
  char errorText[256] = "";
  mg_error_data error{nullptr, errorText, sizeof errorText};

  std::vector<std::string> log;
  startLog = &log;
  state_->context = mg_start2(&init, &error);
  startLog = nullptr;
  if (state_->context == nullptr) {
    // The log's first line says why ("cannot bind to 127.0.0.1:9713: 98 (Address already in
    // use)"); the error text only that it failed.
    throw ListenError("cannot listen on " + listenAddress + ": " +
                      (log.empty() ? std::string(errorText) : log.front()));
  }
  mg_server_port bound{};
  if (mg_get_server_ports(state_->context, 1, &bound) != 1) {
    mg_stop(state_->context);
    throw ListenError("cannot listen on " + listenAddress + ": civetweb reports no port");
  }
  state_->port = bound.port;
}

HttpServer::~HttpServer() {
  mg_stop(state_->context);
}

std::string HttpServer::boundAddress() const {
  return state_->host + ':' + std::to_string(state_->port);
}

}  // namespace qvr::exporter
