#pragma once
// Geometry and colours of the session banner: a dark pill-shaped card with a
// soft shadow, a blue status dot and one line of text, at the bottom centre of
// the work area. Both window implementations draw from these figures.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace dravnok::banner {

// Colours are 0xAARRGGBB, not premultiplied.
inline constexpr uint32_t kCardFill = 0xF3181A20;
inline constexpr uint32_t kCardOutline = 0x1EFFFFFF;
inline constexpr uint32_t kShadowLayer = 0x06000000;
inline constexpr uint32_t kHaloColour = 0x464C9AF5;
inline constexpr uint32_t kDotColour = 0xFF4C9AF5;
inline constexpr uint32_t kTextColour = 0xF3F0F1F6;

inline constexpr double kFontPoints = 11.0;
inline constexpr int kShadowLayers = 22;
// The banner's top edge sits this far above the work area's bottom.
inline constexpr int kBottomOffset = 78;
inline constexpr int kTimerPeriodMs = 2000;

struct Argb {
  double a, r, g, b; // each 0..1
};
Argb argbOf(uint32_t colour);

struct Box {
  double x, y, width, height;
};

struct RoundedBox {
  Box box;
  double radius;
};

// The rendered banner for a text whose measured width rounds to `textWidth`.
struct BannerLayout {
  int textWidth;
  int width;  // of the whole bitmap
  int height; // of the whole bitmap
  // Drawn first, from the widest layer to the narrowest.
  std::array<RoundedBox, kShadowLayers> shadow;
  RoundedBox card;
  Box halo;
  Box dot;
  Box textBox; // left-aligned, centred vertically, no wrapping
};

// Rounds a measured text width the way the renderer does (+0.5, truncated).
int roundedTextWidth(double measured);

BannerLayout layoutFor(int textWidth);

// One corner arc of a rounded rectangle, as the bounding box of its full
// ellipse plus start and sweep angles in degrees (clockwise on screen).
struct CornerArc {
  Box bounds;
  double startDegrees;
  double sweepDegrees;
};
// The four corner arcs, in path order: top-left, top-right, bottom-right,
// bottom-left; closing the figure joins them with straight edges.
std::array<CornerArc, 4> roundedBoxArcs(const RoundedBox& shape);

struct WorkArea {
  int left, top, right, bottom;
};
struct Point {
  int x, y;
};
// Where the banner's top-left corner goes: centred horizontally in the work
// area, its top edge kBottomOffset above the work area's bottom.
Point bannerOrigin(const WorkArea& area, int bannerWidth);

// The banner text for a viewer: their name followed by " — remote support
// session", or a general text when no name is known.
std::u16string bannerTextFor(std::string_view viewerName);

// The widest text that a banner on a work area this wide may carry: the
// banner must fit the area, and picture surfaces and X windows end at
// 32767 pixels.
int maxTextWidthFor(int areaWidth);

// `text` shortened until `measure` finds it no wider than `maxWidth`: the
// viewer's name (what comes before " — ", or the whole text) loses
// characters from its end and ends in an ellipsis, and the rest stays whole.
// A name too long must never cost the banner.
std::u16string fitBannerText(std::u16string_view text, int maxWidth,
                             const std::function<double(std::u16string_view)>& measure);

} // namespace dravnok::banner
