// The unit the window and the web page window are laid out and drawn in.
#pragma once

namespace zb {

// A twip is a twentieth of a typographic point; at the layout's 96 dots per inch there
// are 15 to the pixel.
inline constexpr int kTwipsPerPixel = 15;

}  // namespace zb
