#pragma once

#include <string>

namespace qvr::diagnostics {

// The maker's web host is not settled yet: every address on it lives here, on a host of the
// reserved .example domain, so that moving to the real one is a change in this file only.
inline constexpr const char* kMakerSiteAddress = "https://www.qvr-instruments.example/";
inline constexpr const char* kSoftwareDownloadAddress =
    "https://www.qvr-instruments.example/download/";
inline constexpr const char* kDiagnosticsPageAddress =
    "https://www.qvr-instruments.example/diagnostics/7130/diag.php";

inline constexpr const char* kMapSearchAddress = "https://www.google.com/maps/search/?api=1&query=";

// The map search for a position: each coordinate in the default text form of a double, with
// any decimal comma turned into a point so the address reads the same in every locale.
[[nodiscard]] std::string mapSearchAddress(double latitude, double longitude,
                                           char decimalSeparator);

}  // namespace qvr::diagnostics
