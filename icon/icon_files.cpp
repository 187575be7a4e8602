#include "icon_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qm::icons {

namespace {

void little16(Bytes& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}
void little32(Bytes& out, std::uint32_t value) {
  little16(out, value & 0xFFFF);
  little16(out, value >> 16);
}
void big32(Bytes& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
  auto* out = static_cast<Bytes*>(closure);
  out->insert(out->end(), data, data + length);
  return CAIRO_STATUS_SUCCESS;
}

// The pixel at (x, y) from the top-left corner, un-premultiplied, as
// 0xAARRGGBB: cairo keeps its colours multiplied by alpha, files do not.
std::uint32_t straightPixel(cairo_surface_t* surface, int x, int y) {
  const unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  std::uint32_t pixel = 0;
  std::memcpy(&pixel, data + y * stride + x * 4, sizeof pixel);
  const std::uint32_t alpha = pixel >> 24;
  if (alpha == 0 || alpha == 255) {
    return alpha == 0 ? 0 : pixel;
  }
  std::uint32_t straight = alpha << 24;
  for (int shift = 0; shift < 24; shift += 8) {
    const std::uint32_t channel = (pixel >> shift) & 0xFF;
    straight |= std::min<std::uint32_t>(255, (channel * 255 + alpha / 2) / alpha) << shift;
  }
  return straight;
}

// The image as an icon resource's bitmap: a BITMAPINFOHEADER of twice the
// height (colour and mask), the BGRA rows bottom-up, then the 1-bit AND
// mask, set where the pixel is fully transparent.
Bytes iconBitmap(cairo_surface_t* surface, int side) {
  Bytes out;
  little32(out, 40);
  little32(out, static_cast<std::uint32_t>(side));
  little32(out, static_cast<std::uint32_t>(side * 2));
  little16(out, 1);   // planes
  little16(out, 32);  // bits per pixel
  little32(out, 0);   // BI_RGB
  const int maskStride = ((side + 31) / 32) * 4;
  little32(out, static_cast<std::uint32_t>(side * side * 4 + maskStride * side));
  for (int i = 0; i < 4; ++i) {
    little32(out, 0);  // resolution and palette: unused
  }
  for (int y = side - 1; y >= 0; --y) {
    for (int x = 0; x < side; ++x) {
      little32(out, straightPixel(surface, x, y));
    }
  }
  for (int y = side - 1; y >= 0; --y) {
    Bytes row(static_cast<std::size_t>(maskStride), 0);
    for (int x = 0; x < side; ++x) {
      if (straightPixel(surface, x, y) >> 24 == 0) {
        row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
      }
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

}  // namespace

Bytes pngBytes(cairo_surface_t* surface) {
  Bytes out;
  cairo_surface_write_to_png_stream(surface, &appendBytes, &out);
  return out;
}

Bytes icoFile(const std::vector<IconImage>& images) {
  std::vector<Bytes> data;
  for (const IconImage& image : images) {
    data.push_back(image.side >= 256 ? pngBytes(image.surface)
                                     : iconBitmap(image.surface, image.side));
  }
  Bytes out;
  little16(out, 0);  // reserved
  little16(out, 1);  // an icon, not a cursor
  little16(out, static_cast<std::uint32_t>(images.size()));
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    // 256 is written as 0: the field is one byte.
    const auto side = static_cast<std::uint8_t>(images[i].side >= 256 ? 0 : images[i].side);
    out.push_back(side);
    out.push_back(side);
    out.push_back(0);  // no palette
    out.push_back(0);  // reserved
    little16(out, 1);  // colour planes
    little16(out, 32);
    little32(out, static_cast<std::uint32_t>(data[i].size()));
    little32(out, offset);
    offset += static_cast<std::uint32_t>(data[i].size());
  }
  for (const Bytes& image : data) {
    out.insert(out.end(), image.begin(), image.end());
  }
  return out;
}

Bytes icnsFile(const std::vector<IcnsEntry>& entries) {
  Bytes body;
  for (const IcnsEntry& entry : entries) {
    const Bytes png = pngBytes(entry.surface);
    body.insert(body.end(), entry.type, entry.type + 4);
    big32(body, static_cast<std::uint32_t>(png.size() + 8));
    body.insert(body.end(), png.begin(), png.end());
  }
  Bytes out = {'i', 'c', 'n', 's'};
  big32(out, static_cast<std::uint32_t>(body.size() + 8));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Bytes bmpFile(cairo_surface_t* surface) {
  const int width = cairo_image_surface_get_width(surface);
  const int height = cairo_image_surface_get_height(surface);
  const int stride = (width * 3 + 3) / 4 * 4;
  const auto pixelBytes = static_cast<std::uint32_t>(stride * height);
  Bytes out = {'B', 'M'};
  little32(out, 14 + 40 + pixelBytes);
  little32(out, 0);        // reserved
  little32(out, 14 + 40);  // where the pixels start
  little32(out, 40);
  little32(out, static_cast<std::uint32_t>(width));
  little32(out, static_cast<std::uint32_t>(height));  // positive: bottom-up
  little16(out, 1);
  little16(out, 24);
  little32(out, 0);  // BI_RGB
  little32(out, pixelBytes);
  little32(out, 2835);  // 72 dpi, in pixels per metre
  little32(out, 2835);
  little32(out, 0);
  little32(out, 0);
  for (int y = height - 1; y >= 0; --y) {
    const std::size_t start = out.size();
    for (int x = 0; x < width; ++x) {
      const std::uint32_t pixel = straightPixel(surface, x, y);
      out.push_back(static_cast<std::uint8_t>(pixel));
      out.push_back(static_cast<std::uint8_t>(pixel >> 8));
      out.push_back(static_cast<std::uint8_t>(pixel >> 16));
    }
    out.resize(start + static_cast<std::size_t>(stride), 0);
  }
  return out;
}

bool writeFile(const std::string& path, const Bytes& bytes, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const int cause = errno;
  if (std::fclose(file) != 0 || !written) {
    *error = "cannot write " + path + ": " + std::strerror(written ? errno : cause);
    return false;
  }
  return true;
}

}  // namespace qm::icons
