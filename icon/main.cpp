// quillmark-icons FOLDER: renders Quillmark's application icon, drawn by the
// application core on the recording canvas, and writes into FOLDER what the
// programs and their packages carry:
//
//   Quillmark.ico            Quillmark.exe, QuillmarkWatcher.exe, the installer
//   AppIcon.icns             Quillmark.app and the disk image's volume
//   installer-welcome.bmp    the installer's welcome and finish pages (164x314)
//   installer-header.bmp     the installer's page header (150x57)
//   Quillmark-N.png          each size of the .ico, to look at
//   AppIcon-N.png            each size of the .icns, to look at
#include <cairo.h>

#include <cmath>
#include <iostream>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "cairo_replay.h"
#include "icon_drawing.h"
#include "icon_files.h"
#include "recording_canvas.h"

namespace {

using namespace qm;
using render::SurfacePtr;

struct ContextDeleter {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
using ContextPtr = std::unique_ptr<cairo_t, ContextDeleter>;

// The sizes Windows picks from: the shell's small and large icons at 100 to
// 250 % and the 256 of large tiles and "Installed apps".
constexpr int kWindowsSides[] = {16, 20, 24, 32, 40, 48, 64, 256};

// Finder's types for each pixel size; @2x entries share a size with a 1x one.
struct IcnsSlot {
  const char* type;
  int side;
};
constexpr IcnsSlot kIcnsSlots[] = {
    {"icp4", 16},  {"icp5", 32},  {"ic11", 32},  {"ic12", 64},  {"ic07", 128},
    {"ic13", 256}, {"ic08", 256}, {"ic14", 512}, {"ic09", 512}, {"ic10", 1024},
};

SurfacePtr renderIcon(Graphics& graphics, int side, IconMargin margin, std::string* error) {
  const ImageRef image = applicationIconImage(graphics, side, margin);
  const auto recorded = std::dynamic_pointer_cast<render::RecordedImage>(image);
  if (!recorded) {
    *error = "the application drew no icon";
    return nullptr;
  }
  return render::renderImage(*recorded, 1.0, error);
}

void fill(cairo_t* cr, Color color) {
  cairo_set_source_rgba(cr, color.red / 255.0, color.green / 255.0, color.blue / 255.0,
                        color.alpha / 255.0);
  cairo_paint(cr);
}

void roundedSquare(cairo_t* cr, double x, double y, double side, double radius) {
  constexpr double pi = std::numbers::pi;
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + side - radius, y + radius, radius, -pi / 2, 0);
  cairo_arc(cr, x + side - radius, y + side - radius, radius, 0, pi / 2);
  cairo_arc(cr, x + radius, y + side - radius, radius, pi / 2, pi);
  cairo_arc(cr, x + radius, y + radius, radius, pi, 3 * pi / 2);
  cairo_close_path(cr);
}

// The product's name under the icon, white, centred on `middle`.
void drawName(cairo_t* cr, double middle, double baseline, double size) {
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, size);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, "Quillmark", &extents);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_move_to(cr, middle - extents.x_advance / 2, baseline);
  cairo_show_text(cr, "Quillmark");
}

// The welcome and finish pages' panel: the product's colour, the icon with
// a light rim so its tile stands out from the panel, and the name.
SurfacePtr welcomePanel(Graphics& graphics, std::string* error) {
  constexpr int kWidth = 164;
  constexpr int kHeight = 314;
  constexpr int kIconSide = 112;
  const SurfacePtr icon = renderIcon(graphics, kIconSide, IconMargin::narrow, error);
  if (!icon) {
    return nullptr;
  }
  SurfacePtr panel(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWidth, kHeight));
  const ContextPtr cr(cairo_create(panel.get()));
  fill(cr.get(), kQuillmarkColor);
  // A lighter wash towards the top.
  cairo_pattern_t* wash = cairo_pattern_create_linear(0, 0, 0, kHeight);
  cairo_pattern_add_color_stop_rgba(wash, 0, 1, 1, 1, 0.16);
  cairo_pattern_add_color_stop_rgba(wash, 1, 1, 1, 1, 0);
  cairo_set_source(cr.get(), wash);
  cairo_paint(cr.get());
  cairo_pattern_destroy(wash);

  const double left = (kWidth - kIconSide) / 2.0;
  const double top = 56;
  // The tile's outline (as applicationIconImage() insets it) grown by the rim.
  const double inset = std::round(kIconSide / 32.0);
  const double tile = kIconSide - 2 * inset;
  const double rim = 3;
  cairo_set_source_rgba(cr.get(), 1, 1, 1, 0.35);
  roundedSquare(cr.get(), left + inset - rim, top + inset - rim, tile + 2 * rim,
                tile * 0.225 + rim);
  cairo_fill(cr.get());
  cairo_set_source_surface(cr.get(), icon.get(), left, top);
  cairo_paint(cr.get());
  drawName(cr.get(), kWidth / 2.0, top + kIconSide + 40, 20);
  cairo_surface_flush(panel.get());
  return panel;
}

// The header of the other pages: white, as the header is, with the icon at
// its right end.
SurfacePtr headerImage(Graphics& graphics, std::string* error) {
  constexpr int kWidth = 150;
  constexpr int kHeight = 57;
  constexpr int kIconSide = 48;
  const SurfacePtr icon = renderIcon(graphics, kIconSide, IconMargin::narrow, error);
  if (!icon) {
    return nullptr;
  }
  SurfacePtr header(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWidth, kHeight));
  const ContextPtr cr(cairo_create(header.get()));
  fill(cr.get(), Color::white);
  cairo_set_source_surface(cr.get(), icon.get(), kWidth - kIconSide - 6, (kHeight - kIconSide) / 2);
  cairo_paint(cr.get());
  cairo_surface_flush(header.get());
  return header;
}

bool writeAll(const std::string& folder, std::string* error) {
  render::RecordingGraphics graphics;

  std::vector<SurfacePtr> windows;
  std::vector<icons::IconImage> icoImages;
  for (const int side : kWindowsSides) {
    windows.push_back(renderIcon(graphics, side, IconMargin::narrow, error));
    if (!windows.back() ||
        !render::writeSurfacePng(windows.back().get(),
                                 folder + "/Quillmark-" + std::to_string(side) + ".png", "the icon",
                                 error)) {
      return false;
    }
    icoImages.push_back({side, windows.back().get()});
  }
  if (!icons::writeFile(folder + "/Quillmark.ico", icons::icoFile(icoImages), error)) {
    return false;
  }

  std::vector<SurfacePtr> macOS;
  std::vector<icons::IcnsEntry> icnsEntries;
  for (const IcnsSlot& slot : kIcnsSlots) {
    macOS.push_back(renderIcon(graphics, slot.side, IconMargin::appleGrid, error));
    if (!macOS.back() ||
        !render::writeSurfacePng(macOS.back().get(),
                                 folder + "/AppIcon-" + std::to_string(slot.side) + ".png",
                                 "the icon", error)) {
      return false;
    }
    icnsEntries.push_back({slot.type, macOS.back().get()});
  }
  if (!icons::writeFile(folder + "/AppIcon.icns", icons::icnsFile(icnsEntries), error)) {
    return false;
  }

  const SurfacePtr welcome = welcomePanel(graphics, error);
  const SurfacePtr header = headerImage(graphics, error);
  return welcome && header &&
         icons::writeFile(folder + "/installer-welcome.bmp", icons::bmpFile(welcome.get()),
                          error) &&
         icons::writeFile(folder + "/installer-header.bmp", icons::bmpFile(header.get()), error);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: quillmark-icons FOLDER\n";
    return 2;
  }
  std::string error;
  const bool written = writeAll(argv[1], &error);
  render::releaseRendererCaches();
  if (!written) {
    std::cerr << "quillmark-icons: " << error << "\n";
    return 1;
  }
  return 0;
}
