#include "banner/x11/banner_painter.h"

#include "common/utf.h"

#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>

#include <numbers>

namespace dravnok::banner::x11 {
namespace {

struct FcPatternDeleter {
  void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using FcPatternPtr = std::unique_ptr<FcPattern, FcPatternDeleter>;

CairoFontFace findSemiboldSans() {
  FcPatternPtr wanted(FcPatternCreate());
  if (!wanted) return {};
  FcPatternAddString(wanted.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>("sans-serif"));
  FcPatternAddInteger(wanted.get(), FC_WEIGHT, FC_WEIGHT_SEMIBOLD);
  FcPatternAddDouble(wanted.get(), FC_PIXEL_SIZE, kFontPixels);
  FcConfigSubstitute(nullptr, wanted.get(), FcMatchPattern);
  FcDefaultSubstitute(wanted.get());
  FcResult result = FcResultNoMatch;
  FcPatternPtr match(FcFontMatch(nullptr, wanted.get(), &result));
  if (!match) return {};
  // The face keeps its own reference to the pattern.
  CairoFontFace face(cairo_ft_font_face_create_for_pattern(match.get()));
  if (cairo_font_face_status(face.get()) != CAIRO_STATUS_SUCCESS) return {};
  return face;
}

void setColour(cairo_t* cr, uint32_t colour) {
  Argb c = argbOf(colour);
  cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a);
}

void addEllipse(cairo_t* cr, const Box& box) {
  cairo_save(cr);
  cairo_translate(cr, box.x + box.width / 2, box.y + box.height / 2);
  cairo_scale(cr, box.width / 2, box.height / 2);
  cairo_new_sub_path(cr);
  cairo_arc(cr, 0, 0, 1, 0, 2 * std::numbers::pi);
  cairo_close_path(cr);
  cairo_restore(cr);
}

double radians(double degrees) { return degrees * std::numbers::pi / 180.0; }

} // namespace

BannerFont::BannerFont() : face_(findSemiboldSans()) {}

void BannerFont::apply(cairo_t* cr) const {
  if (face_) {
    cairo_set_font_face(cr, face_.get());
  } else {
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  }
  cairo_set_font_size(cr, kFontPixels);
  // Sub-pixel colour fringes would show through the banner's transparency.
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_set_font_options(cr, options);
  cairo_font_options_destroy(options);
}

double BannerFont::measure(const std::string& utf8) const {
  CairoSurface probe(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1));
  Cairo cr(cairo_create(probe.get()));
  apply(cr.get());
  cairo_text_extents_t extents{};
  cairo_text_extents(cr.get(), utf8.c_str(), &extents);
  return extents.x_advance;
}

void addRoundedBox(cairo_t* cr, const RoundedBox& shape) {
  cairo_new_sub_path(cr);
  for (const CornerArc& arc : roundedBoxArcs(shape)) {
    const double r = arc.bounds.width / 2;
    const double start = radians(arc.startDegrees);
    cairo_arc(cr, arc.bounds.x + r, arc.bounds.y + r, r, start, start + radians(arc.sweepDegrees));
  }
  cairo_close_path(cr);
}

RenderedBanner renderBanner(const std::u16string& text, int maxTextWidth) {
  BannerFont font;
  const std::string utf8 = utf16ToUtf8(
      fitBannerText(text, maxTextWidth, [&](std::u16string_view part) { return font.measure(utf16ToUtf8(part)); }));
  RenderedBanner out{layoutFor(roundedTextWidth(font.measure(utf8))), nullptr};
  const BannerLayout& layout = out.layout;
  // A new image surface is cleared to transparent.
  out.image.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, layout.width, layout.height));
  Cairo cr(cairo_create(out.image.get()));
  cairo_t* g = cr.get();
  cairo_set_antialias(g, CAIRO_ANTIALIAS_GRAY);

  // The layers overlap, so the shadow darkens towards the card.
  for (const RoundedBox& layer : layout.shadow) {
    addRoundedBox(g, layer);
    setColour(g, kShadowLayer);
    cairo_fill(g);
  }
  addRoundedBox(g, layout.card);
  setColour(g, kCardFill);
  cairo_fill_preserve(g);
  setColour(g, kCardOutline);
  cairo_set_line_width(g, 1.0);
  cairo_stroke(g);
  addEllipse(g, layout.halo);
  setColour(g, kHaloColour);
  cairo_fill(g);
  addEllipse(g, layout.dot);
  setColour(g, kDotColour);
  cairo_fill(g);

  const Box& box = layout.textBox;
  cairo_rectangle(g, box.x, box.y, box.width, box.height);
  cairo_clip(g);
  font.apply(g);
  cairo_font_extents_t extents{};
  cairo_font_extents(g, &extents);
  const double lineHeight = extents.ascent + extents.descent;
  cairo_move_to(g, box.x, box.y + (box.height - lineHeight) / 2 + extents.ascent);
  setColour(g, kTextColour);
  cairo_show_text(g, utf8.c_str());
  cr.reset();
  cairo_surface_flush(out.image.get());
  return out;
}

} // namespace dravnok::banner::x11
