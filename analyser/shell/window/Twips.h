// Window layouts are tables of positions in twips (1/1440 inch); they become
// pixels at the screen's logical DPI so that the windows look the same at any
// scale.
#pragma once

#include <QRect>
#include <algorithm>
#include <cmath>

namespace ketch {

inline int TwipsToPx(int twips, int dpi) {
  return static_cast<int>(std::lround(twips * static_cast<double>(dpi) / 1440.0));
}

inline int PxToTwips(int px, int dpi) {
  return static_cast<int>(std::lround(px * 1440.0 / static_cast<double>(dpi)));
}

struct TwipsRect {
  int Left, Top, Width, Height;
};

inline QRect ToPx(const TwipsRect& r, int dpi) {
  return QRect(TwipsToPx(r.Left, dpi), TwipsToPx(r.Top, dpi), TwipsToPx(r.Width, dpi),
               TwipsToPx(r.Height, dpi));
}

// Where the log box goes when the client area is clientWidth by clientHeight
// twips and the log folder box ends at logPathBottom: 100 below that box, 5
// from the left, the client's full width, and never lower than 400.
inline TwipsRect LogBoxPlace(int clientWidth, int clientHeight, int logPathBottom) {
  return {5, logPathBottom + 100, clientWidth, std::max(clientHeight - logPathBottom - 100, 400)};
}

}  // namespace ketch
