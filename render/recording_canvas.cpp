#include "recording_canvas.h"

#include <cstdio>
#include <initializer_list>
#include <stdexcept>
#include <string_view>

namespace qm::render {

void RecordingCanvas::requireFocus() const {
  if (finished_) {
    throw std::logic_error("drawing into an image after finishImage()");
  }
}

void RecordingCanvas::setFillColor(Color color) {
  requireFocus();
  fill_ = color;
}

void RecordingCanvas::fillRect(const Rect& rect) {
  requireFocus();
  commands_.push_back(FillRectCommand{fill_, rect});
}

void RecordingCanvas::fillRoundedRect(const Rect& rect, double radius) {
  requireFocus();
  commands_.push_back(FillRoundedRectCommand{fill_, rect, radius});
}

void RecordingCanvas::setStrokeColor(Color color) {
  requireFocus();
  stroke_ = color;
}

void RecordingCanvas::strokePath(const BezierPath& path) {
  requireFocus();
  commands_.push_back(StrokePathCommand{stroke_, path});
}

void RecordingCanvas::drawText(const std::string& text, const Rect& rect,
                               const TextAttributes& attributes) {
  drawText(text, rect, attributes, FontWeight::bold);
}

void RecordingCanvas::drawText(const std::string& text, const Rect& rect,
                               const TextAttributes& attributes, FontWeight weight) {
  requireFocus();
  commands_.push_back(DrawTextCommand{text, rect, attributes, weight});
}

ImageRef RecordingCanvas::finishImage(bool isTemplate) {
  requireFocus();
  finished_ = true;
  return std::make_shared<RecordedImage>(size_, isTemplate, std::move(commands_));
}

namespace {

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  std::string shown = text;
  shown.erase(shown.find_last_not_of('0') + 1);
  if (shown.back() == '.') {
    shown.pop_back();
  }
  return shown == "-0" ? "0" : shown;
}

std::string color(Color c) {
  char text[16];
  std::snprintf(text, sizeof text, "#%02x%02x%02x%02x", c.red, c.green, c.blue, c.alpha);
  return text;
}

std::string rect(const Rect& r) {
  return number(r.x) + " " + number(r.y) + " " + number(r.width) + " " + number(r.height);
}

const char* alignment(TextAlignment value) {
  switch (value) {
    case TextAlignment::center:
      return "center";
    case TextAlignment::right:
      return "right";
    case TextAlignment::left:
      break;
  }
  return "left";
}

}  // namespace

std::string describeCommands(const RecordedImage& image) {
  std::string text;
  // Appended piece by piece: GCC 12 warns wrongly (-Wrestrict) on chains
  // of + that start with a literal.
  const auto add = [&text](std::initializer_list<std::string_view> pieces) {
    for (std::string_view piece : pieces) {
      text.append(piece);
    }
  };
  add({"image ", number(image.size().width), "x", number(image.size().height),
       image.isTemplate() ? " template" : "", "\n"});
  for (const DrawCommand& command : image.commands()) {
    if (const auto* fill = std::get_if<FillRectCommand>(&command)) {
      add({"fill ", color(fill->color), " ", rect(fill->rect)});
    } else if (const auto* rounded = std::get_if<FillRoundedRectCommand>(&command)) {
      add({"fill-rounded ", color(rounded->color), " ", rect(rounded->rect), " radius ",
           number(rounded->radius)});
    } else if (const auto* stroke = std::get_if<StrokePathCommand>(&command)) {
      const BezierPath& path = stroke->path;
      add({"stroke ", color(stroke->color), " width ", number(path.lineWidth), " cap ",
           std::to_string(static_cast<int>(path.lineCapStyle)), " join ",
           std::to_string(static_cast<int>(path.lineJoinStyle))});
      for (const Point& point : path.points) {
        add({" ", number(point.x), ",", number(point.y)});
      }
    } else if (const auto* letters = std::get_if<DrawTextCommand>(&command)) {
      const TextAttributes& attributes = letters->attributes;
      add({"text ", color(attributes.foregroundColor), " ",
           letters->weight == FontWeight::bold ? "bold " : "regular ",
           number(attributes.boldSystemFontSize), " ", alignment(attributes.alignment), " ",
           rect(letters->rect), " \"", letters->text, "\""});
    }
    text += '\n';
  }
  return text;
}

}  // namespace qm::render
