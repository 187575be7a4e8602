// The menu-bar icon as quillmark-sim --icon renders it, read back from the
// PNG files: transparent where nothing is drawn, opaque on the line, and the
// waveform left open (no segment back from its end to its start).
#include <cairo.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr double kIconPoints = 22.0;

// A rendered icon; coordinates in icon points, y up from the bottom edge.
class Icon {
 public:
  explicit Icon(const std::string& path)
      : surface_(cairo_image_surface_create_from_png(path.c_str())) {}
  ~Icon() { cairo_surface_destroy(surface_); }
  Icon(const Icon&) = delete;
  Icon& operator=(const Icon&) = delete;

  bool loaded() const { return cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS; }
  int width() const { return cairo_image_surface_get_width(surface_); }
  int height() const { return cairo_image_surface_get_height(surface_); }
  double scale() const { return width() / kIconPoints; }

  int alphaAtPixel(int column, int row) const {
    const unsigned char* data = cairo_image_surface_get_data(surface_);
    const int stride = cairo_image_surface_get_stride(surface_);
    // ARGB32 in native order: alpha is the high byte of each 32-bit pixel.
    const auto pixel = *reinterpret_cast<const std::uint32_t*>(data + row * stride + column * 4);
    return static_cast<int>(pixel >> 24);
  }

  // The pixel that covers the icon point (x, y).
  int alphaAt(double x, double y) const {
    const int column = std::clamp(static_cast<int>(std::floor(x * scale())), 0, width() - 1);
    const int row =
        std::clamp(static_cast<int>(std::floor((kIconPoints - y) * scale())), 0, height() - 1);
    return alphaAtPixel(column, row);
  }

  // Visits every pixel lying wholly inside the rectangle of icon points.
  void forEachPixelIn(double left, double bottom, double right, double top,
                      const std::function<void(int, int)>& visit) const {
    const double s = scale();
    for (int row = 0; row < height(); ++row) {
      const double pixelTop = kIconPoints - row / s;
      const double pixelBottom = kIconPoints - (row + 1) / s;
      for (int column = 0; column < width(); ++column) {
        if (column / s >= left && (column + 1) / s <= right && pixelBottom >= bottom &&
            pixelTop <= top) {
          visit(column, row);
        }
      }
    }
  }

 private:
  cairo_surface_t* surface_;
};

class IconPixelsTest : public ::testing::Test {
 protected:
  // Renders once for all the tests; each of them fails if that failed.
  static void SetUpTestSuite() {
    std::string pattern = (fs::temp_directory_path() / "qm-icon-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      return;
    }
    folder_ = pattern;
    // An empty scenario from standard input: only the icon is of interest.
    command_ = std::string("\"") + QM_SIM_EXECUTABLE + "\" --quiet --icon \"" + folder_ +
               "/icon.png\" - < /dev/null";
    status_ = std::system(command_.c_str());
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  void SetUp() override { ASSERT_EQ(status_, 0) << command_; }

  static std::string folder_;
  static std::string command_;
  static int status_;
};

std::string IconPixelsTest::folder_;
std::string IconPixelsTest::command_;
int IconPixelsTest::status_ = -1;

// Regions of the icon that neither the waveform (1.8 points wide, between
// x 1.6 and 20.4 and below y 18.9) nor the letters (centred in the bottom
// band) reach: every pixel wholly inside them is fully transparent.
void expectEmptyAwayFromTheDrawing(const Icon& icon) {
  struct Region {
    const char* name;
    double left, bottom, right, top;
  };
  const Region regions[] = {
      {"above the highest peak", 0, 19.5, 22, 22},
      {"left of the line", 0, 0, 1.5, 22},
      {"right of the line", 20.5, 0, 22, 22},
      {"below the lead-in, left of the letters", 0, 0, 3.0, 11.5},
      {"below the lead-out, right of the letters", 18.5, 0, 22, 11.5},
  };
  for (const Region& region : regions) {
    int visited = 0;
    icon.forEachPixelIn(region.left, region.bottom, region.right, region.top,
                        [&](int column, int row) {
                          ++visited;
                          EXPECT_EQ(icon.alphaAtPixel(column, row), 0)
                              << region.name << ": pixel " << column << "," << row << " of "
                              << icon.width() << "x" << icon.height();
                        });
    EXPECT_GT(visited, 0) << region.name;
  }
  for (auto [x, y] : {std::pair{0.1, 0.1}, {21.9, 0.1}, {0.1, 21.9}, {21.9, 21.9}}) {
    EXPECT_EQ(icon.alphaAt(x, y), 0) << "corner " << x << "," << y;
  }
}

TEST_F(IconPixelsTest, BothSizesAreWrittenAndTransparentAwayFromTheDrawing) {
  Icon standard(folder_ + "/icon.png");
  Icon retina(folder_ + "/icon@2x.png");
  ASSERT_TRUE(standard.loaded());
  ASSERT_TRUE(retina.loaded());
  EXPECT_EQ(standard.width(), 22);
  EXPECT_EQ(standard.height(), 22);
  EXPECT_EQ(retina.width(), 44);
  EXPECT_EQ(retina.height(), 44);
  expectEmptyAwayFromTheDrawing(standard);
  expectEmptyAwayFromTheDrawing(retina);
}

TEST_F(IconPixelsTest, TheLineIsOpaqueWhereItRuns) {
  Icon retina(folder_ + "/icon@2x.png");
  Icon standard(folder_ + "/icon.png");
  ASSERT_TRUE(retina.loaded());
  ASSERT_TRUE(standard.loaded());
  // The flat lead-in and lead-out lie on y 13, the highest peak at (10.5, 18).
  for (auto [x, y] : {std::pair{3.5, 13.0}, {3.4, 12.6}, {18.5, 13.2}, {10.5, 17.6}}) {
    EXPECT_EQ(retina.alphaAt(x, y), 255) << x << "," << y;
  }
  // At 22x22 a pixel row is 1 point high and the line 1.8: most of it.
  EXPECT_GE(standard.alphaAt(3.5, 12.5), 200);
  EXPECT_GE(standard.alphaAt(3.5, 13.5), 200);
}

TEST_F(IconPixelsTest, TheLetterBandHoldsInk) {
  Icon retina(folder_ + "/icon@2x.png");
  ASSERT_TRUE(retina.loaded());
  // Below the troughs' lowest reach (8.4 - 0.9) only the letters draw.
  int opaque = 0;
  retina.forEachPixelIn(0, 0, 22, 7.4, [&](int column, int row) {
    opaque += retina.alphaAtPixel(column, row) == 255 ? 1 : 0;
  });
  EXPECT_GT(opaque, 40);
}

// A segment from (19.5, 13) back to (2.5, 13) would paint a band from y 12.1
// to 13.9 across the icon. The wave crosses that band, but between its
// crossings (after the first rise, under the highest peak, after the last
// peak) the pixels just under y 13 stay nearly empty: a closed path would
// make them fully opaque.
TEST_F(IconPixelsTest, TheWaveformIsNotClosedBackToItsStart) {
  Icon retina(folder_ + "/icon@2x.png");
  ASSERT_TRUE(retina.loaded());
  const double gaps[][2] = {{5.5, 6.0}, {10.0, 11.0}, {15.5, 16.0}};
  for (const auto& gap : gaps) {
    int least = 255;
    retina.forEachPixelIn(gap[0], 12.5, gap[1], 13.0, [&](int column, int row) {
      least = std::min(least, retina.alphaAtPixel(column, row));
    });
    EXPECT_LT(least, 16) << "between x " << gap[0] << " and " << gap[1] << " on y 13";
  }
}

}  // namespace
