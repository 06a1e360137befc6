// The web configuration file, basic authentication, gzip, the log lines and the process facts:
// the parts of the exporter every Prometheus exporter is expected to have.

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "monitor/fleet.h"
#include "programs/exporter/basic_auth.h"
#include "programs/exporter/gzip.h"
#include "programs/exporter/log.h"
#include "programs/exporter/process_metrics.h"
#include "programs/exporter/web_config.h"

namespace qvr::exporter {
namespace {

using namespace std::chrono_literals;

// Made by `htpasswd -nbBC 4 alice 'wonder land'` and `htpasswd -nbBC 10 bob 's3cret:x'`.
const std::string kAliceHash = "$2y$04$iL/7P5j9.ynUV1P/uNUtf.NVW2JYS09cKhflzyvCv0HxuX8xUmaZO";
const std::string kBobHash = "$2y$10$KQurm67d24nnbbXO4z9M6ehP26zEB3oi02VZrOG9qtQQ9iMW.8Dwi";

std::string base64(const std::string& text) {
  std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                     reinterpret_cast<const unsigned char*>(text.data()),
                                     static_cast<int>(text.size()));
  out.resize(static_cast<std::size_t>(length));
  return out;
}

TEST(WebConfig, ReadsTheExportersFileFormatAndRefusesTheRest) {
  using ClientAuth = TlsSettings::ClientAuth;
  using MinVersion = TlsSettings::MinVersion;
  struct Case {
    std::string text;
    std::string errorPart;  // empty: understood
    WebConfig expected;
  };
  const TlsSettings plainTls{.certFile = "/etc/x/server.crt", .keyFile = "/etc/x/server.key"};
  const Case cases[] = {
      {"", "", {}},
      {"# nothing here\n---\n", "", {}},
      {"tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n", "", {plainTls}},
      {"tls_server_config:\n    cert_file: \"server.crt\"  # quoted\n    key_file: 'server.key'\n"
       "    min_version: TLS13\n",
       "",
       {TlsSettings{.certFile = "/etc/x/server.crt",
                    .keyFile = "/etc/x/server.key",
                    .minVersion = MinVersion::Tls13}}},
      {"tls_server_config:\n  cert_file: /abs/c.pem\n  key_file: k.pem\n"
       "  client_auth_type: RequireAndVerifyClientCert\n  client_ca_file: ca.pem\n",
       "",
       {TlsSettings{.certFile = "/abs/c.pem",
                    .keyFile = "/etc/x/k.pem",
                    .clientAuth = ClientAuth::Require,
                    .clientCaFile = "/etc/x/ca.pem"}}},
      {"basic_auth_users:\r\n  alice: " + kAliceHash + "\r\n  \"bob\": '" + kBobHash + "'\r\n",
       "",
       {{}, {{"alice", kAliceHash}, {"bob", kBobHash}}}},
      {"basic_auth_users:\n", "", {}},
      // What is not understood is refused, with the line.
      {"tls_server_config:\n  cert_file: a\n", "needs both cert_file and key_file"},
      {"tls_server_config:\n  cert_file: a\n  key_file: b\n  max_version: TLS13\n",
       "line 4: 'tls_server_config: max_version' is not supported"},
      {"tls_server_config:\n  cert_file: a\n  key_file: b\n  min_version: TLS11\n",
       "'min_version: TLS11' is not supported (TLS12 or TLS13)"},
      {"tls_server_config:\n  cert_file: a\n  key_file: b\n  client_auth_type: "
       "RequireAnyClientCert\n",
       "is not supported (NoClientCert"},
      {"tls_server_config:\n  cert_file: a\n  key_file: b\n  client_ca_file: ca\n",
       "client_ca_file needs a client_auth_type"},
      {"tls_server_config:\n  cert_file: a\n  key_file: b\n  client_auth_type: "
       "VerifyClientCertIfGiven\n",
       "it needs client_ca_file"},
      {"http_server_config:\n  http2: false\n", "'http_server_config' is not supported"},
      {"basic_auth_users:\n  alice: secret\n", "not a bcrypt hash"},
      {"basic_auth_users:\n  alice: " + kAliceHash.substr(0, 59) + "\n", "not a bcrypt hash"},
      {"basic_auth_users:\n  alice: $1$" + kAliceHash.substr(3) + "\n", "not a bcrypt hash"},
      {"basic_auth_users:\n  a:b: " + kAliceHash + "\n", "has a colon"},
      {"basic_auth_users:\n  alice: " + kAliceHash + "\n  alice: " + kBobHash + "\n",
       "line 3: 'alice' is given twice"},
      {"basic_auth_users: {alice: x}\n", "only plain or quoted values"},
      {"basic_auth_users:\n  alice: &anchor x\n", "only plain or quoted values"},
      {"basic_auth_users: |\n  x\n", "only plain or quoted values"},
      {"- tls_server_config\n", "expected KEY: VALUE"},
      {"tls_server_config:\n  cert_file: a\n    key_file: b\n", "line 3: unexpected indentation"},
      {"tls_server_config:\n\tcert_file: a\n", "a tab in the indentation"},
      {"tls_server_config: yes\n", "must be a mapping"},
      {"tls_server_config:\n  cert_file:\n    x: y\n  key_file: b\n", "must be a single value"},
      {"basic_auth_users:\n  alice: \"" + kAliceHash + "\n", "a quote is not closed"},
      {"basic_auth_users:\n  alice: \"\\t\"\n", "only \\\" and \\\\ are understood"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const ReadWebConfig read = readWebConfig(c.text, "/etc/x");
    if (c.errorPart.empty()) {
      EXPECT_EQ(read.error, "");
      EXPECT_EQ(read.config, c.expected);
    } else {
      EXPECT_NE(read.error.find(c.errorPart), std::string::npos) << read.error;
    }
  }
  EXPECT_EQ(loadWebConfig("/nonexistent/web.yml").error, "cannot read /nonexistent/web.yml");
}

TEST(BasicAuth, LetsInOnlyAKnownUserWithTheirPassword) {
  BasicAuth auth({{"alice", kAliceHash}, {"carol", "$2b$" + kAliceHash.substr(4)}});
  const struct {
    std::string header;
    bool allowed;
  } cases[] = {
      {"Basic " + base64("alice:wonder land"), true},
      {"basic " + base64("alice:wonder land"), true},
      {"Basic " + base64("carol:wonder land"), true},  // a $2b$ hash
      {"Basic " + base64("alice:wonder lan"), false},
      {"Basic " + base64("alice:wonder land "), false},
      {"Basic " + base64("Alice:wonder land"), false},
      {"Basic " + base64("mallory:wonder land"), false},
      {"Basic " + base64("alicewonder land"), false},
      {"Bearer " + base64("alice:wonder land"), false},
      {"Basic " + base64("alice:wonder land").substr(1), false},
      {"Basic !!!!", false},
      {"Basic ", false},
      {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(auth.allows(c.header), c.allowed) << c.header;
  }
}

// bcrypt at cost 10 takes tens of milliseconds: a scrape a second must pay it once, not every
// time, with the right password or a wrong one, and a wrong password must not ride on the
// remembered right one.
TEST(BasicAuth, RemembersWhatItChecked) {
  BasicAuth auth({{"bob", kBobHash}});
  const std::string right = "Basic " + base64("bob:s3cret:x");
  const auto first = std::chrono::steady_clock::now();
  ASSERT_TRUE(auth.allows(right));
  const auto bcrypt = std::chrono::steady_clock::now() - first;
  const auto again = std::chrono::steady_clock::now();
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(auth.allows(right));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - again, bcrypt);
  const std::string wrong = "Basic " + base64("bob:s3cret:y");
  EXPECT_FALSE(auth.allows(wrong));
  const auto refused = std::chrono::steady_clock::now();
  for (int i = 0; i < 100; ++i) {
    ASSERT_FALSE(auth.allows(wrong));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - refused, bcrypt);
  EXPECT_TRUE(auth.allows(right));
}

TEST(BasicAuth, Base64DecodesWhatEncodingMade) {
  std::mt19937 random(7);
  for (int length = 0; length < 64; ++length) {
    std::string bytes(static_cast<std::size_t>(length), '\0');
    for (char& c : bytes) {
      c = static_cast<char>(random());
    }
    EXPECT_EQ(base64Decoded(base64(bytes)), bytes) << length;
  }
  for (const char* bad : {"A", "AB=C", "A===", "AB\nC", "QUJD=", "Q-=="}) {
    EXPECT_EQ(base64Decoded(bad), std::nullopt) << bad;
  }
}

std::string gunzipped(const std::string& data) {
  z_stream stream{};
  EXPECT_EQ(inflateInit2(&stream, 15 + 16), Z_OK);
  std::string out;
  char buffer[4096];
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    result = inflate(&stream, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - stream.avail_out);
  }
  inflateEnd(&stream);
  EXPECT_EQ(result, Z_STREAM_END);
  return out;
}

TEST(Gzip, RoundTripsAnyText) {
  std::mt19937 random(11);
  for (const std::size_t length : {0, 1, 100, 65536, 300000}) {
    std::string text(length, '\0');
    // Metrics-like text (compressible) and noise (not) alike.
    for (std::size_t i = 0; i < length; ++i) {
      text[i] = length % 2 == 0 ? "qvr7130_up 1\n"[i % 13] : static_cast<char>(random());
    }
    const std::string packed = gzipped(text);
    EXPECT_EQ(gunzipped(packed), text) << length;
    if (length == 300000) {
      EXPECT_LT(packed.size(), text.size() / 10);
    }
  }
}

TEST(Gzip, FollowsAcceptEncoding) {
  const std::pair<const char*, bool> cases[] = {
      {"gzip", true},
      {"GZIP", true},
      {"deflate, gzip;q=0.5", true},
      {"*", true},
      {" gzip ; q=1 ", true},
      {"gzip;q=0", false},
      {"gzip; q=0.000", false},
      {"identity", false},
      {"", false},
      {"x-gzip", false},
      {"*;q=0", false},
      {"br,deflate", false},
  };
  for (const auto& [header, accepted] : cases) {
    EXPECT_EQ(acceptsGzip(header), accepted) << header;
  }
}

TEST(Log, WritesOneLineInEitherFormat) {
  const auto at = std::chrono::system_clock::time_point(1796820479123ms);
  const LogFields fields = {{"serial", "QVR000001"}, {"err", "No such \"file\"\n"}, {"e", ""}};
  EXPECT_EQ(logLine(LogFormat::Logfmt, at, LogLevel::Warn, "device unplugged", fields),
            "time=2026-12-09T12:47:59.123Z level=warn msg=\"device unplugged\" serial=QVR000001 "
            "err=\"No such \\\"file\\\"\\n\" e=\"\"");
  EXPECT_EQ(logLine(LogFormat::Json, at, LogLevel::Debug, "a=b", {{"k", "\x01"}}),
            R"({"time":"2026-12-09T12:47:59.123Z","level":"debug","msg":"a=b","k":"\u0001"})");
  std::ostringstream out;
  Logger log(out, LogLevel::Warn, LogFormat::Logfmt);
  log.log(LogLevel::Info, "hidden");
  log.log(LogLevel::Error, "shown");
  EXPECT_EQ(out.str().find("hidden"), std::string::npos);
  EXPECT_NE(out.str().find("level=error msg=shown\n"), std::string::npos);
  EXPECT_EQ(logLevelNamed("warn"), LogLevel::Warn);
  EXPECT_EQ(logLevelNamed("WARN"), std::nullopt);
  EXPECT_EQ(logFormatNamed("json"), LogFormat::Json);
}

TEST(ProcessMetrics, ReadsProcStat) {
  // A command with a space and a parenthesis cannot shift the fields.
  const std::string line =
      "42 (a b) c) S 1 42 42 0 -1 4194304 2829 6525 0 0 150 50 9 15 20 0 1 0 2000 16965632 3345 "
      "18446744073709551615 0 0\n";
  const auto stat = parseProcStat(line, 1.7e9, 100, 4096);
  ASSERT_TRUE(stat.has_value());
  EXPECT_DOUBLE_EQ(stat->cpuSeconds, 2.0);
  EXPECT_DOUBLE_EQ(stat->startTimeSeconds, 1.7e9 + 20.0);
  EXPECT_DOUBLE_EQ(stat->virtualBytes, 16965632.0);
  EXPECT_DOUBLE_EQ(stat->residentBytes, 3345.0 * 4096);
  for (const std::string bad : {"", "42 (x S 1", "42 (x) S 1 2 3",
                                "42 (x) S 1 2 3 4 5 6 7 8 9 "
                                "10 11 12 x 14 15 16 17 18 19 "
                                "20 21 22"}) {
    EXPECT_EQ(parseProcStat(bad, 0, 100, 4096), std::nullopt) << bad;
  }
  EXPECT_EQ(parseBootTime("cpu 1 2\nbtime 1796000000\nprocesses 9\n"), 1796000000.0);
  EXPECT_EQ(parseBootTime("cpu 1 2\n"), std::nullopt);

  // This very process: started before now, some memory, stdin among its files.
  const auto own = ownProcessFacts();
  ASSERT_TRUE(own.has_value());
  const double now =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_LE(own->startTimeSeconds, now + 1);
  EXPECT_GT(own->startTimeSeconds, now - 3600);
  EXPECT_GT(own->residentBytes, 0);
  EXPECT_GE(own->virtualBytes, own->residentBytes);
  EXPECT_GE(own->openFds, 3);
  EXPECT_GE(own->maxFds, own->openFds);
}

TEST(DeviceEvents, FollowEachChangeOfState) {
  using monitor::DeviceEvent;
  using enum DeviceEvent;
  struct State {
    bool present, answering, up;
  };
  const struct {
    State before, after;
    std::vector<DeviceEvent> events;
  } cases[] = {
      {{false, false, false}, {true, true, true}, {Found, Configured}},
      {{false, false, false}, {true, true, false}, {Found}},
      {{true, true, false}, {true, true, true}, {Configured}},
      {{true, true, true}, {true, false, false}, {NotAnswering}},
      {{true, false, false}, {true, true, true}, {AnsweringAgain, Configured}},
      {{true, true, true}, {false, true, false}, {Unplugged}},
      {{true, false, false}, {false, false, false}, {Unplugged}},
      {{true, true, true}, {true, true, true}, {}},
      {{false, false, false}, {false, false, false}, {}},
  };
  for (const auto& c : cases) {
    monitor::DeviceSnapshot before;
    before.present = c.before.present;
    before.answering = c.before.answering;
    before.up = c.before.up;
    monitor::DeviceSnapshot after;
    after.present = c.after.present;
    after.answering = c.after.answering;
    after.up = c.after.up;
    EXPECT_EQ(monitor::deviceEvents(before, after), c.events);
  }
}

}  // namespace
}  // namespace qvr::exporter
