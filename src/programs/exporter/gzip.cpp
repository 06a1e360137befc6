#include "programs/exporter/gzip.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace qvr::exporter {
namespace {

// zlib's window bits plus this: a gzip header and trailer rather than zlib's.
constexpr int kGzipWrapper = 16;
constexpr int kWindowBits = 15;
constexpr int kMemoryLevel = 8;

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

std::string lowered(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

// "q=0", "q=0.0", "q=0.000": the coding is refused.
bool refused(std::string_view parameters) {
  const std::string lower = lowered(parameters);
  const std::size_t q = lower.find("q=");
  if (q == std::string::npos) {
    return false;
  }
  const std::string_view value = trimmed(std::string_view(lower).substr(q + 2));
  return !value.empty() && value.find_first_not_of("0.") == std::string_view::npos;
}

}  // namespace

std::string gzipped(std::string_view data) {
  z_stream stream{};
  // The default level: the metrics text shrinks some tenfold, level 9 saves little more.
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kWindowBits + kGzipWrapper,
                   kMemoryLevel, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("zlib cannot start compressing");
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
  // zlib's interface takes no const, though it only reads the input.
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) {
    throw std::runtime_error("zlib could not compress the answer");
  }
  return out;
}

bool acceptsGzip(std::string_view acceptEncoding) {
  while (!acceptEncoding.empty()) {
    const std::size_t comma = acceptEncoding.find(',');
    const std::string_view item = acceptEncoding.substr(0, comma);
    acceptEncoding.remove_prefix(comma == std::string_view::npos ? acceptEncoding.size()
                                                                 : comma + 1);
    const std::size_t semicolon = item.find(';');
    const std::string coding = lowered(trimmed(item.substr(0, semicolon)));
    if ((coding == "gzip" || coding == "*") &&
        !(semicolon != std::string_view::npos && refused(item.substr(semicolon + 1)))) {
      return true;
    }
  }
  return false;
}

}  // namespace qvr::exporter
