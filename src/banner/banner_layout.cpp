#include "banner/banner_layout.h"

#include "common/utf.h"

#include <algorithm>

namespace dravnok::banner {
namespace {

constexpr double kCardLeft = 22;
constexpr double kCardTop = 22;
constexpr double kCardHeight = 40;
constexpr double kCardRadius = 20;
// Everything but the text: card margins, dot and padding.
constexpr int kCardExtra = 58;
constexpr int kBitmapExtra = 102;
constexpr int kBitmapHeight = 89;
// The shadow is the card grown by g on each side, moved down by this much.
constexpr double kShadowDrop = 5;
constexpr int kMaxSurfaceSide = 32767;
constexpr std::u16string_view kNameEnd = u" \u2014 ";

} // namespace

Argb argbOf(uint32_t colour) {
  auto channel = [colour](int shift) { return static_cast<double>((colour >> shift) & 0xFF) / 255.0; };
  return {channel(24), channel(16), channel(8), channel(0)};
}

int roundedTextWidth(double measured) {
  if (!(measured > 0)) return 0; // nothing measured (or NaN): no room for text
  return static_cast<int>(measured + 0.5);
}

BannerLayout layoutFor(int textWidth) {
  BannerLayout layout{};
  layout.textWidth = textWidth;
  layout.width = textWidth + kBitmapExtra;
  layout.height = kBitmapHeight;
  const double cardWidth = textWidth + kCardExtra;
  for (int i = 0; i < kShadowLayers; ++i) {
    const double g = kShadowLayers - i;
    layout.shadow[i] = {{kCardLeft - g, kCardTop + kShadowDrop - g, cardWidth + 2 * g, kCardHeight + 2 * g},
                        kCardRadius + g};
  }
  layout.card = {{kCardLeft, kCardTop, cardWidth, kCardHeight}, kCardRadius};
  layout.halo = {36, 33.5, 17, 17};
  layout.dot = {40, 37.5, 9, 9};
  layout.textBox = {60, kCardTop, cardWidth, kCardHeight};
  return layout;
}

std::array<CornerArc, 4> roundedBoxArcs(const RoundedBox& shape) {
  const Box& b = shape.box;
  const double d = 2 * shape.radius;
  return {{
      {{b.x, b.y, d, d}, 180, 90},
      {{b.x + b.width - d, b.y, d, d}, 270, 90},
      {{b.x + b.width - d, b.y + b.height - d, d, d}, 0, 90},
      {{b.x, b.y + b.height - d, d, d}, 90, 90},
  }};
}

Point bannerOrigin(const WorkArea& area, int bannerWidth) {
  return {area.left + (area.right - bannerWidth - area.left) / 2, area.bottom - kBottomOffset};
}

std::u16string bannerTextFor(std::string_view viewerName) {
  if (viewerName.empty()) return u"Remote support session in progress";
  return utf8ToUtf16(viewerName) + u" \u2014 remote support session";
}

int maxTextWidthFor(int areaWidth) { return std::max(0, std::min(areaWidth, kMaxSurfaceSide) - kBitmapExtra); }

std::u16string fitBannerText(std::u16string_view text, int maxWidth,
                             const std::function<double(std::u16string_view)>& measure) {
  auto fits = [&](std::u16string_view candidate) { return roundedTextWidth(measure(candidate)) <= maxWidth; };
  if (fits(text)) return std::u16string(text);
  const std::u16string_view name = text.substr(0, std::min(text.rfind(kNameEnd), text.size()));
  const std::u16string_view rest = text.substr(name.size());
  auto shortened = [&](size_t keep) {
    if (keep > 0 && keep < name.size() && (name[keep - 1] & 0xFC00) == 0xD800) --keep; // not half a pair
    return std::u16string(name.substr(0, keep)) + u"\u2026" + std::u16string(rest);
  };
  // The widest cut that fits, by halving: all of the name does not fit, and
  // the text only grows with the characters kept.
  size_t fitting = 0, tooWide = name.size();
  while (tooWide - fitting > 1) {
    const size_t middle = fitting + (tooWide - fitting) / 2;
    (fits(shortened(middle)) ? fitting : tooWide) = middle;
  }
  return shortened(fitting);
}

} // namespace dravnok::banner
