// The application icon as the drawing commands the recording canvas keeps:
// the menu-bar icon's waveform, in white on a rounded tile of Quillmark's
// colour, with the letters from 32 points up.
#include <algorithm>
#include <memory>
#include <variant>
#include <vector>

#include "icon_drawing.h"
#include "menu_support.h"
#include "sim_ui.h"

namespace qm::test {
namespace {

class ApplicationIconTest : public MenuTest {
 protected:
  std::shared_ptr<render::RecordedImage> draw(double side, IconMargin margin) {
    return std::dynamic_pointer_cast<render::RecordedImage>(
        applicationIconImage(process->platform().graphics, side, margin));
  }
  std::vector<Point> menuBarWave() {
    ImageRef image;
    runOnMain([&] { image = app().menuBarIconImage(); });
    const auto icon = std::dynamic_pointer_cast<render::RecordedImage>(image);
    return std::get<render::StrokePathCommand>(icon->commands().at(1)).path.points;
  }
};

bool inside(const Rect& outer, double x, double y, double margin = 0) {
  return x - margin >= outer.x && x + margin <= outer.x + outer.width && y - margin >= outer.y &&
         y + margin <= outer.y + outer.height;
}

TEST_F(ApplicationIconTest, IsTheMenuBarWaveformInWhiteOnARoundedTileOfQuillmarksColour) {
  const std::vector<Point> menuBar = menuBarWave();
  for (const IconMargin margin : {IconMargin::narrow, IconMargin::appleGrid}) {
    for (const double side : {16.0, 24.0, 32.0, 256.0, 1024.0}) {
      SCOPED_TRACE(testing::Message()
                   << side << (margin == IconMargin::narrow ? "" : " on Apple's grid"));
      const std::shared_ptr<render::RecordedImage> icon = draw(side, margin);
      ASSERT_TRUE(icon);
      EXPECT_EQ(icon->size().width, side);
      EXPECT_EQ(icon->size().height, side);
      EXPECT_FALSE(icon->isTemplate());
      const std::vector<render::DrawCommand>& commands = icon->commands();
      ASSERT_GE(commands.size(), 3u);

      const auto& ground = std::get<render::FillRectCommand>(commands[0]);
      EXPECT_EQ(ground.color, Color::clear);
      EXPECT_EQ(ground.rect.width, side);
      const auto& tile = std::get<render::FillRoundedRectCommand>(commands[1]);
      EXPECT_EQ(tile.color, kQuillmarkColor);
      EXPECT_EQ(tile.rect.width, tile.rect.height);
      EXPECT_DOUBLE_EQ(tile.rect.x + tile.rect.width / 2, side / 2);
      EXPECT_DOUBLE_EQ(tile.rect.y + tile.rect.height / 2, side / 2);
      if (margin == IconMargin::appleGrid) {
        EXPECT_DOUBLE_EQ(tile.rect.width, side * 824 / 1024);
      } else {
        EXPECT_GE(tile.rect.width, side * 7 / 8);
      }
      EXPECT_GT(tile.radius, tile.rect.width / 8);

      // The menu bar's points, scaled and moved as one.
      const auto& wave = std::get<render::StrokePathCommand>(commands[2]);
      EXPECT_EQ(wave.color, Color::white);
      ASSERT_EQ(wave.path.points.size(), menuBar.size());
      const double scale = (wave.path.points.back().x - wave.path.points.front().x) /
                           (menuBar.back().x - menuBar.front().x);
      for (std::size_t i = 0; i < menuBar.size(); ++i) {
        const Point& point = wave.path.points[i];
        EXPECT_NEAR(point.x - wave.path.points[0].x, (menuBar[i].x - menuBar[0].x) * scale, 1e-9);
        EXPECT_NEAR(point.y - wave.path.points[0].y, (menuBar[i].y - menuBar[0].y) * scale, 1e-9);
        EXPECT_TRUE(inside(tile.rect, point.x, point.y, wave.path.lineWidth / 2)) << "point " << i;
      }
      // Never thinner than a pixel and a bit, at one point a pixel.
      EXPECT_GE(wave.path.lineWidth, 1.2);
    }
  }
}

TEST_F(ApplicationIconTest, ShowsTheLettersFrom32PointsUpClearOfTheWaveform) {
  for (const double side : {16.0, 20.0, 24.0}) {
    EXPECT_EQ(draw(side, IconMargin::narrow)->commands().size(), 3u) << side;
  }
  for (const double side : {32.0, 48.0, 1024.0}) {
    const std::shared_ptr<render::RecordedImage> icon = draw(side, IconMargin::narrow);
    ASSERT_EQ(icon->commands().size(), 4u) << side;
    const auto& tile = std::get<render::FillRoundedRectCommand>(icon->commands()[1]);
    const auto& wave = std::get<render::StrokePathCommand>(icon->commands()[2]);
    const auto& letters = std::get<render::DrawTextCommand>(icon->commands()[3]);
    EXPECT_EQ(letters.text, "QM");
    EXPECT_EQ(letters.attributes.foregroundColor, Color::white);
    EXPECT_TRUE(inside(tile.rect, letters.rect.x, letters.rect.y));
    EXPECT_TRUE(inside(tile.rect, letters.rect.x + letters.rect.width,
                       letters.rect.y + letters.rect.height));
    // The capitals' ink reaches about 0.36 of the font size above the middle
    // of their band; the waveform's lowest edge stays above that.
    const double lowest = std::min_element(wave.path.points.begin(), wave.path.points.end(),
                                           [](const Point& a, const Point& b) { return a.y < b.y; })
                              ->y -
                          wave.path.lineWidth / 2;
    const double capitalsTop =
        letters.rect.y + letters.rect.height / 2 + 0.4 * letters.attributes.boldSystemFontSize;
    EXPECT_GT(lowest, capitalsTop) << side;
  }
}

}  // namespace
}  // namespace qm::test
