// The menu-bar icon, drawn in code: a waveform above the letters "QM".
#include "app_delegate.h"
#include "icon_drawing.h"

namespace qm {

namespace {

constexpr Size kIconSize = {22.0, 22.0};
constexpr double kWaveLineWidth = 1.8;

}  // namespace

ImageRef AppDelegate::menuBarIconImage() {
  std::unique_ptr<ImageCanvas> canvas = platform_.graphics.beginImage(kIconSize);

  canvas->setFillColor(Color::clear);
  canvas->fillRect({0.0, 0.0, kIconSize.width, kIconSize.height});
  // The icon's own grid: drawn where it stands.
  drawWave(*canvas, GridPlacement{}, Color::black, kWaveLineWidth);
  drawLetters(*canvas, GridPlacement{}, Color::black);

  // A template image: the menu bar tints it for light and dark appearances.
  return canvas->finishImage(true);
}

}  // namespace qm
