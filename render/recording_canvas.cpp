#include "recording_canvas.h"

#include <stdexcept>

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
  requireFocus();
  commands_.push_back(DrawTextCommand{text, rect, attributes});
}

ImageRef RecordingCanvas::finishImage(bool isTemplate) {
  requireFocus();
  finished_ = true;
  return std::make_shared<RecordedImage>(size_, isTemplate, std::move(commands_));
}

}  // namespace qm::render
