// The menu-bar icon as the drawing commands the recording canvas keeps.
#include <memory>
#include <variant>
#include <vector>

#include "menu_support.h"
#include "sim_ui.h"

namespace qm::test {
namespace {

class MenuBarIconTest : public MenuTest {
 protected:
  std::shared_ptr<render::RecordedImage> drawIcon() {
    ImageRef image;
    runOnMain([&] { image = app().menuBarIconImage(); });
    return std::dynamic_pointer_cast<render::RecordedImage>(image);
  }
};

bool samePoint(const Point& a, const Point& b) {
  return a.x == b.x && a.y == b.y;
}
bool sameRect(const Rect& a, const Rect& b) {
  return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

void expectSameCommands(const std::vector<render::DrawCommand>& a,
                        const std::vector<render::DrawCommand>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    ASSERT_EQ(a[i].index(), b[i].index());
    if (const auto* fill = std::get_if<render::FillRectCommand>(&a[i])) {
      const auto& other = std::get<render::FillRectCommand>(b[i]);
      EXPECT_EQ(fill->color, other.color);
      EXPECT_TRUE(sameRect(fill->rect, other.rect));
    } else if (const auto* stroke = std::get_if<render::StrokePathCommand>(&a[i])) {
      const auto& other = std::get<render::StrokePathCommand>(b[i]);
      EXPECT_EQ(stroke->color, other.color);
      EXPECT_EQ(stroke->path.lineWidth, other.path.lineWidth);
      EXPECT_EQ(stroke->path.lineCapStyle, other.path.lineCapStyle);
      EXPECT_EQ(stroke->path.lineJoinStyle, other.path.lineJoinStyle);
      ASSERT_EQ(stroke->path.points.size(), other.path.points.size());
      for (std::size_t p = 0; p < stroke->path.points.size(); ++p) {
        EXPECT_TRUE(samePoint(stroke->path.points[p], other.path.points[p]));
      }
    } else {
      const auto& text = std::get<render::DrawTextCommand>(a[i]);
      const auto& other = std::get<render::DrawTextCommand>(b[i]);
      EXPECT_EQ(text.text, other.text);
      EXPECT_TRUE(sameRect(text.rect, other.rect));
      EXPECT_EQ(text.attributes.boldSystemFontSize, other.attributes.boldSystemFontSize);
      EXPECT_EQ(text.attributes.foregroundColor, other.attributes.foregroundColor);
      EXPECT_EQ(text.attributes.alignment, other.attributes.alignment);
    }
  }
}

TEST_F(MenuBarIconTest, DrawsAnOpenWaveformAboveCentredBoldLettersOnAClearTemplate) {
  const std::shared_ptr<render::RecordedImage> icon = drawIcon();
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->size().width, 22.0);
  EXPECT_EQ(icon->size().height, 22.0);
  EXPECT_TRUE(icon->isTemplate());

  const std::vector<render::DrawCommand>& commands = icon->commands();
  ASSERT_EQ(commands.size(), 3u);

  // The whole canvas is cleared before anything is drawn on it.
  const auto* fill = std::get_if<render::FillRectCommand>(&commands[0]);
  ASSERT_NE(fill, nullptr);
  EXPECT_EQ(fill->color, Color::clear);
  EXPECT_TRUE(sameRect(fill->rect, {0.0, 0.0, 22.0, 22.0}));

  const auto* wave = std::get_if<render::StrokePathCommand>(&commands[1]);
  ASSERT_NE(wave, nullptr);
  EXPECT_EQ(wave->color, Color::black);
  EXPECT_EQ(wave->path.lineWidth, 1.8);
  EXPECT_EQ(wave->path.lineCapStyle, LineCapStyle::round);
  EXPECT_EQ(wave->path.lineJoinStyle, LineJoinStyle::round);
  const std::vector<Point> expected = {{2.5, 13.0},  {4.5, 13.0},  {5.8, 17.2},
                                       {8.0, 8.8},   {10.5, 18.0}, {13.2, 8.4},
                                       {15.2, 15.8}, {17.0, 13.0}, {19.5, 13.0}};
  ASSERT_EQ(wave->path.points.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_TRUE(samePoint(wave->path.points[i], expected[i])) << "point " << i + 1;
  }
  // Open: no segment back to the start.
  EXPECT_FALSE(samePoint(wave->path.points.back(), wave->path.points.front()));

  const auto* letters = std::get_if<render::DrawTextCommand>(&commands[2]);
  ASSERT_NE(letters, nullptr);
  EXPECT_EQ(letters->text, "QM");
  EXPECT_TRUE(sameRect(letters->rect, {0.0, 0.8, 22.0, 8.8}));
  EXPECT_EQ(letters->attributes.boldSystemFontSize, 8.0);
  EXPECT_EQ(letters->attributes.foregroundColor, Color::black);
  EXPECT_EQ(letters->attributes.alignment, TextAlignment::center);
}

TEST_F(MenuBarIconTest, EachCallGivesANewImageWithTheSameDrawing) {
  const std::shared_ptr<render::RecordedImage> first = drawIcon();
  const std::shared_ptr<render::RecordedImage> second = drawIcon();
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  EXPECT_NE(first, second);
  expectSameCommands(first->commands(), second->commands());

  // The status item carries one of them from the launch on.
  launch();
  const std::shared_ptr<render::RecordedImage> shown = process->statusItem()->image();
  ASSERT_TRUE(shown);
  EXPECT_TRUE(shown->isTemplate());
  expectSameCommands(shown->commands(), first->commands());
}

}  // namespace
}  // namespace qm::test
