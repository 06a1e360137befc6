#include "programs/exporter/web_config.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

namespace qvr::exporter {
namespace {

// A node of the file: a scalar, or a mapping in the order written. A key with nothing after its
// colon and nothing indented under it is an empty mapping.
struct Entry;
struct Node {
  bool mapping = false;
  std::string scalar;
  std::vector<Entry> entries;
  int line = 0;
};
struct Entry {
  std::string key;
  Node value;
};

struct Line {
  int number = 0;
  std::size_t indent = 0;
  std::string key;
  std::optional<std::string> value;  // nothing: a mapping follows, indented
};

class SyntaxError : public std::runtime_error {
 public:
  SyntaxError(int line, const std::string& what)
      : std::runtime_error("line " + std::to_string(line) + ": " + what) {}
};

// A quoted scalar at the start of `text`; `text` is left after its closing quote.
std::string quoted(std::string_view& text, int line) {
  const char quote = text.front();
  std::string value;
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == quote && quote == '\'' && i + 1 < text.size() && text[i + 1] == '\'') {
      value.push_back('\'');
      ++i;
    } else if (c == quote) {
      text.remove_prefix(i + 1);
      return value;
    } else if (c == '\\' && quote == '"') {
      if (i + 1 == text.size() || (text[i + 1] != '"' && text[i + 1] != '\\')) {
        throw SyntaxError(line, R"(only \" and \\ are understood in double quotes)");
      }
      value.push_back(text[++i]);
    } else {
      value.push_back(c);
    }
  }
  throw SyntaxError(line, "a quote is not closed");
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') {
    text.remove_prefix(1);
  }
  while (!text.empty() && text.back() == ' ') {
    text.remove_suffix(1);
  }
  return text;
}

// What is left of `text` once a comment is cut off: '#' at the start or after a space.
std::string_view withoutComment(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '#' && (i == 0 || text[i - 1] == ' ')) {
      return text.substr(0, i);
    }
  }
  return text;
}

// A scalar: quoted, or plain up to a comment. Sequences, flow collections, anchors, aliases,
// tags and block scalars are all refused.
std::string scalar(std::string_view text, int line) {
  if (text.front() == '"' || text.front() == '\'') {
    std::string value = quoted(text, line);
    if (!trimmed(withoutComment(text)).empty()) {
      throw SyntaxError(line, "text after a quoted value");
    }
    return value;
  }
  if (std::string_view("-[]{}&*!|>%@`?,").find(text.front()) != std::string_view::npos) {
    throw SyntaxError(line, "only plain or quoted values are understood here");
  }
  return std::string(trimmed(withoutComment(text)));
}

Line parseLine(std::string_view text, int number) {
  Line line{.number = number};
  while (line.indent < text.size() && text[line.indent] == ' ') {
    ++line.indent;
  }
  std::string_view rest = text.substr(line.indent);
  if (rest.front() == '\t') {
    throw SyntaxError(number, "a tab in the indentation");
  }
  if (rest.front() == '"' || rest.front() == '\'') {
    line.key = quoted(rest, number);
    if (rest.empty() || rest.front() != ':') {
      throw SyntaxError(number, "expected KEY: VALUE");
    }
  } else {
    const std::size_t colon = rest.find(": ");
    const std::size_t end = colon != std::string_view::npos ? colon
                            : rest.back() == ':'            ? rest.size() - 1
                                                            : std::string_view::npos;
    if (end == std::string_view::npos || end == 0 ||
        std::string_view("-[]{}&*!|>%@`?#\"'").find(rest.front()) != std::string_view::npos) {
      throw SyntaxError(number, "expected KEY: VALUE");
    }
    line.key = std::string(trimmed(rest.substr(0, end)));
    rest.remove_prefix(end);
  }
  rest = trimmed(rest.substr(1));
  if (!rest.empty()) {
    line.value = scalar(rest, number);
  }
  return line;
}

std::vector<Line> significantLines(const std::string& text) {
  std::vector<Line> lines;
  std::istringstream in(text);
  std::string raw;
  for (int number = 1; std::getline(in, raw); ++number) {
    if (!raw.empty() && raw.back() == '\r') {
      raw.pop_back();
    }
    const std::string_view content = trimmed(withoutComment(raw));
    if (content.empty() || (content == "---" && lines.empty() && raw.front() == '-')) {
      continue;
    }
    lines.push_back(
        parseLine(std::string_view(raw).substr(0, raw.find_last_not_of(' ') + 1), number));
  }
  return lines;
}

// The mapping whose keys start at lines[at] with its indentation; `at` is left after it.
Node mappingAt(const std::vector<Line>& lines, std::size_t& at, int line) {
  Node node{.mapping = true, .line = line};
  if (at == lines.size()) {
    return node;
  }
  const std::size_t indent = lines[at].indent;
  while (at < lines.size() && lines[at].indent == indent) {
    const Line& entry = lines[at++];
    const bool taken = std::any_of(node.entries.begin(), node.entries.end(),
                                   [&](const Entry& e) { return e.key == entry.key; });
    if (taken) {
      throw SyntaxError(entry.number, "'" + entry.key + "' is given twice");
    }
    Node value{.line = entry.number};
    if (entry.value) {
      value.scalar = *entry.value;
    } else if (at < lines.size() && lines[at].indent > indent) {
      value = mappingAt(lines, at, entry.number);
    } else {
      value.mapping = true;
    }
    node.entries.push_back({entry.key, std::move(value)});
  }
  if (at < lines.size() && lines[at].indent > indent) {
    throw SyntaxError(lines[at].number, "unexpected indentation");
  }
  return node;
}

class ConfigError : public std::runtime_error {
 public:
  ConfigError(const Node& node, const std::string& what)
      : std::runtime_error("line " + std::to_string(node.line) + ": " + what) {}
};

const std::string& scalarOf(const Node& node, const std::string& key) {
  if (node.mapping) {
    throw ConfigError(node, "'" + key + "' must be a single value");
  }
  return node.scalar;
}

const Node& mappingOf(const Node& node, const std::string& key) {
  if (!node.mapping) {
    throw ConfigError(node, "'" + key + "' must be a mapping of keys to values");
  }
  return node;
}

// "$2y$10$" and 53 characters of bcrypt's base 64, as htpasswd -B writes them.
bool isBcryptHash(std::string_view hash) {
  constexpr std::size_t kLength = 60;
  constexpr std::string_view kAlphabet =
      "./ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  const std::string_view variant = hash.substr(0, 4);
  return hash.size() == kLength && (variant == "$2a$" || variant == "$2b$" || variant == "$2y$") &&
         std::isdigit(static_cast<unsigned char>(hash[4])) != 0 &&
         std::isdigit(static_cast<unsigned char>(hash[5])) != 0 && hash[6] == '$' &&
         hash.substr(7).find_first_not_of(kAlphabet) == std::string_view::npos;
}

std::string inDirectory(const std::string& path, const std::string& directory) {
  if (path.empty() || path.front() == '/' || directory.empty()) {
    return path;
  }
  return directory + "/" + path;
}

template <typename Value, std::size_t N>
Value named(const Node& node, const std::string& key,
            const std::array<std::pair<std::string_view, Value>, N>& names,
            const std::string& refusal) {
  const std::string& text = scalarOf(node, key);
  for (const auto& [name, value] : names) {
    if (name == text) {
      return value;
    }
  }
  throw ConfigError(node, "'" + key + ": " + text + "' " + refusal);
}

TlsSettings tlsSettings(const Node& node, const std::string& directory) {
  using ClientAuth = TlsSettings::ClientAuth;
  using MinVersion = TlsSettings::MinVersion;
  constexpr std::array<std::pair<std::string_view, ClientAuth>, 3> kClientAuth = {{
      {"NoClientCert", ClientAuth::None},
      {"VerifyClientCertIfGiven", ClientAuth::VerifyIfGiven},
      {"RequireAndVerifyClientCert", ClientAuth::Require},
  }};
  constexpr std::array<std::pair<std::string_view, MinVersion>, 2> kVersions = {{
      {"TLS12", MinVersion::Tls12},
      {"TLS13", MinVersion::Tls13},
  }};
  TlsSettings tls;
  for (const auto& [key, value] : mappingOf(node, "tls_server_config").entries) {
    if (key == "cert_file") {
      tls.certFile = inDirectory(scalarOf(value, key), directory);
    } else if (key == "key_file") {
      tls.keyFile = inDirectory(scalarOf(value, key), directory);
    } else if (key == "client_ca_file") {
      tls.clientCaFile = inDirectory(scalarOf(value, key), directory);
    } else if (key == "client_auth_type") {
      tls.clientAuth = named(value, key, kClientAuth,
                             "is not supported (NoClientCert, VerifyClientCertIfGiven or "
                             "RequireAndVerifyClientCert)");
    } else if (key == "min_version") {
      tls.minVersion = named(value, key, kVersions, "is not supported (TLS12 or TLS13)");
    } else {
      throw ConfigError(value, "'tls_server_config: " + key +
                                   "' is not supported (cert_file, key_file, client_auth_type, "
                                   "client_ca_file, min_version)");
    }
  }
  if (tls.certFile.empty() || tls.keyFile.empty()) {
    throw ConfigError(node, "tls_server_config needs both cert_file and key_file");
  }
  if ((tls.clientAuth == ClientAuth::None) != tls.clientCaFile.empty()) {
    throw ConfigError(node, tls.clientCaFile.empty()
                                ? "client_auth_type verifies client certificates: it needs "
                                  "client_ca_file"
                                : "client_ca_file needs a client_auth_type that verifies "
                                  "client certificates");
  }
  return tls;
}

WebConfig webConfig(const Node& root, const std::string& directory) {
  WebConfig config;
  for (const auto& [key, value] : root.entries) {
    if (key == "tls_server_config") {
      config.tls = tlsSettings(value, directory);
    } else if (key == "basic_auth_users") {
      for (const auto& [user, hash] : mappingOf(value, key).entries) {
        if (user.find(':') != std::string::npos) {
          throw ConfigError(hash, "the user name '" + user + "' has a colon");
        }
        if (!isBcryptHash(scalarOf(hash, user))) {
          throw ConfigError(hash, "the password of '" + user +
                                      "' is not a bcrypt hash ($2y$..., as htpasswd -nBC 10 "
                                      "makes it)");
        }
        config.users[user] = hash.scalar;
      }
    } else {
      throw ConfigError(value,
                        "'" + key + "' is not supported (tls_server_config, basic_auth_users)");
    }
  }
  return config;
}

}  // namespace

ReadWebConfig readWebConfig(const std::string& text, const std::string& directory) {
  try {
    const std::vector<Line> lines = significantLines(text);
    std::size_t at = 0;
    const Node root = mappingAt(lines, at, 1);
    if (at < lines.size()) {
      throw SyntaxError(lines[at].number, "unexpected indentation");
    }
    return {webConfig(root, directory), {}};
  } catch (const std::runtime_error& e) {
    return {{}, e.what()};
  }
}

ReadWebConfig loadWebConfig(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  if (!file) {
    return {{}, "cannot read " + path};
  }
  const std::size_t slash = path.rfind('/');
  ReadWebConfig read =
      readWebConfig(text.str(), slash == std::string::npos ? "" : path.substr(0, slash));
  if (!read.error.empty()) {
    read.error = path + ": " + read.error;
  }
  return read;
}

}  // namespace qvr::exporter
