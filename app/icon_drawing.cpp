#include "icon_drawing.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace qm {

namespace {

constexpr double kLetterFontSize = 8.0;
constexpr Rect kLetterRect = {0.0, 0.8, 22.0, 8.8};

// A flat lead-in, three peaks and two troughs, a flat lead-out.
constexpr Point kWavePoints[] = {
    {2.5, 13.0}, {4.5, 13.0},  {5.8, 17.2},  {8.0, 8.8},   {10.5, 18.0},
    {13.2, 8.4}, {15.2, 15.8}, {17.0, 13.0}, {19.5, 13.0},
};

// The ink's extent on the grid: the waveform's points, and the bottom of the
// letters (the tail of the Q).
constexpr double kWaveLeft = 2.5;
constexpr double kWaveRight = 19.5;
constexpr double kWaveBottom = 8.4;
constexpr double kWaveTop = 18.0;
constexpr double kInkBottom = 1.8;

// The application icon: how far the waveform rises from the letters, and
// the smallest side that still shows them (below it they blur together).
constexpr double kWaveLift = 2.0;
constexpr double kSmallestWithLetters = 32;

Point place(const GridPlacement& placement, const Point& point) {
  return {point.x * placement.scale + placement.x, point.y * placement.scale + placement.y};
}

}  // namespace

void drawWave(ImageCanvas& canvas, const GridPlacement& placement, Color color, double lineWidth) {
  canvas.setStrokeColor(color);
  BezierPath wave;
  wave.lineWidth = lineWidth * placement.scale;
  wave.lineCapStyle = LineCapStyle::round;
  wave.lineJoinStyle = LineJoinStyle::round;
  std::transform(std::begin(kWavePoints), std::end(kWavePoints), std::back_inserter(wave.points),
                 [&](const Point& point) { return place(placement, point); });
  canvas.strokePath(wave);
}

void drawLetters(ImageCanvas& canvas, const GridPlacement& placement, Color color) {
  TextAttributes attributes;
  attributes.boldSystemFontSize = kLetterFontSize * placement.scale;
  attributes.foregroundColor = color;
  attributes.alignment = TextAlignment::center;
  const Point origin = place(placement, {kLetterRect.x, kLetterRect.y});
  canvas.drawText("QM",
                  {origin.x, origin.y, kLetterRect.width * placement.scale,
                   kLetterRect.height * placement.scale},
                  attributes);
}

ImageRef applicationIconImage(Graphics& graphics, double side, IconMargin margin) {
  std::unique_ptr<ImageCanvas> canvas = graphics.beginImage({side, side});
  canvas->setFillColor(Color::clear);
  canvas->fillRect({0.0, 0.0, side, side});

  // Whole pixels at the small sizes keep the tile's edges sharp.
  const double inset =
      margin == IconMargin::appleGrid ? side * 100.0 / 1024.0 : std::round(side / 32.0);
  const double tile = side - 2 * inset;
  canvas->setFillColor(kQuillmarkColor);
  canvas->fillRoundedRect({inset, inset, tile, tile}, tile * 0.225);

  if (side < kSmallestWithLetters) {
    // The waveform alone, across 90 % of the tile, never under 1.2 pixels
    // wide.
    GridPlacement wave;
    wave.scale = tile * 0.90 / (kWaveRight - kWaveLeft);
    wave.x = side / 2 - (kWaveLeft + kWaveRight) / 2 * wave.scale;
    wave.y = side / 2 - (kWaveBottom + kWaveTop) / 2 * wave.scale;
    drawWave(*canvas, wave, Color::white, std::max(1.8, 1.2 / wave.scale));
  } else {
    // The waveform lifted clear of the letters, the whole across 68 % of
    // the tile and centred, at the menu bar's weight.
    constexpr double kLineWidth = 1.8;
    GridPlacement letters;
    letters.scale = tile * 0.68 / (kWaveRight - kWaveLeft);
    letters.x = side / 2 - (kWaveLeft + kWaveRight) / 2 * letters.scale;
    const double inkTop = kWaveTop + kWaveLift + kLineWidth / 2;
    letters.y = side / 2 - (kInkBottom + inkTop) / 2 * letters.scale;
    GridPlacement wave = letters;
    wave.y += kWaveLift * letters.scale;
    drawWave(*canvas, wave, Color::white, kLineWidth);
    drawLetters(*canvas, letters, Color::white);
  }
  return canvas->finishImage(false);
}

}  // namespace qm
