#include "banner/banner_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <tuple>

using namespace dravnok::banner;

namespace {

struct Xy {
  double x, y;
};

Xy pointOnArc(const CornerArc& arc, double degrees) {
  const double r = arc.bounds.width / 2;
  const double a = degrees * std::numbers::pi / 180;
  return {arc.bounds.x + r + r * std::cos(a), arc.bounds.y + r + r * std::sin(a)};
}

} // namespace

TEST(BannerLayout, WidthFollowsTheTextEverythingFitsTheBitmapAndCornersJoin) {
  for (int textWidth : {0, 37, 250, 1900}) {
    BannerLayout layout = layoutFor(textWidth);
    EXPECT_EQ(layout.width, textWidth + 102);
    EXPECT_EQ(layout.card.box.width, textWidth + 58);
    // The text sits between the dot and the card's right end.
    EXPECT_GE(layout.textBox.x, layout.dot.x + layout.dot.width);
    EXPECT_LE(layout.textBox.x + textWidth, layout.card.box.x + layout.card.box.width);
    // The widest shadow layer touches the bitmap's left, right and bottom
    // edges and nothing is cut off.
    const RoundedBox& outer = layout.shadow.front();
    EXPECT_EQ(outer.box.x, 0);
    EXPECT_EQ(outer.box.x + outer.box.width, layout.width);
    EXPECT_EQ(outer.box.y + outer.box.height, layout.height);
    for (const RoundedBox& layer : layout.shadow) {
      EXPECT_GE(layer.box.y, 0);
      // Each layer stays a pill: its radius is half its height.
      EXPECT_EQ(layer.radius * 2, layer.box.height);
    }
  }
  // A failed measurement leaves no room for text rather than a negative one.
  EXPECT_EQ(roundedTextWidth(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(roundedTextWidth(0.5), 1);

  // Corner arcs run clockwise and join with straight edges.
  RoundedBox shape{{22, 22, 158, 40}, 20};
  auto arcs = roundedBoxArcs(shape);
  for (size_t i = 0; i < arcs.size(); ++i) {
    const CornerArc& arc = arcs[i];
    const CornerArc& next = arcs[(i + 1) % arcs.size()];
    Xy end = pointOnArc(arc, arc.startDegrees + arc.sweepDegrees);
    Xy start = pointOnArc(next, next.startDegrees);
    // The closing straight edge is horizontal or vertical.
    EXPECT_TRUE(std::abs(end.x - start.x) < 1e-9 || std::abs(end.y - start.y) < 1e-9) << i;
    EXPECT_EQ(arc.bounds.width, 40);
  }
  // The top-left and bottom-right corners' squares span the box.
  EXPECT_EQ(std::tuple(arcs[0].bounds.x, arcs[0].bounds.y, arcs[2].bounds.x + 40, arcs[2].bounds.y + 40),
            std::tuple(22.0, 22.0, 180.0, 62.0));
}

TEST(BannerPlacement, CentredInTheWorkAreaAboveItsBottom) {
  // Bottom taskbar 40 px high: the card's bottom edge ends 16 px above it.
  BannerLayout layout = layoutFor(200);
  Point origin = bannerOrigin({0, 0, 1920, 1040}, layout.width);
  EXPECT_EQ(origin.x, (1920 - 302) / 2);
  EXPECT_EQ(origin.y + layout.card.box.y + layout.card.box.height, 1040 - 16);
  // Taskbar on the left, and an odd remainder rounds towards the left.
  EXPECT_EQ(bannerOrigin({60, 0, 1920, 1080}, 301).x, 60 + (1920 - 301 - 60) / 2);
  EXPECT_EQ(bannerOrigin({60, 0, 1920, 1080}, 301).y, 1002);
  // A second monitor to the left of the primary one.
  EXPECT_EQ(bannerOrigin({-1280, 0, 0, 1024}, 200).x, -740);
}

TEST(BannerText, ATooWideNameIsCutWithAnEllipsisAndTheRestKept) {
  // Ten pixels per UTF-16 unit; the sentence after the name is 25 units.
  auto measure = [](std::u16string_view text) { return 10.0 * text.size(); };
  const std::u16string rest = u" \u2014 remote support session";
  std::u16string emoji;
  for (int i = 0; i < 30; ++i) emoji += u"\U0001F600";
  struct Case {
    std::u16string text;
    int maxWidth;
    std::u16string fitted;
  };
  const Case cases[] = {
      {u"Ann" + rest, 280, u"Ann" + rest},
      {std::u16string(200, u'x') + rest, 500, std::u16string(24, u'x') + u"\u2026" + rest},
      // 23 units would end inside a pair: one character fewer.
      {emoji + rest, 490, emoji.substr(0, 22) + u"\u2026" + rest},
      {u"A \u2014 B" + rest, 290, u"A \u2014\u2026" + rest},
      {u"Remote support session in progress", 200, u"Remote support sess\u2026"},
  };
  for (const Case& c : cases) EXPECT_TRUE(fitBannerText(c.text, c.maxWidth, measure) == c.fitted) << c.maxWidth;
  EXPECT_EQ(std::tuple(maxTextWidthFor(50), maxTextWidthFor(1920), maxTextWidthFor(100000)),
            std::tuple(0, 1920 - 102, 32767 - 102));
}
