#pragma once

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
// password), so that a scrape every second costs no bcrypt after the first.
class BasicAuth {
 public:
  explicit BasicAuth(std::map<std::string, std::string> users);

  // True when `authorization` ("Basic dXNlcjpwYXNz") names a user with that password.
  [[nodiscard]] bool allows(std::string_view authorization);

 private:
  [[nodiscard]] bool passwordMatches(const std::string& hash, const std::string& password) const;

  std::map<std::string, std::string> users_;
  std::mutex mutex_;
  std::set<std::string> verified_;  // digests of "user:password" that matched, guarded
};

// `text` decoded from base 64 (RFC 4648, with padding); nothing when it is not base 64.
[[nodiscard]] std::optional<std::string> base64Decoded(std::string_view text);

}  // namespace qvr::exporter
