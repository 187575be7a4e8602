#include "cairo_replay.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <variant>

namespace qm::render {

namespace {

struct ContextDeleter {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

// Receives cairo's PNG bytes and keeps the first write error.
struct PngSink {
  std::FILE* file;
  int error;

  static cairo_status_t write(void* closure, const unsigned char* data, unsigned int length) {
    auto* sink = static_cast<PngSink*>(closure);
    if (std::fwrite(data, 1, length, sink->file) != length) {
      sink->error = errno;
      return CAIRO_STATUS_WRITE_ERROR;
    }
    return CAIRO_STATUS_SUCCESS;
  }
};

void setColor(cairo_t* cr, Color color) {
  cairo_set_source_rgba(cr, color.red / 255.0, color.green / 255.0, color.blue / 255.0,
                        color.alpha / 255.0);
}

cairo_line_cap_t cap(LineCapStyle style) {
  switch (style) {
    case LineCapStyle::round:
      return CAIRO_LINE_CAP_ROUND;
    case LineCapStyle::square:
      return CAIRO_LINE_CAP_SQUARE;
    case LineCapStyle::butt:
      break;
  }
  return CAIRO_LINE_CAP_BUTT;
}

cairo_line_join_t join(LineJoinStyle style) {
  switch (style) {
    case LineJoinStyle::round:
      return CAIRO_LINE_JOIN_ROUND;
    case LineJoinStyle::bevel:
      return CAIRO_LINE_JOIN_BEVEL;
    case LineJoinStyle::miter:
      break;
  }
  return CAIRO_LINE_JOIN_MITER;
}

// Image points (origin bottom-left, y up) to device pixels (origin top-left).
struct Mapping {
  double scale;
  double height;
  double x(double px) const { return px * scale; }
  double y(double py) const { return (height - py) * scale; }
};

void replay(cairo_t* cr, const Mapping& map, const DrawCommand& command) {
  if (const auto* fill = std::get_if<FillRectCommand>(&command)) {
    // A rectangle fill copies its colour, clear included.
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    setColor(cr, fill->color);
    cairo_rectangle(cr, map.x(fill->rect.x), map.y(fill->rect.y + fill->rect.height),
                    fill->rect.width * map.scale, fill->rect.height * map.scale);
    cairo_fill(cr);
    cairo_restore(cr);
  } else if (const auto* rounded = std::get_if<FillRoundedRectCommand>(&command)) {
    const Rect& rect = rounded->rect;
    const double left = map.x(rect.x);
    const double top = map.y(rect.y + rect.height);
    const double right = left + rect.width * map.scale;
    const double bottom = top + rect.height * map.scale;
    const double r =
        std::min({rounded->radius * map.scale, (right - left) / 2, (bottom - top) / 2});
    constexpr double pi = std::numbers::pi;
    cairo_save(cr);
    setColor(cr, rounded->color);
    cairo_new_sub_path(cr);
    cairo_arc(cr, right - r, top + r, r, -pi / 2, 0);
    cairo_arc(cr, right - r, bottom - r, r, 0, pi / 2);
    cairo_arc(cr, left + r, bottom - r, r, pi / 2, pi);
    cairo_arc(cr, left + r, top + r, r, pi, 3 * pi / 2);
    cairo_close_path(cr);
    cairo_fill(cr);
    cairo_restore(cr);
  } else if (const auto* stroke = std::get_if<StrokePathCommand>(&command)) {
    const BezierPath& path = stroke->path;
    if (path.points.empty()) {
      return;
    }
    cairo_save(cr);
    setColor(cr, stroke->color);
    cairo_set_line_width(cr, path.lineWidth * map.scale);
    cairo_set_line_cap(cr, cap(path.lineCapStyle));
    cairo_set_line_join(cr, join(path.lineJoinStyle));
    cairo_move_to(cr, map.x(path.points[0].x), map.y(path.points[0].y));
    for (std::size_t i = 1; i < path.points.size(); ++i) {
      cairo_line_to(cr, map.x(path.points[i].x), map.y(path.points[i].y));
    }
    // Open: never closed back to the first point.
    cairo_stroke(cr);
    cairo_restore(cr);
  } else if (const auto* text = std::get_if<DrawTextCommand>(&command)) {
    cairo_save(cr);
    setColor(cr, text->attributes.foregroundColor);
    const bool bold = text->weight == FontWeight::bold;
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, text->attributes.boldSystemFontSize * map.scale);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text->text.c_str(), &extents);
    const Rect& rect = text->rect;
    const double left = map.x(rect.x);
    const double width = rect.width * map.scale;
    double x = left;
    switch (text->attributes.alignment) {
      case TextAlignment::center:
        x = left + (width - extents.x_advance) / 2;
        break;
      case TextAlignment::right:
        x = left + width - extents.x_advance;
        break;
      case TextAlignment::left:
        break;
    }
    // The icon's letters have their ink centred in the rectangle's height;
    // lines of text (regular) the font's ascent and descent, so that lines
    // of different letters share a baseline as in a menu.
    const double middle = (map.y(rect.y) + map.y(rect.y + rect.height)) / 2;
    cairo_font_extents_t font;
    cairo_font_extents(cr, &font);
    const double baseline = bold ? middle - (extents.y_bearing + extents.height / 2)
                                 : middle + (font.ascent - font.descent) / 2;
    cairo_move_to(cr, x, baseline);
    cairo_show_text(cr, text->text.c_str());
    cairo_restore(cr);
  }
}

}  // namespace

SurfacePtr renderImage(const RecordedImage& image, double scale, std::string* error) {
  const Size size = image.size();
  const int width = static_cast<int>(std::lround(size.width * scale));
  const int height = static_cast<int>(std::lround(size.height * scale));
  // A new image surface is fully transparent.
  SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
  std::unique_ptr<cairo_t, ContextDeleter> cr(cairo_create(surface.get()));
  const Mapping map{scale, size.height};
  for (const DrawCommand& command : image.commands()) {
    replay(cr.get(), map, command);
  }
  cairo_surface_flush(surface.get());
  if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) {
    *error = cairo_status_to_string(cairo_status(cr.get()));
    return nullptr;
  }
  return surface;
}

bool writeSurfacePng(cairo_surface_t* surface, const std::string& path, std::string_view what,
                     std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    const int cause = errno;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code ignored;
    *error = "cannot write " + std::string(what) + " " + path + ": " +
             (cause == ENOENT && !folder.empty() && !std::filesystem::is_directory(folder, ignored)
                  ? "there is no folder " + folder.string()
                  : std::string(std::strerror(cause)));
    return false;
  }
  PngSink sink{file, 0};
  const cairo_status_t written = cairo_surface_write_to_png_stream(surface, &PngSink::write, &sink);
  const bool closed = std::fclose(file) == 0;
  if (written != CAIRO_STATUS_SUCCESS || !closed) {
    const int cause = sink.error != 0 ? sink.error : errno;
    *error = "cannot write " + std::string(what) + " " + path + ": " +
             (cause != 0 ? std::strerror(cause) : cairo_status_to_string(written));
    return false;
  }
  return true;
}

bool writePng(const RecordedImage& image, double scale, const std::string& path,
              std::string_view what, std::string* error) {
  const SurfacePtr surface = renderImage(image, scale, error);
  return surface && writeSurfacePng(surface.get(), path, what, error);
}

void releaseRendererCaches() {
  cairo_debug_reset_static_data();
  FcFini();
}

}  // namespace qm::render
