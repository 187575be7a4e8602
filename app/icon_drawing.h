// How Quillmark looks: the waveform over "QM" that the menu-bar icon draws,
// and the application icon that sets it in white on a rounded tile of the
// product's colour. Portable drawing on the ImageCanvas port, so that the
// build renders the application icon with the same code the menu bar runs.
#pragma once

#include "platform.h"

namespace qm {

// Quillmark's colour, a deep teal: the application icon's tile and the
// installer's panels.
inline constexpr Color kQuillmarkColor{0x0B, 0x5F, 0x66, 0xFF};

// Places the menu-bar icon's 22-point grid on a canvas: a grid point p lands
// on (p.x * scale + x, p.y * scale + y).
struct GridPlacement {
  double scale = 1;
  double x = 0;
  double y = 0;
};

// The waveform, stroked `lineWidth` grid points wide.
void drawWave(ImageCanvas& canvas, const GridPlacement& placement, Color color, double lineWidth);
// The letters "QM" in the band below the waveform.
void drawLetters(ImageCanvas& canvas, const GridPlacement& placement, Color color);

// Where the tile stands in the application icon.
enum class IconMargin {
  // Nearly the whole image, as Windows shows program icons.
  narrow,
  // 824 of 1024 centred, the grid macOS lays application icons on.
  appleGrid,
};

// The application icon, `side` points square (one point a pixel when
// rendered at scale 1). Below 32 the letters would blur into a smudge, so
// the waveform alone fills the tile.
ImageRef applicationIconImage(Graphics& graphics, double side, IconMargin margin);

}  // namespace qm
