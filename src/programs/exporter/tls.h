#pragma once

#include <openssl/ssl.h>

#include <memory>

#include "programs/exporter/web_config.h"

namespace qvr::exporter {

// The server side of TLS as the web configuration sets it up: certificate chain and key read
// once at start, the oldest version allowed, client certificates checked against a CA when
// asked for.
class TlsContext {
 public:
  // Throws std::runtime_error naming the file and OpenSSL's reason when a file cannot be used.
  explicit TlsContext(const TlsSettings& settings);

  [[nodiscard]] SSL_CTX* get() const { return context_.get(); }

 private:
  struct Free {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
  };
  std::unique_ptr<SSL_CTX, Free> context_;
};

}  // namespace qvr::exporter
