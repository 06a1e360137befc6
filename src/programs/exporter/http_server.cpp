#include "programs/exporter/http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <ctime>
#include <list>
#include <optional>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "programs/exporter/basic_auth.h"
#include "programs/exporter/gzip.h"
#include "programs/exporter/tls.h"

namespace qvr::exporter {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kPlainText = "text/plain; charset=utf-8";
// After its answer a connection is read to its end for this long before it is closed: closing
// a socket with unread request bytes resets it, and a reset can destroy the answer on its way.
constexpr std::chrono::milliseconds kDrainTime{1000};
// How long a client may take to read its answer.
constexpr std::chrono::milliseconds kAnswerTime{10000};
constexpr int kListenBacklog = 1024;
constexpr int kMaxEvents = 64;

struct ParsedAddress {
  std::string host;
  bool ipv6 = false;
  bool everyInterface = false;  // no host: IPv6 and IPv4 on one socket where the system can
  int port = 0;
  sockaddr_storage socketAddress{};
  socklen_t length = 0;
};

void setIpv4(ParsedAddress& parsed, const in_addr& host, std::uint16_t networkPort) {
  auto* address = reinterpret_cast<sockaddr_in*>(&parsed.socketAddress);
  address->sin_family = AF_INET;
  address->sin_port = networkPort;
  address->sin_addr = host;
  parsed.ipv6 = false;
  parsed.length = sizeof(sockaddr_in);
}

void setIpv6(ParsedAddress& parsed, const in6_addr& host, std::uint16_t networkPort) {
  auto* address = reinterpret_cast<sockaddr_in6*>(&parsed.socketAddress);
  address->sin6_family = AF_INET6;
  address->sin6_port = networkPort;
  address->sin6_addr = host;
  parsed.ipv6 = true;
  parsed.length = sizeof(sockaddr_in6);
}

// A host name as DNS spells one: dot-separated labels of letters, digits and hyphens, with a
// letter somewhere, so that a mistyped IPv4 address is not looked up as a name.
bool looksLikeHostName(const std::string& host) {
  const bool characters = std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.';
  });
  const bool letter = std::any_of(
      host.begin(), host.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); });
  return !host.empty() && characters && letter && host.front() != '.' && host.front() != '-' &&
         host.find("..") == std::string::npos;
}

// The name's first IPv4 address, or its first address when it has none: one socket, as the
// other exporters listen on a name.
bool resolve(ParsedAddress& parsed, std::uint16_t networkPort, std::string& failure) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int error = getaddrinfo(parsed.host.c_str(), nullptr, &hints, &found);
  if (error != 0) {
    failure = gai_strerror(error);
    return false;
  }
  const addrinfo* chosen = nullptr;
  for (const addrinfo* a = found; a != nullptr && chosen == nullptr; a = a->ai_next) {
    chosen = a->ai_family == AF_INET ? a : nullptr;
  }
  for (const addrinfo* a = found; a != nullptr && chosen == nullptr; a = a->ai_next) {
    chosen = a->ai_family == AF_INET6 ? a : nullptr;
  }
  if (chosen == nullptr) {
    failure = "it has no IPv4 or IPv6 address";
  } else if (chosen->ai_family == AF_INET) {
    setIpv4(parsed, reinterpret_cast<const sockaddr_in*>(chosen->ai_addr)->sin_addr, networkPort);
  } else {
    setIpv6(parsed, reinterpret_cast<const sockaddr_in6*>(chosen->ai_addr)->sin6_addr, networkPort);
  }
  freeaddrinfo(found);
  return chosen != nullptr;
}

// "ADDRESS:PORT" as the other exporters take it: an IPv4 address, an IPv6 address in brackets,
// a host name (its first address), or nothing for every interface.
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
  const auto networkPort = htons(static_cast<std::uint16_t>(parsed.port));
  const std::string& host = parsed.host;
  in_addr ipv4{};
  in6_addr ipv6{};
  if (host.empty()) {
    parsed.everyInterface = true;
    setIpv6(parsed, in6addr_any, networkPort);
  } else if (host.size() > 2 && host.front() == '[' && host.back() == ']' &&
             inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &ipv6) == 1) {
    setIpv6(parsed, ipv6, networkPort);
  } else if (inet_pton(AF_INET, host.c_str(), &ipv4) == 1) {
    setIpv4(parsed, ipv4, networkPort);
  } else if (!looksLikeHostName(host)) {
    throw ListenError("'" + text + "': '" + host +
                      "' is neither an IPv4 address, an IPv6 address in brackets nor a host name");
  } else if (std::string failure; !resolve(parsed, networkPort, failure)) {
    throw ListenError("'" + text + "': the host name '" + host + "' gives no address: " + failure);
  }
  return parsed;
}

std::string httpDate() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[64] = "";
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
  return text;
}

std::string_view reasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 505:
      return "HTTP Version not supported";
    default:
      return status < 400 ? "OK" : status < 500 ? "Bad Request" : "Internal Server Error";
  }
}

// Every connection is closed after its one answer. `headers` are more header lines, each
// ending in CRLF.
std::string answer(bool head, int status, std::string_view contentType, std::string_view body,
                   std::string_view headers = {}) {
  std::string text = "HTTP/1.1 " + std::to_string(status) + ' ' +
                     std::string(reasonPhrase(status)) + "\r\nDate: " + httpDate() +
                     "\r\nContent-Type: ";
  text += contentType.empty() ? kPlainText : contentType;
  text += "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  text += headers;
  text += "Connection: close\r\n\r\n";
  if (!head) {
    text += body;
  }
  return text;
}

std::string errorAnswer(int status) {
  return answer(false, status, kPlainText, std::string(reasonPhrase(status)) + '\n');
}

// Where the request head ends (after its blank line, CRLF or bare LF), if it has.
std::optional<std::size_t> headEnd(std::string_view received) {
  for (std::size_t at = received.find('\n'); at != std::string_view::npos;
       at = received.find('\n', at + 1)) {
    if (at + 1 < received.size() && received[at + 1] == '\n') {
      return at + 2;
    }
    if (at + 2 < received.size() && received[at + 1] == '\r' && received[at + 2] == '\n') {
      return at + 3;
    }
  }
  return std::nullopt;
}

bool isToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isupper(static_cast<unsigned char>(c)) != 0;
  });
}

bool knownMethod(std::string_view method) {
  constexpr std::string_view kMethods[] = {"GET",   "HEAD",    "POST",    "PUT",  "DELETE",
                                           "PATCH", "OPTIONS", "CONNECT", "TRACE"};
  return std::ranges::find(kMethods, method) != std::end(kMethods);
}

// Header names in lower case, with their values; the first of a name given twice counts.
using Headers = std::map<std::string, std::string_view, std::less<>>;

// The header lines after the request line, when each is a name, a colon and a value, and a
// Content-Length, if any, a number.
std::optional<Headers> parseHeaders(std::string_view headers) {
  Headers parsed;
  while (!headers.empty()) {
    const std::size_t end = headers.find('\n');
    std::string_view line = headers.substr(0, end);
    headers.remove_prefix(end == std::string_view::npos ? headers.size() : end + 1);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (line.empty()) {
      continue;
    }
    const std::size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos) {
      return std::nullopt;
    }
    std::string name(line.substr(0, colon));
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return static_cast<char>(std::tolower(c)); });
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
      value.remove_prefix(1);
    }
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
      value.remove_suffix(1);
    }
    if (name == "content-length" &&
        (value.empty() || !std::all_of(value.begin(), value.end(), [](char c) {
           return std::isdigit(static_cast<unsigned char>(c)) != 0;
         }))) {
      return std::nullopt;
    }
    parsed.emplace(std::move(name), value);
  }
  return parsed;
}

std::string_view headerValue(const Headers& headers, std::string_view name) {
  const auto found = headers.find(name);
  return found == headers.end() ? std::string_view{} : found->second;
}

struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

// What a read or write on a connection came to, besides bytes.
constexpr ssize_t kBlocked = -1;  // nothing now: wait for the socket
constexpr ssize_t kEnded = 0;     // closed, or failed: the connection is done

struct Connection {
  enum class Phase { Handshake, Request, Answer, Drain };
  int fd = -1;
  Phase phase = Phase::Request;
  std::unique_ptr<SSL, SslFree> tls;
  bool tlsWantsWrite = false;  // TLS must write before it can go on, whatever the phase
  std::uint32_t watched = 0;   // the events the loop watches the socket for
  std::string received;
  std::string toSend;
  std::size_t sent = 0;
  Clock::time_point deadline;
  std::list<int>::iterator age;  // its place among the connections, oldest first
};

}  // namespace

struct HttpServer::State {
  std::map<std::string, HttpHandler> routes;
  Security security;
  std::string host;  // as given: "127.0.0.1", "[::1]"
  int port = 0;
  int listener = -1;
  int epoll = -1;
  int wake = -1;  // an eventfd: the destructor's stop
  std::unordered_map<int, Connection> connections;
  std::list<int> byAge;  // file descriptors, the oldest connection first
  std::thread thread;

  void run();
  void acceptAll();
  void makeRoom();
  void serve(Connection& connection, std::uint32_t events);
  void handshake(Connection& connection);
  void readRequest(Connection& connection);
  void writeAnswer(Connection& connection);
  void drain(Connection& connection);
  // The answer to a whole request head.
  [[nodiscard]] std::string respond(std::string_view head) const;
  void startAnswer(Connection& connection, std::string text);
  // Watches the connection for `events`, and for writing while TLS must write.
  void watchConnection(Connection& connection, std::uint32_t events) const;
  void closeConnection(int fd);
  void closeExpired();
  [[nodiscard]] int nextTimeoutMs() const;
};

namespace {

void setNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// Adds `fd` to the loop's set, or changes what it is watched for.
void watch(int epoll, int operation, int fd, std::uint32_t events) {
  epoll_event event{};
  event.events = events;
  event.data.fd = fd;
  epoll_ctl(epoll, operation, fd, &event);
}

std::string systemText(int error) {
  return std::strerror(error);
}

ssize_t tlsOutcome(Connection& connection, int result) {
  const int error = SSL_get_error(connection.tls.get(), result);
  // A failed handshake leaves its reasons queued on this thread; nobody reads them.
  ERR_clear_error();
  connection.tlsWantsWrite = error == SSL_ERROR_WANT_WRITE;
  return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ? kBlocked : kEnded;
}

ssize_t socketOutcome(ssize_t result) {
  if (result >= 0) {
    return result;
  }
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? kBlocked : kEnded;
}

// Bytes of the request, through TLS when the connection has it.
ssize_t receive(Connection& connection, char* buffer, std::size_t size) {
  if (!connection.tls) {
    return socketOutcome(recv(connection.fd, buffer, size, 0));
  }
  const int n = SSL_read(connection.tls.get(), buffer, static_cast<int>(size));
  return n > 0 ? n : tlsOutcome(connection, n);
}

ssize_t transmit(Connection& connection, std::string_view bytes) {
  if (!connection.tls) {
    return socketOutcome(send(connection.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL));
  }
  constexpr std::size_t kMostAtOnce = 1 << 20;
  const int n = SSL_write(connection.tls.get(), bytes.data(),
                          static_cast<int>(std::min(bytes.size(), kMostAtOnce)));
  return n > 0 ? n : tlsOutcome(connection, n);
}

}  // namespace

std::string HttpServer::State::respond(std::string_view head) const {
  if (head.find('\0') != std::string_view::npos) {
    return errorAnswer(400);
  }
  const std::size_t lineEnd = head.find('\n');
  std::string_view line = head.substr(0, lineEnd);
  if (!line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  }
  const std::size_t firstSpace = line.find(' ');
  const std::size_t secondSpace =
      firstSpace == std::string_view::npos ? firstSpace : line.find(' ', firstSpace + 1);
  if (secondSpace == std::string_view::npos) {
    return errorAnswer(400);
  }
  const std::string_view method = line.substr(0, firstSpace);
  const std::string_view target = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
  const std::string_view version = line.substr(secondSpace + 1);
  const auto headers = parseHeaders(head.substr(lineEnd + 1));
  if (!isToken(method) || !knownMethod(method) || target.empty() || target.front() != '/' ||
      version.rfind("HTTP/", 0) != 0 || !headers) {
    return errorAnswer(400);
  }
  if (version != "HTTP/1.1" && version != "HTTP/1.0") {
    return errorAnswer(505);
  }
  if (security.auth && !security.auth->allows(headerValue(*headers, "authorization"))) {
    return answer(false, 401, kPlainText, "Unauthorized\n", "WWW-Authenticate: Basic\r\n");
  }
  const bool headOnly = method == "HEAD";
  if (method != "GET" && !headOnly) {
    return answer(false, 405, kPlainText, "only GET and HEAD are answered here\n",
                  "Allow: GET, HEAD\r\n");
  }
  // The path exactly as sent, without the query string: "/%6Detrics" is not "/metrics".
  const std::size_t question = target.find('?');
  const std::string path(target.substr(0, question));
  const std::string_view query =
      question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
  const auto route = routes.find(path);
  if (route == routes.end()) {
    return answer(headOnly, 404, kPlainText, "not found\n");
  }
  HttpResponse response;
  try {
    response = route->second(query);
  } catch (...) {
    response = {500, std::string(kPlainText), "internal error\n"};
  }
  if (response.body.empty() || !acceptsGzip(headerValue(*headers, "accept-encoding"))) {
    return answer(headOnly, response.status, response.contentType, response.body);
  }
  return answer(headOnly, response.status, response.contentType, gzipped(response.body),
                "Content-Encoding: gzip\r\nVary: Accept-Encoding\r\n");
}

void HttpServer::State::watchConnection(Connection& connection, std::uint32_t events) const {
  if (connection.tlsWantsWrite) {
    events |= EPOLLOUT;
  }
  if (events != connection.watched) {
    watch(epoll, connection.watched == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, connection.fd, events);
    connection.watched = events;
  }
}

void HttpServer::State::handshake(Connection& connection) {
  const int result = SSL_accept(connection.tls.get());
  if (result == 1) {
    connection.phase = Connection::Phase::Request;
    connection.tlsWantsWrite = false;
    watchConnection(connection, EPOLLIN | EPOLLRDHUP);
    // The request may have come with the handshake's last bytes, already read by TLS.
    readRequest(connection);
  } else if (tlsOutcome(connection, result) == kBlocked) {
    watchConnection(connection, EPOLLIN | EPOLLRDHUP);
  } else {
    closeConnection(connection.fd);
  }
}

void HttpServer::State::startAnswer(Connection& connection, std::string text) {
  connection.phase = Connection::Phase::Answer;
  connection.toSend = std::move(text);
  connection.sent = 0;
  connection.received.clear();
  connection.received.shrink_to_fit();
  connection.deadline = Clock::now() + kAnswerTime;
  watchConnection(connection, EPOLLOUT | EPOLLIN | EPOLLRDHUP);
  writeAnswer(connection);
}

void HttpServer::State::readRequest(Connection& connection) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = receive(connection, buffer, sizeof buffer);
    if (n == kEnded) {
      // The client stopped sending before its request was whole: nobody waits for an answer.
      closeConnection(connection.fd);
      return;
    }
    if (n == kBlocked) {
      watchConnection(connection, EPOLLIN | EPOLLRDHUP);
      return;
    }
    connection.received.append(buffer, static_cast<std::size_t>(n));
    if (const auto end = headEnd(connection.received); end && *end <= kMaxRequestHead) {
      startAnswer(connection, respond(std::string_view(connection.received).substr(0, *end)));
      return;
    }
    if (connection.received.size() > kMaxRequestHead) {
      startAnswer(connection, errorAnswer(431));
      return;
    }
  }
}

void HttpServer::State::writeAnswer(Connection& connection) {
  while (connection.sent < connection.toSend.size()) {
    const ssize_t n =
        transmit(connection, std::string_view(connection.toSend).substr(connection.sent));
    if (n == kEnded) {
      closeConnection(connection.fd);
      return;
    }
    if (n == kBlocked) {
      return;
    }
    connection.sent += static_cast<std::size_t>(n);
  }
  // All sent: the client reads it, and whatever it still sends is read and dropped, TLS or not.
  if (connection.tls) {
    (void)SSL_shutdown(connection.tls.get());
    ERR_clear_error();
    connection.tlsWantsWrite = false;
  }
  shutdown(connection.fd, SHUT_WR);
  connection.phase = Connection::Phase::Drain;
  connection.toSend.clear();
  connection.toSend.shrink_to_fit();
  connection.deadline = Clock::now() + kDrainTime;
  watchConnection(connection, EPOLLIN | EPOLLRDHUP);
  drain(connection);
}

void HttpServer::State::drain(Connection& connection) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = recv(connection.fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      continue;
    }
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      closeConnection(connection.fd);
    }
    return;
  }
}

void HttpServer::State::serve(Connection& connection, std::uint32_t events) {
  switch (connection.phase) {
    case Connection::Phase::Handshake:
      handshake(connection);
      break;
    case Connection::Phase::Request:
      readRequest(connection);
      break;
    case Connection::Phase::Answer:
      if ((events & (EPOLLERR | EPOLLHUP)) != 0) {
        closeConnection(connection.fd);
      } else {
        writeAnswer(connection);
      }
      break;
    case Connection::Phase::Drain:
      drain(connection);
      break;
  }
}

void HttpServer::State::closeConnection(int fd) {
  const auto it = connections.find(fd);
  if (it == connections.end()) {
    return;
  }
  byAge.erase(it->second.age);
  connections.erase(it);
  epoll_ctl(epoll, EPOLL_CTL_DEL, fd, nullptr);
  close(fd);
}

void HttpServer::State::makeRoom() {
  // The connection that has sent nothing for longest goes; failing that, the oldest.
  for (const int fd : byAge) {
    const Connection& connection = connections.at(fd);
    if ((connection.phase == Connection::Phase::Handshake ||
         connection.phase == Connection::Phase::Request) &&
        connection.received.empty()) {
      closeConnection(fd);
      return;
    }
  }
  if (!byAge.empty()) {
    closeConnection(byAge.front());
  }
}

void HttpServer::State::acceptAll() {
  for (;;) {
    if (connections.size() >= kMaxConnections) {
      makeRoom();
    }
    const int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if ((errno == EMFILE || errno == ENFILE) && !connections.empty()) {
        makeRoom();
        continue;
      }
      return;  // nothing more waiting, or a connection that went before it was taken
    }
    Connection& connection = connections[fd];
    connection.fd = fd;
    connection.deadline = Clock::now() + kRequestTime;
    connection.age = byAge.insert(byAge.end(), fd);
    if (security.tls) {
      connection.tls.reset(SSL_new(security.tls->get()));
      if (!connection.tls || SSL_set_fd(connection.tls.get(), fd) != 1) {
        ERR_clear_error();
        closeConnection(fd);
        continue;
      }
      connection.phase = Connection::Phase::Handshake;
    }
    watchConnection(connection, EPOLLIN | EPOLLRDHUP);
  }
}

void HttpServer::State::closeExpired() {
  const Clock::time_point now = Clock::now();
  std::vector<int> expired;
  for (const auto& [fd, connection] : connections) {
    if (connection.deadline <= now) {
      expired.push_back(fd);
    }
  }
  for (const int fd : expired) {
    closeConnection(fd);
  }
}

int HttpServer::State::nextTimeoutMs() const {
  if (connections.empty()) {
    return -1;
  }
  Clock::time_point soonest = Clock::time_point::max();
  for (const auto& [fd, connection] : connections) {
    soonest = std::min(soonest, connection.deadline);
  }
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(soonest - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

void HttpServer::State::run() {
  // A TLS write to a client that went away raises SIGPIPE on this thread (OpenSSL writes without
  // MSG_NOSIGNAL): blocked here, the write fails with EPIPE instead of ending the program.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  epoll_event events[kMaxEvents];
  for (;;) {
    const int ready = epoll_wait(epoll, events, kMaxEvents, nextTimeoutMs());
    for (int i = 0; i < ready; ++i) {
      const int fd = events[i].data.fd;
      if (fd == wake) {
        return;
      }
      if (fd == listener) {
        acceptAll();
        continue;
      }
      const auto it = connections.find(fd);
      if (it != connections.end()) {
        serve(it->second, events[i].events);
      }
    }
    closeExpired();
  }
}

std::optional<std::string> queryParameter(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    const std::size_t end = std::min(query.find('&'), query.size());
    const std::string_view pair = query.substr(0, end);
    query.remove_prefix(std::min(end + 1, query.size()));
    const std::size_t equals = pair.find('=');
    if (pair.substr(0, equals) != name) {
      continue;
    }
    const std::string_view encoded =
        equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
    std::string value;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
      if (encoded[i] == '+') {
        value += ' ';
      } else if (encoded[i] != '%') {
        value += encoded[i];
      } else if (unsigned byte = 0;
                 i + 2 < encoded.size() &&
                 std::from_chars(encoded.data() + i + 1, encoded.data() + i + 3, byte, 16).ptr ==
                     encoded.data() + i + 3) {
        value += static_cast<char>(byte);
        i += 2;
      } else {
        return std::nullopt;
      }
    }
    return value;
  }
  return std::nullopt;
}

void checkListenAddress(const std::string& listenAddress) {
  (void)parseListenAddress(listenAddress);
}

HttpServer::HttpServer(const std::string& listenAddress, std::map<std::string, HttpHandler> routes,
                       Security security)
    : state_(std::make_unique<State>()) {
  ParsedAddress address = parseListenAddress(listenAddress);
  State& s = *state_;
  s.routes = std::move(routes);
  s.security = std::move(security);
  s.host = address.host;
  const auto fail = [&](const std::string& what) {
    const int error = errno;
    for (const int fd : {s.listener, s.epoll, s.wake}) {
      if (fd >= 0) {
        close(fd);
      }
    }
    throw ListenError("cannot listen on " + listenAddress + ": " + what + ": " + systemText(error));
  };
  s.listener = socket(address.ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s.listener < 0 && address.everyInterface && errno == EAFNOSUPPORT) {
    // A system without IPv6 has every interface on IPv4.
    setIpv4(address, in_addr{htonl(INADDR_ANY)}, htons(static_cast<std::uint16_t>(address.port)));
    s.listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  }
  if (s.listener < 0) {
    fail("socket");
  }
  const int on = 1;
  setsockopt(s.listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (address.ipv6) {
    // "[::]:9713" is IPv6 only: IPv4 clients are listened for with an address of their own.
    // ":9713" is both, as the other exporters have it.
    const int v6only = address.everyInterface ? 0 : 1;
    setsockopt(s.listener, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only);
  }
  if (bind(s.listener, reinterpret_cast<const sockaddr*>(&address.socketAddress), address.length) !=
      0) {
    fail("cannot bind to " + listenAddress);
  }
  if (listen(s.listener, kListenBacklog) != 0) {
    fail("listen");
  }
  setNonBlocking(s.listener);
  sockaddr_storage bound{};
  socklen_t boundLength = sizeof bound;
  getsockname(s.listener, reinterpret_cast<sockaddr*>(&bound), &boundLength);
  s.port = ntohs(address.ipv6 ? reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port
                              : reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
  s.epoll = epoll_create1(EPOLL_CLOEXEC);
  s.wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (s.epoll < 0 || s.wake < 0) {
    fail("epoll");
  }
  for (const int fd : {s.listener, s.wake}) {
    watch(s.epoll, EPOLL_CTL_ADD, fd, EPOLLIN);
  }
  s.thread = std::thread([&s] { s.run(); });
}

HttpServer::~HttpServer() {
  State& s = *state_;
  const std::uint64_t one = 1;
  (void)!write(s.wake, &one, sizeof one);
  s.thread.join();
  for (const auto& [fd, connection] : s.connections) {
    close(fd);
  }
  close(s.listener);
  close(s.epoll);
  close(s.wake);
}

std::string HttpServer::boundAddress() const {
  return state_->host + ':' + std::to_string(state_->port);
}

}  // namespace qvr::exporter
