// Recorded drawings made real: cairo replays what the recording canvas
// recorded into pixels and PNG files. quillmark-sim renders the menu-bar
// icon with it, the icon tool the application icon.
#pragma once

#include <cairo.h>

#include <memory>
#include <string>
#include <string_view>

#include "recording_canvas.h"

namespace qm::render {

struct SurfaceDeleter {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

// Replays the drawing at `scale` device pixels per point into a new ARGB32
// surface: the origin moves from the bottom-left corner (the image's y goes
// up) to cairo's top-left. Null with a reason when cairo fails.
SurfacePtr renderImage(const RecordedImage& image, double scale, std::string* error);

// Writes the surface as PNG through our own file, so that a failure is told
// in the system's words ("No such file or directory") rather than cairo's:
// "cannot write <what> <path>: <reason>".
bool writeSurfacePng(cairo_surface_t* surface, const std::string& path, std::string_view what,
                     std::string* error);

// renderImage() into a PNG file.
bool writePng(const RecordedImage& image, double scale, const std::string& path,
              std::string_view what, std::string* error);

// Releases cairo's and fontconfig's caches, which keeps leak checkers quiet
// at exit. Nothing may be rendered afterwards.
void releaseRendererCaches();

}  // namespace qm::render
