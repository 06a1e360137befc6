#include "programs/exporter/basic_auth.h"

#include <crypt.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <optional>
#include <utility>

namespace qvr::exporter {
namespace {

// Compared with when the user is unknown, so that an unknown name takes as long to refuse as a
// wrong password and does not tell which names exist: "password" at cost 10.
constexpr const char* kUnknownUserHash =
    "$2y$10$d.A.lgKiKP6X6HIELXuL7OXqFDq0X.5bwKo/PKJYoXY2arpDYzpNe";

std::string digest(std::string_view text) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> bytes{};
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), bytes.data(), &length, EVP_sha256(), nullptr);
  return {reinterpret_cast<const char*>(bytes.data()), length};
}

}  // namespace

std::optional<std::string> base64Decoded(std::string_view text) {
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.size() % 4 != 0) {
    return std::nullopt;
  }
  std::string decoded;
  std::uint32_t bits = 0;
  int count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '=') {
      // Padding only at the end, at most two.
      const std::size_t padding = text.size() - i;
      if (padding > 2 || text.substr(i).find_first_not_of('=') != std::string_view::npos) {
        return std::nullopt;
      }
      break;
    }
    const std::size_t value = kAlphabet.find(text[i]);
    if (value == std::string_view::npos) {
      return std::nullopt;
    }
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      decoded.push_back(static_cast<char>((bits >> count) & 0xff));
    }
  }
  return decoded;
}

BasicAuth::BasicAuth(std::map<std::string, std::string> users) : users_(std::move(users)) {}

bool BasicAuth::passwordMatches(const std::string& hash, const std::string& password) const {
  // crypt_data is 32 kB: on the heap rather than on the server thread's stack.
  auto data = std::make_unique<crypt_data>();
  const char* computed = crypt_rn(password.c_str(), hash.c_str(), data.get(), sizeof *data);
  return computed != nullptr && std::char_traits<char>::length(computed) == hash.size() &&
         CRYPTO_memcmp(computed, hash.data(), hash.size()) == 0;
}

bool BasicAuth::allows(std::string_view authorization) {
  constexpr std::string_view kScheme = "basic ";
  if (authorization.size() <= kScheme.size() ||
      !std::equal(kScheme.begin(), kScheme.end(), authorization.begin(), [](char a, char b) {
        return a == std::tolower(static_cast<unsigned char>(b));
      })) {
    return false;
  }
  const auto credentials = base64Decoded(authorization.substr(kScheme.size()));
  const std::size_t colon = credentials ? credentials->find(':') : std::string::npos;
  if (colon == std::string::npos) {
    return false;
  }
  const std::string user = credentials->substr(0, colon);
  const std::string password = credentials->substr(colon + 1);
  const std::string key = digest(*credentials);
  {
    const std::lock_guard lock(mutex_);
    if (verified_.contains(key) || refused_.contains(key)) {
      return verified_.contains(key);
    }
  }
  const auto found = users_.find(user);
  const bool known = found != users_.end();
  const bool matches = passwordMatches(known ? found->second : kUnknownUserHash, password);
  const std::lock_guard lock(mutex_);
  if (known && matches) {
    verified_.insert(key);
  } else {
    // Someone trying many passwords must not make the set grow without end.
    if (refused_.size() >= kMostRefused) {
      refused_.clear();
    }
    refused_.insert(key);
  }
  return known && matches;
}

}  // namespace qvr::exporter
