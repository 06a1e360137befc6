#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace qvr::exporter {

// Checks the Authorization header of a request against the users of the web configuration,
// each with a bcrypt hash of their password.
//
// bcrypt is slow on purpose (some 50 ms at cost 10), and Prometheus sends the same password with
// every scrape: a user and password that matched once are remembered (as a digest, not the
// password), so that a scrape every second costs no bcrypt after the first. So are the latest
// pairs that did not match: a Prometheus server left with an old password would otherwise cost
// the server's one thread a bcrypt a second.
class BasicAuth {
 public:
  static constexpr std::size_t kMostRefused = 1024;

  explicit BasicAuth(std::map<std::string, std::string> users);

  // True when `authorization` ("Basic dXNlcjpwYXNz") names a user with that password.
  [[nodiscard]] bool allows(std::string_view authorization);

 private:
  [[nodiscard]] bool passwordMatches(const std::string& hash, const std::string& password) const;

  std::map<std::string, std::string> users_;
  std::mutex mutex_;
  std::set<std::string> verified_;  // digests of "user:password" that matched, guarded
  std::set<std::string> refused_;   // ... that did not, at most kMostRefused, guarded
};

// `text` decoded from base 64 (RFC 4648, with padding); nothing when it is not base 64.
[[nodiscard]] std::optional<std::string> base64Decoded(std::string_view text);

}  // namespace qvr::exporter
