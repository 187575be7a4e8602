// The containers the systems take icons in, written from cairo surfaces:
// Windows' .ico, macOS' .icns and the 24-bit BMP that NSIS shows.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qm::icons {

using Bytes = std::vector<std::uint8_t>;

// A square image of the icon at one size.
struct IconImage {
  int side = 0;
  cairo_surface_t* surface = nullptr;  // ARGB32, not owned
};

// A surface's PNG file bytes.
Bytes pngBytes(cairo_surface_t* surface);

// An .ico file: the directory, then every image. 256 pixels and more go in
// as PNG, as Windows Vista and later read them; the smaller ones as 32-bit
// bitmaps with their AND mask, which every reader takes.
Bytes icoFile(const std::vector<IconImage>& images);

// One entry of an .icns file: its four-character type and a PNG image.
struct IcnsEntry {
  const char* type;
  cairo_surface_t* surface;  // ARGB32, not owned
};
Bytes icnsFile(const std::vector<IcnsEntry>& entries);

// A 24-bit BMP of an opaque surface, bottom row first.
Bytes bmpFile(cairo_surface_t* surface);

// False with a reason when the file cannot be written.
bool writeFile(const std::string& path, const Bytes& bytes, std::string* error);

}  // namespace qm::icons
