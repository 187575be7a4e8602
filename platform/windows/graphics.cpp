// The icon canvas over GDI. GDI draws without anti-aliasing, so the canvas
// draws black on white four times larger than the tray icon and averages
// each 4x4 block into the icon pixel's coverage.
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "windows_platform.h"

namespace qm::windows {
namespace {

constexpr int kSupersampling = 4;

DWORD penEndCap(LineCapStyle style) {
  switch (style) {
    case LineCapStyle::butt:
      return PS_ENDCAP_FLAT;
    case LineCapStyle::round:
      return PS_ENDCAP_ROUND;
    case LineCapStyle::square:
      return PS_ENDCAP_SQUARE;
  }
  return PS_ENDCAP_FLAT;
}

DWORD penJoin(LineJoinStyle style) {
  switch (style) {
    case LineJoinStyle::miter:
      return PS_JOIN_MITER;
    case LineJoinStyle::round:
      return PS_JOIN_ROUND;
    case LineJoinStyle::bevel:
      return PS_JOIN_BEVEL;
  }
  return PS_JOIN_MITER;
}

UINT textFormat(TextAlignment alignment) {
  switch (alignment) {
    case TextAlignment::left:
      return DT_LEFT;
    case TextAlignment::center:
      return DT_CENTER;
    case TextAlignment::right:
      return DT_RIGHT;
  }
  return DT_LEFT;
}

COLORREF gdiColor(Color color) {
  // Black marks coverage; clear is the white background.
  return color == Color::black ? RGB(0, 0, 0) : RGB(255, 255, 255);
}

class GdiImageCanvas final : public ImageCanvas {
 public:
  explicit GdiImageCanvas(Size size) : size_(size) {
    const double scale = static_cast<double>(trayIconPixels()) / 22.0;
    width_ = std::max(1, static_cast<int>(std::lround(size.width * scale)));
    height_ = std::max(1, static_cast<int>(std::lround(size.height * scale)));
    // Pixels of the large drawing per point.
    scale_ = scale * kSupersampling;

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width_ * kSupersampling;
    info.bmiHeader.biHeight = -height_ * kSupersampling;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ =
        CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    previousBitmap_ = SelectObject(dc_, bitmap_);
    const RECT all{0, 0, width_ * kSupersampling, height_ * kSupersampling};
    FillRect(dc_, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
  ~GdiImageCanvas() override {
    SelectObject(dc_, previousBitmap_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  GdiImageCanvas(const GdiImageCanvas&) = delete;
  GdiImageCanvas& operator=(const GdiImageCanvas&) = delete;

  void setFillColor(Color color) override { fill_ = color; }

  void fillRect(const Rect& rect) override {
    const HBRUSH brush = CreateSolidBrush(gdiColor(fill_));
    const RECT area = deviceRect(rect);
    FillRect(dc_, &area, brush);
    DeleteObject(brush);
  }

  void setStrokeColor(Color color) override { stroke_ = color; }

  void strokePath(const BezierPath& path) override {
    if (path.points.empty()) {
      return;
    }
    LOGBRUSH brush{BS_SOLID, gdiColor(stroke_), 0};
    const auto width = static_cast<DWORD>(std::max(1L, std::lround(path.lineWidth * scale_)));
    const HPEN pen = ExtCreatePen(
        PS_GEOMETRIC | PS_SOLID | penEndCap(path.lineCapStyle) | penJoin(path.lineJoinStyle), width,
        &brush, 0, nullptr);
    const HGDIOBJ previous = SelectObject(dc_, pen);
    std::vector<POINT> points;
    points.reserve(path.points.size());
    for (const Point& point : path.points) {
      points.push_back(devicePoint(point));
    }
    Polyline(dc_, points.data(), static_cast<int>(points.size()));
    SelectObject(dc_, previous);
    DeleteObject(pen);
  }

  void drawText(const std::string& text, const Rect& rect,
                const TextAttributes& attributes) override {
    const int pixelHeight = static_cast<int>(std::lround(attributes.boldSystemFontSize * scale_));
    const HFONT font = CreateFontW(-pixelHeight, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                                   DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                   ANTIALIASED_QUALITY, DEFAULT_PITCH, L"Segoe UI");
    const HGDIOBJ previous = SelectObject(dc_, font);
    SetBkMode(dc_, TRANSPARENT);
    SetTextColor(dc_, gdiColor(attributes.foregroundColor));
    RECT area = deviceRect(rect);
    std::wstring wide = widen(text);
    DrawTextW(dc_, wide.data(), static_cast<int>(wide.size()), &area,
              textFormat(attributes.alignment) | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc_, previous);
    DeleteObject(font);
  }

  ImageRef finishImage(bool isTemplate) override {
    GdiFlush();
    std::vector<std::uint8_t> coverage(static_cast<std::size_t>(width_) * height_);
    const int stride = width_ * kSupersampling;
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        unsigned sum = 0;
        for (int dy = 0; dy < kSupersampling; ++dy) {
          for (int dx = 0; dx < kSupersampling; ++dx) {
            const std::uint32_t pixel =
                bits_[(y * kSupersampling + dy) * stride + x * kSupersampling + dx];
            // Darkness of the green channel: black is full coverage.
            sum += 255 - ((pixel >> 8) & 0xFF);
          }
        }
        coverage[static_cast<std::size_t>(y) * width_ + x] =
            static_cast<std::uint8_t>(sum / (kSupersampling * kSupersampling));
      }
    }
    return std::make_shared<Win32Image>(size_, isTemplate, width_, height_, std::move(coverage));
  }

 private:
  // Points have their origin at the bottom left, y upwards; the drawing has
  // its origin at the top left.
  POINT devicePoint(const Point& point) const {
    return {static_cast<LONG>(std::lround(point.x * scale_)),
            static_cast<LONG>(std::lround((size_.height - point.y) * scale_))};
  }
  RECT deviceRect(const Rect& rect) const {
    const POINT topLeft = devicePoint({rect.x, rect.y + rect.height});
    const POINT bottomRight = devicePoint({rect.x + rect.width, rect.y});
    return {topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
  }

  Size size_;
  int width_ = 0;
  int height_ = 0;
  double scale_ = 1;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previousBitmap_ = nullptr;
  std::uint32_t* bits_ = nullptr;
  Color fill_ = Color::black;
  Color stroke_ = Color::black;
};

class GdiGraphics final : public Graphics {
 public:
  std::unique_ptr<ImageCanvas> beginImage(Size size) override {
    return std::make_unique<GdiImageCanvas>(size);
  }
};

}  // namespace

int trayIconPixels() {
  return GetSystemMetricsForDpi(SM_CXSMICON, GetDpiForSystem());
}

IconPixels iconPixels(Image& image, bool lightTaskbar) {
  const auto& source = static_cast<Win32Image&>(image);
  IconPixels icon;
  icon.width = source.width();
  icon.height = source.height();
  icon.pixels.reserve(source.coverage().size());
  // A template is drawn in the taskbar's text colour; any other image black.
  const std::uint32_t rgb = source.isTemplate() && !lightTaskbar ? 0xFFFFFF : 0x000000;
  for (const std::uint8_t alpha : source.coverage()) {
    icon.pixels.push_back((std::uint32_t{alpha} << 24) | rgb);
  }
  return icon;
}

bool taskbarIsLight() {
  DWORD light = 0;
  DWORD size = sizeof light;
  // Absent before Windows 10 1903, whose taskbar is dark.
  return RegGetValueW(HKEY_CURRENT_USER,
                      L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
                      L"SystemUsesLightTheme", RRF_RT_REG_DWORD, nullptr, &light,
                      &size) == ERROR_SUCCESS &&
         light != 0;
}

std::unique_ptr<Graphics> makeGraphics() {
  return std::make_unique<GdiGraphics>();
}

}  // namespace qm::windows
