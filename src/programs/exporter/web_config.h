#pragma once

#include <map>
#include <optional>
#include <string>

namespace qvr::exporter {

// The TLS part of a web configuration file, with its paths as the file gives them.
struct TlsSettings {
  enum class ClientAuth { None, VerifyIfGiven, Require };
  enum class MinVersion { Tls12, Tls13 };
  std::string certFile;
  std::string keyFile;
  ClientAuth clientAuth = ClientAuth::None;
  std::string clientCaFile;  // empty unless client certificates are verified
  MinVersion minVersion = MinVersion::Tls12;

  friend bool operator==(const TlsSettings&, const TlsSettings&) = default;
};

// What --web.config.file asks for, in the file format every Prometheus exporter reads: TLS with
// a certificate and key, and users who must give a password (a bcrypt hash each).
struct WebConfig {
  std::optional<TlsSettings> tls;
  std::map<std::string, std::string> users;  // name: bcrypt hash

  friend bool operator==(const WebConfig&, const WebConfig&) = default;
};

struct ReadWebConfig {
  WebConfig config;
  std::string error;  // empty when the file was understood
};

// Reads the file's text. Only the block mappings of plain or quoted scalars these files are
// written in are understood, and only the keys this exporter acts on: anything else is an error,
// since a setting silently ignored (a cipher list, a client certificate rule) would leave the
// server less protected than its administrator believes. Relative paths are taken from
// `directory`, the folder the file is in, as the other exporters take them.
[[nodiscard]] ReadWebConfig readWebConfig(const std::string& text, const std::string& directory);

// Reads the file at `path`.
[[nodiscard]] ReadWebConfig loadWebConfig(const std::string& path);

}  // namespace qvr::exporter
