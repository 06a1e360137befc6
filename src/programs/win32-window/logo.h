#pragma once

namespace qvr::platform::win32 {

// The maker's logo, drawn to fill width x height pixels of the device context (an HDC; void*
// keeps windows.h out of this header): a navy plate with the name, a tag line and a small
// satellite sending its signal down.
void drawLogo(void* dc, int width, int height);

}  // namespace qvr::platform::win32
