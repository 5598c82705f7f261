#pragma once
// Draws the banner with cairo into a premultiplied ARGB image, with a
// sans-serif semibold font that fontconfig picks.
#include "banner/banner_layout.h"

#include <cairo.h>

#include <memory>
#include <string>

namespace dravnok::banner::x11 {

struct CairoSurfaceDeleter {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct CairoDeleter {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
struct CairoFontFaceDeleter {
  void operator()(cairo_font_face_t* face) const { cairo_font_face_destroy(face); }
};
using CairoSurface = std::unique_ptr<cairo_surface_t, CairoSurfaceDeleter>;
using Cairo = std::unique_ptr<cairo_t, CairoDeleter>;
using CairoFontFace = std::unique_ptr<cairo_font_face_t, CairoFontFaceDeleter>;

// Font pixel size: points at the usual 96 dots per inch.
inline constexpr double kFontPixels = kFontPoints * 96.0 / 72.0;

class BannerFont {
public:
  BannerFont();
  // Selects the font, its size and grey-scale anti-aliasing on `cr`.
  void apply(cairo_t* cr) const;
  // The advance width of one line of `utf8`, unwrapped.
  double measure(const std::string& utf8) const;

private:
  // Empty when fontconfig found nothing; cairo's own default is used then.
  CairoFontFace face_;
};

struct RenderedBanner {
  BannerLayout layout;
  CairoSurface image; // CAIRO_FORMAT_ARGB32, layout.width x layout.height
};

// The text is shortened to at most `maxTextWidth` pixels (fitBannerText).
RenderedBanner renderBanner(const std::u16string& text, int maxTextWidth);

// Adds the rounded box as one closed sub-path.
void addRoundedBox(cairo_t* cr, const RoundedBox& shape);

} // namespace dravnok::banner::x11
