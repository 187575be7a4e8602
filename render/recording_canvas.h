// The drawing canvas that records instead of painting: what the application
// core draws becomes a list of commands that tests compare and that cairo
// replays into pixels (cairo_replay.h). The simulated desktop, quillmark-sim
// and the icon tool all draw on it.
#pragma once

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform.h"

namespace qm::render {

struct FillRectCommand {
  Color color = Color::black;
  Rect rect;
};
struct FillRoundedRectCommand {
  Color color = Color::black;
  Rect rect;
  double radius = 0;
};
struct StrokePathCommand {
  Color color = Color::black;
  BezierPath path;
};
// The application's drawings letter in the bold system font; the tool's own
// (the picture of the menu) also in the regular one.
enum class FontWeight { bold, regular };
struct DrawTextCommand {
  std::string text;
  Rect rect;
  // boldSystemFontSize is the size in either weight.
  TextAttributes attributes;
  FontWeight weight = FontWeight::bold;
};
using DrawCommand =
    std::variant<FillRectCommand, FillRoundedRectCommand, StrokePathCommand, DrawTextCommand>;

class RecordedImage final : public qm::Image {
 public:
  RecordedImage(qm::Size size, bool isTemplate, std::vector<DrawCommand> commands)
      : size_(size), template_(isTemplate), commands_(std::move(commands)) {}
  qm::Size size() const override { return size_; }
  bool isTemplate() const override { return template_; }
  // In drawing order.
  const std::vector<DrawCommand>& commands() const { return commands_; }

 private:
  qm::Size size_;
  bool template_;
  std::vector<DrawCommand> commands_;
};

// Records what is drawn. Fill and stroke start black, as in a freshly focused
// image. Drawing after finishImage() throws std::logic_error: the focus is
// gone, so that would be a bug in the caller.
class RecordingCanvas final : public qm::ImageCanvas {
 public:
  explicit RecordingCanvas(qm::Size size) : size_(size) {}
  void setFillColor(Color color) override;
  void fillRect(const Rect& rect) override;
  void fillRoundedRect(const Rect& rect, double radius) override;
  void setStrokeColor(Color color) override;
  void strokePath(const BezierPath& path) override;
  void drawText(const std::string& text, const Rect& rect,
                const TextAttributes& attributes) override;
  void drawText(const std::string& text, const Rect& rect, const TextAttributes& attributes,
                FontWeight weight);
  ImageRef finishImage(bool isTemplate) override;

 private:
  void requireFocus() const;

  qm::Size size_;
  Color fill_ = Color::black;
  Color stroke_ = Color::black;
  bool finished_ = false;
  std::vector<DrawCommand> commands_;
};

// Graphics whose every image is recorded, for drawing outside a simulated
// process.
class RecordingGraphics final : public qm::Graphics {
 public:
  std::unique_ptr<ImageCanvas> beginImage(Size size) override {
    return std::make_unique<RecordingCanvas>(size);
  }
};

// The commands as text, one a line with numbers to a thousandth, for tests
// that hold a drawing against what it was: unlike pixels, these do not
// change with the machine's fonts.
std::string describeCommands(const RecordedImage& image);

}  // namespace qm::render
