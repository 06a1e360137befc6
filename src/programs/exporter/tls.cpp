#include "programs/exporter/tls.h"

#include <openssl/err.h>

#include <cstring>
#include <stdexcept>
#include <string>

namespace qvr::exporter {
namespace {

// The reasons OpenSSL gave, oldest first ("No such file or directory: system lib"), taken from
// its queue.
std::string openSslReason() {
  std::string reasons;
  while (const unsigned long error = ERR_get_error()) {
    const char* reason = ERR_SYSTEM_ERROR(error) ? std::strerror(ERR_GET_REASON(error))
                                                 : ERR_reason_error_string(error);
    if (reason != nullptr && reasons.find(reason) == std::string::npos) {
      reasons += (reasons.empty() ? "" : ": ") + std::string(reason);
    }
  }
  return reasons.empty() ? "unknown error" : reasons;
}

}  // namespace

TlsContext::TlsContext(const TlsSettings& settings) : context_(SSL_CTX_new(TLS_server_method())) {
  SSL_CTX* context = context_.get();
  const auto fail = [](const std::string& what) {
    throw std::runtime_error(what + ": " + openSslReason());
  };
  if (context == nullptr) {
    fail("TLS");
  }
  SSL_CTX_set_min_proto_version(context, settings.minVersion == TlsSettings::MinVersion::Tls13
                                             ? TLS1_3_VERSION
                                             : TLS1_2_VERSION);
  // The server thread writes an answer as far as the socket takes it and comes back later for
  // the rest, from the same buffer.
  SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // Each connection carries one request: a session to resume would never be used.
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
  SSL_CTX_set_num_tickets(context, 0);
  if (SSL_CTX_use_certificate_chain_file(context, settings.certFile.c_str()) != 1) {
    fail("cert_file " + settings.certFile);
  }
  if (SSL_CTX_use_PrivateKey_file(context, settings.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    fail("key_file " + settings.keyFile);
  }
  if (SSL_CTX_check_private_key(context) != 1) {
    fail("key_file " + settings.keyFile + " does not belong to cert_file " + settings.certFile);
  }
  if (settings.clientAuth != TlsSettings::ClientAuth::None) {
    if (SSL_CTX_load_verify_locations(context, settings.clientCaFile.c_str(), nullptr) != 1) {
      fail("client_ca_file " + settings.clientCaFile);
    }
    SSL_CTX_set_verify(context,
                       settings.clientAuth == TlsSettings::ClientAuth::Require
                           ? SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT
                           : SSL_VERIFY_PEER,
                       nullptr);
  }
}

}  // namespace qvr::exporter
