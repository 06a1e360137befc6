#pragma once

#include <string>
#include <string_view>

namespace qvr::exporter {

// `data` in the gzip format (RFC 1952), as an HTTP answer with "Content-Encoding: gzip" carries
// it.
[[nodiscard]] std::string gzipped(std::string_view data);

// True when an Accept-Encoding header's value takes gzip: "gzip" or "*" listed without q=0.
[[nodiscard]] bool acceptsGzip(std::string_view acceptEncoding);

}  // namespace qvr::exporter
