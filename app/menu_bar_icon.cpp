// The menu-bar icon, drawn in code: a waveform above the letters "QM".
#include "app_delegate.h"

namespace qm {

namespace {

constexpr Size kIconSize = {22.0, 22.0};
constexpr double kWaveLineWidth = 1.8;
constexpr double kLetterFontSize = 8.0;
constexpr Rect kLetterRect = {0.0, 0.8, 22.0, 8.8};

// A flat lead-in, three peaks and two troughs, a flat lead-out.
constexpr Point kWavePoints[] = {
    {2.5, 13.0}, {4.5, 13.0},  {5.8, 17.2},  {8.0, 8.8},   {10.5, 18.0},
    {13.2, 8.4}, {15.2, 15.8}, {17.0, 13.0}, {19.5, 13.0},
};

}  // namespace

ImageRef AppDelegate::menuBarIconImage() {
  std::unique_ptr<ImageCanvas> canvas = platform_.graphics.beginImage(kIconSize);

  canvas->setFillColor(Color::clear);
  canvas->fillRect({0.0, 0.0, kIconSize.width, kIconSize.height});
  canvas->setStrokeColor(Color::black);

  BezierPath wave;
  wave.lineWidth = kWaveLineWidth;
  wave.lineCapStyle = LineCapStyle::round;
  wave.lineJoinStyle = LineJoinStyle::round;
  wave.points.assign(std::begin(kWavePoints), std::end(kWavePoints));
  canvas->strokePath(wave);

  TextAttributes letters;
  letters.boldSystemFontSize = kLetterFontSize;
  letters.foregroundColor = Color::black;
  letters.alignment = TextAlignment::center;
  canvas->drawText("QM", kLetterRect, letters);

  // A template image: the menu bar tints it for light and dark appearances.
  return canvas->finishImage(true);
}

}  // namespace qm
