#pragma once

#include <QPixmap>

namespace qvr::platform::qt {

// The picture shown in the window's logo image, drawn at start so that the program needs no
// files beside it. It fills `size` (the image control's size in pixels).
[[nodiscard]] QPixmap drawLogo(QSize size);

}  // namespace qvr::platform::qt
