#pragma once

namespace qvr::ui {

// The maker's web host is not settled yet: every address on it lives here, on a host of the
// reserved .example domain, so that moving to the real one is a change in this file only.
inline constexpr const char* kSoftwareDownloadAddress =
    "https://www.qvr-instruments.example/download/";

}  // namespace qvr::ui
