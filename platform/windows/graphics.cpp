// The icon canvas over GDI. GDI draws without anti-aliasing or alpha, so the
// canvas draws four times larger than the image and averages each 4x4 block
// into one pixel, and draws everything twice, on black and on white: where
// the two differ the drawing lets the background through, which gives each
// pixel its alpha, and the drawing on black its colour. Each canvas keeps the
// steps it took, so the tray can draw its icon again when the DPI changes.
// windows.h comes first: the other Win32 headers build on it.
#include <windows.h>

#include <shellscalingapi.h>

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

// One of the two drawings: a top-down 32-bit DIB filled with its background.
struct Layer {
  COLORREF background = 0;
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ previousBitmap = nullptr;
  std::uint32_t* bits = nullptr;

  // Clear is the layer's background; GDI cannot blend, so any other colour
  // counts as opaque.
  COLORREF color(Color color) const {
    return color.alpha == 0 ? background : RGB(color.red, color.green, color.blue);
  }
};

class GdiImageCanvas final : public ImageCanvas {
 public:
  GdiImageCanvas(Size size, int iconPixels) : size_(size), iconPixels_(iconPixels) {
    const double scale = static_cast<double>(iconPixels) / 22.0;
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
    const RECT all{0, 0, width_ * kSupersampling, height_ * kSupersampling};
    onBlack_.background = RGB(0, 0, 0);
    onWhite_.background = RGB(255, 255, 255);
    for (Layer* layer : {&onBlack_, &onWhite_}) {
      layer->dc = CreateCompatibleDC(nullptr);
      layer->bitmap = CreateDIBSection(layer->dc, &info, DIB_RGB_COLORS,
                                       reinterpret_cast<void**>(&layer->bits), nullptr, 0);
      layer->previousBitmap = SelectObject(layer->dc, layer->bitmap);
      const HBRUSH brush = CreateSolidBrush(layer->background);
      FillRect(layer->dc, &all, brush);
      DeleteObject(brush);
    }
  }
  ~GdiImageCanvas() override {
    for (Layer* layer : {&onBlack_, &onWhite_}) {
      SelectObject(layer->dc, layer->previousBitmap);
      DeleteObject(layer->bitmap);
      DeleteDC(layer->dc);
    }
  }
  GdiImageCanvas(const GdiImageCanvas&) = delete;
  GdiImageCanvas& operator=(const GdiImageCanvas&) = delete;

  void setFillColor(Color color) override {
    record([color](ImageCanvas& canvas) { canvas.setFillColor(color); });
    fill_ = color;
  }

  void fillRect(const Rect& rect) override {
    record([rect](ImageCanvas& canvas) { canvas.fillRect(rect); });
    const RECT area = deviceRect(rect);
    for (const Layer* layer : {&onBlack_, &onWhite_}) {
      const HBRUSH brush = CreateSolidBrush(layer->color(fill_));
      FillRect(layer->dc, &area, brush);
      DeleteObject(brush);
    }
  }

  void fillRoundedRect(const Rect& rect, double radius) override {
    record([rect, radius](ImageCanvas& canvas) { canvas.fillRoundedRect(rect, radius); });
    if (fill_.alpha == 0) {
      return;  // painting clear over something leaves it as it is
    }
    const RECT area = deviceRect(rect);
    const int diameter = static_cast<int>(std::lround(2 * radius * scale_));
    for (const Layer* layer : {&onBlack_, &onWhite_}) {
      const HRGN region =
          CreateRoundRectRgn(area.left, area.top, area.right, area.bottom, diameter, diameter);
      const HBRUSH brush = CreateSolidBrush(layer->color(fill_));
      FillRgn(layer->dc, region, brush);
      DeleteObject(brush);
      DeleteObject(region);
    }
  }

  void setStrokeColor(Color color) override {
    record([color](ImageCanvas& canvas) { canvas.setStrokeColor(color); });
    stroke_ = color;
  }

  void strokePath(const BezierPath& path) override {
    record([path](ImageCanvas& canvas) { canvas.strokePath(path); });
    if (path.points.empty()) {
      return;
    }
    std::vector<POINT> points;
    points.reserve(path.points.size());
    for (const Point& point : path.points) {
      points.push_back(devicePoint(point));
    }
    const auto width = static_cast<DWORD>(std::max(1L, std::lround(path.lineWidth * scale_)));
    for (const Layer* layer : {&onBlack_, &onWhite_}) {
      LOGBRUSH brush{BS_SOLID, layer->color(stroke_), 0};
      const HPEN pen = ExtCreatePen(
          PS_GEOMETRIC | PS_SOLID | penEndCap(path.lineCapStyle) | penJoin(path.lineJoinStyle),
          width, &brush, 0, nullptr);
      const HGDIOBJ previous = SelectObject(layer->dc, pen);
      Polyline(layer->dc, points.data(), static_cast<int>(points.size()));
      SelectObject(layer->dc, previous);
      DeleteObject(pen);
    }
  }

  void drawText(const std::string& text, const Rect& rect,
                const TextAttributes& attributes) override {
    record(
        [text, rect, attributes](ImageCanvas& canvas) { canvas.drawText(text, rect, attributes); });
    const int pixelHeight = static_cast<int>(std::lround(attributes.boldSystemFontSize * scale_));
    const HFONT font = CreateFontW(-pixelHeight, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                                   DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                   ANTIALIASED_QUALITY, DEFAULT_PITCH, L"Segoe UI");
    std::wstring wide = widen(text);
    for (const Layer* layer : {&onBlack_, &onWhite_}) {
      const HGDIOBJ previous = SelectObject(layer->dc, font);
      SetBkMode(layer->dc, TRANSPARENT);
      SetTextColor(layer->dc, layer->color(attributes.foregroundColor));
      RECT area = deviceRect(rect);
      DrawTextW(layer->dc, wide.data(), static_cast<int>(wide.size()), &area,
                textFormat(attributes.alignment) | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
      SelectObject(layer->dc, previous);
    }
    DeleteObject(font);
  }

  ImageRef finishImage(bool isTemplate) override {
    GdiFlush();
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width_) * height_);
    const int stride = width_ * kSupersampling;
    constexpr unsigned kSamples = kSupersampling * kSupersampling;
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        // The drawing on black is the colour already multiplied by alpha;
        // how much brighter it is on white is what shows through.
        unsigned red = 0;
        unsigned green = 0;
        unsigned blue = 0;
        unsigned alpha = 0;
        for (int dy = 0; dy < kSupersampling; ++dy) {
          for (int dx = 0; dx < kSupersampling; ++dx) {
            const std::size_t at = static_cast<std::size_t>(y * kSupersampling + dy) * stride +
                                   x * kSupersampling + dx;
            const std::uint32_t black = onBlack_.bits[at];
            const std::uint32_t white = onWhite_.bits[at];
            red += (black >> 16) & 0xFF;
            green += (black >> 8) & 0xFF;
            blue += black & 0xFF;
            const int through =
                static_cast<int>((white >> 8) & 0xFF) - static_cast<int>((black >> 8) & 0xFF);
            alpha += static_cast<unsigned>(255 - std::clamp(through, 0, 255));
          }
        }
        alpha /= kSamples;
        const auto straight = [&](unsigned sum) {
          return alpha == 0 ? 0u : std::min(255u, (sum / kSamples * 255 + alpha / 2) / alpha);
        };
        pixels[static_cast<std::size_t>(y) * width_ + x] =
            (alpha << 24) | (straight(red) << 16) | (straight(green) << 8) | straight(blue);
      }
    }
    return std::make_shared<Win32Image>(size_, isTemplate, width_, height_, std::move(pixels),
                                        iconPixels_, drawing_);
  }

 private:
  void record(std::function<void(ImageCanvas&)> step) { drawing_->push_back(std::move(step)); }

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
  int iconPixels_;
  std::shared_ptr<ImageDrawing> drawing_ = std::make_shared<ImageDrawing>();
  int width_ = 0;
  int height_ = 0;
  double scale_ = 1;
  Layer onBlack_;
  Layer onWhite_;
  Color fill_ = Color::black;
  Color stroke_ = Color::black;
};

class GdiGraphics final : public Graphics {
 public:
  std::unique_ptr<ImageCanvas> beginImage(Size size) override {
    return std::make_unique<GdiImageCanvas>(size, trayIconPixels());
  }
};

}  // namespace

int trayIconPixels() {
  // The taskbar's DPI, which follows the primary monitor's scaling; the
  // system DPI stays what it was when Quillmark started.
  UINT dpi = 0;
  UINT unused = 0;
  const HMONITOR primary = MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY);
  if (FAILED(GetDpiForMonitor(primary, MDT_EFFECTIVE_DPI, &dpi, &unused)) || dpi == 0) {
    dpi = GetDpiForSystem();
  }
  return trayIconPixelsAtDpi(dpi);
}

int trayIconPixelsAtDpi(UINT dpi) {
  return GetSystemMetricsForDpi(SM_CXSMICON, dpi);
}

ImageRef redrawnImage(const ImageRef& image, int iconPixels) {
  const auto& source = static_cast<const Win32Image&>(*image);
  if (!source.drawing() || source.iconPixels() == iconPixels) {
    return image;
  }
  GdiImageCanvas canvas(source.size(), iconPixels);
  for (const auto& step : *source.drawing()) {
    step(canvas);
  }
  return canvas.finishImage(source.isTemplate());
}

IconPixels iconPixels(Image& image, std::uint32_t tint) {
  const auto& source = static_cast<Win32Image&>(image);
  IconPixels icon;
  icon.width = source.width();
  icon.height = source.height();
  if (!source.isTemplate()) {
    icon.pixels = source.pixels();
    return icon;
  }
  // A template is drawn in one colour, by its alpha alone.
  icon.pixels.reserve(source.pixels().size());
  for (const std::uint32_t pixel : source.pixels()) {
    icon.pixels.push_back((pixel & 0xFF000000) | (tint & 0xFFFFFF));
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

std::uint32_t templateTint(bool lightTaskbar, std::optional<COLORREF> highContrastText) {
  if (highContrastText) {
    // COLORREF keeps red in its low byte.
    return (std::uint32_t{GetRValue(*highContrastText)} << 16) |
           (std::uint32_t{GetGValue(*highContrastText)} << 8) | GetBValue(*highContrastText);
  }
  return lightTaskbar ? 0x000000 : 0xFFFFFF;
}

std::uint32_t currentTemplateTint() {
  HIGHCONTRASTW contrast{};
  contrast.cbSize = sizeof contrast;
  const bool high = SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
                    (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
  return high ? templateTint(false, GetSysColor(COLOR_WINDOWTEXT))
              : templateTint(taskbarIsLight(), std::nullopt);
}

std::unique_ptr<Graphics> makeGraphics() {
  return std::make_unique<GdiGraphics>();
}

}  // namespace qm::windows
