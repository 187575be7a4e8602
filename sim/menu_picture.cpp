#include "menu_picture.h"

#include <algorithm>
#include <cstddef>
#include <variant>
#include <vector>

#include "cairo_replay.h"

namespace qm::simtool {

namespace {

// Points, in the look of macOS's light appearance. Letters are never
// measured, so that the drawing is the same on every machine: a menu is as
// wide as its longest title at an average letter's width.
constexpr double kMargin = 16;
constexpr double kBarHeight = 24;
constexpr double kRowHeight = 22;
constexpr double kSeparatorHeight = 11;
constexpr double kMenuPadding = 5;
constexpr double kTitleInset = 22;
constexpr double kMarkInset = 8;
constexpr double kRightInset = 14;
constexpr double kLetterWidth = 7.0;
constexpr double kFontSize = 13;
constexpr double kCaptionGap = 14;
constexpr double kCaptionHeight = 16;
constexpr double kCaptionFontSize = 11;
constexpr double kMinimumMenuWidth = 180;
constexpr double kRadius = 6;

constexpr Color kGround{255, 255, 255, 255};
constexpr Color kBar{236, 236, 236, 255};
constexpr Color kBarLine{208, 208, 208, 255};
constexpr Color kIconHighlight{200, 200, 200, 255};
constexpr Color kMenuBorder{196, 196, 196, 255};
constexpr Color kMenuGround{246, 246, 246, 255};
constexpr Color kSelection{10, 100, 216, 255};
constexpr Color kText{0, 0, 0, 255};
constexpr Color kDisabledText{150, 150, 150, 255};
constexpr Color kShortcutText{128, 128, 128, 255};
constexpr Color kSelectedText{255, 255, 255, 255};
constexpr Color kSeparator{214, 214, 214, 255};
constexpr Color kCaption{110, 110, 110, 255};

std::size_t letters(std::string_view text) {
  // UTF-8: count the bytes that start a character.
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// The items the user sees, in order.
std::vector<const sim::SimMenuItem*> visibleItems(const sim::SimMenu& menu) {
  std::vector<const sim::SimMenuItem*> items;
  for (const sim::SimMenuItemRef& item : menu.items()) {
    if (!item->hidden()) {
      items.push_back(item.get());
    }
  }
  return items;
}

// What AppKit shows at the right of an item for its key equivalent.
std::string shortcut(const sim::SimMenuItem& item) {
  const std::string& key = item.keyEquivalent();
  if (key.empty()) {
    return {};
  }
  std::string shown = "⌘";
  for (char c : key) {
    shown += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  }
  return shown;
}

double menuWidth(const std::vector<const sim::SimMenuItem*>& items) {
  double widest = 0;
  for (const sim::SimMenuItem* item : items) {
    const std::size_t extra = shortcut(*item).empty() && !item->submenu() ? 0 : 4;
    widest = std::max(widest, static_cast<double>(letters(item->title()) + extra) * kLetterWidth);
  }
  return std::max(kMinimumMenuWidth, kTitleInset + widest + kRightInset);
}

double menuHeight(const std::vector<const sim::SimMenuItem*>& items) {
  double height = 2 * kMenuPadding;
  for (const sim::SimMenuItem* item : items) {
    height += item->isSeparator() ? kSeparatorHeight : kRowHeight;
  }
  return height;
}

// Draws in top-down coordinates on a canvas whose y goes up.
class Sheet {
 public:
  Sheet(render::RecordingCanvas& canvas, double height) : canvas_(canvas), height_(height) {}

  Rect flip(double x, double top, double width, double height) const {
    return {x, height_ - top - height, width, height};
  }
  void fill(Color color, double x, double top, double width, double height) {
    canvas_.setFillColor(color);
    canvas_.fillRect(flip(x, top, width, height));
  }
  void fillRounded(Color color, double x, double top, double width, double height, double radius) {
    canvas_.setFillColor(color);
    canvas_.fillRoundedRect(flip(x, top, width, height), radius);
  }
  void text(const std::string& text, Color color, double size, TextAlignment alignment, double x,
            double top, double width, double height) {
    canvas_.drawText(text, flip(x, top, width, height), {size, color, alignment},
                     render::FontWeight::regular);
  }

  // A template image as the menu bar shows it: its clear ground left out,
  // the rest in the bar's ink.
  void templateImage(const render::RecordedImage& image, double x, double top) {
    const double bottom = height_ - top - image.size().height;
    const auto moved = [&](Rect rect) {
      rect.x += x;
      rect.y += bottom;
      return rect;
    };
    for (const render::DrawCommand& command : image.commands()) {
      if (const auto* fill = std::get_if<render::FillRectCommand>(&command)) {
        if (fill->color.alpha != 0) {
          canvas_.setFillColor(kText);
          canvas_.fillRect(moved(fill->rect));
        }
      } else if (const auto* rounded = std::get_if<render::FillRoundedRectCommand>(&command)) {
        canvas_.setFillColor(kText);
        canvas_.fillRoundedRect(moved(rounded->rect), rounded->radius);
      } else if (const auto* stroke = std::get_if<render::StrokePathCommand>(&command)) {
        BezierPath path = stroke->path;
        for (Point& point : path.points) {
          point.x += x;
          point.y += bottom;
        }
        canvas_.setStrokeColor(kText);
        canvas_.strokePath(path);
      } else if (const auto* glyphs = std::get_if<render::DrawTextCommand>(&command)) {
        TextAttributes attributes = glyphs->attributes;
        attributes.foregroundColor = kText;
        canvas_.drawText(glyphs->text, moved(glyphs->rect), attributes, glyphs->weight);
      }
    }
  }

 private:
  render::RecordingCanvas& canvas_;
  double height_;
};

// One open menu at (x, top); `open` is the item whose submenu is open, drawn
// selected. The top of each row, by item.
std::vector<double> drawMenu(Sheet& sheet, const std::vector<const sim::SimMenuItem*>& items,
                             double x, double top, double width, const sim::SimMenuItem* open) {
  const double height = menuHeight(items);
  sheet.fillRounded(kMenuBorder, x - 1, top - 1, width + 2, height + 2, kRadius + 1);
  sheet.fillRounded(kMenuGround, x, top, width, height, kRadius);
  std::vector<double> rows;
  double y = top + kMenuPadding;
  for (const sim::SimMenuItem* item : items) {
    rows.push_back(y);
    if (item->isSeparator()) {
      sheet.fill(kSeparator, x + 10, y + kSeparatorHeight / 2, width - 20, 1);
      y += kSeparatorHeight;
      continue;
    }
    const bool selected = item == open;
    if (selected) {
      sheet.fillRounded(kSelection, x + kMenuPadding, y, width - 2 * kMenuPadding, kRowHeight, 4);
    }
    const Color ink = selected ? kSelectedText : item->enabled() ? kText : kDisabledText;
    if (item->state() == kControlStateValueOn) {
      sheet.text("✓", ink, kFontSize, TextAlignment::left, x + kMarkInset, y,
                 kTitleInset - kMarkInset, kRowHeight);
    }
    sheet.text(item->title(), ink, kFontSize, TextAlignment::left, x + kTitleInset, y,
               width - kTitleInset - kRightInset, kRowHeight);
    const std::string right = item->submenu() ? "›" : shortcut(*item);
    if (!right.empty()) {
      sheet.text(right, selected ? kSelectedText : kShortcutText, kFontSize, TextAlignment::right,
                 x + kTitleInset, y, width - kTitleInset - kRightInset, kRowHeight);
    }
    y += kRowHeight;
  }
  return rows;
}

}  // namespace

std::shared_ptr<render::RecordedImage> drawMenuPicture(const sim::SimStatusItem& item) {
  const std::vector<const sim::SimMenuItem*> items =
      item.menu() ? visibleItems(*item.menu()) : std::vector<const sim::SimMenuItem*>{};
  const auto holder = std::find_if(items.begin(), items.end(),
                                   [](const sim::SimMenuItem* row) { return row->submenu(); });
  const sim::SimMenuItem* open = holder != items.end() ? *holder : nullptr;
  const std::vector<const sim::SimMenuItem*> subitems =
      open ? visibleItems(*open->submenu()) : std::vector<const sim::SimMenuItem*>{};

  // The open submenu's first row sits level with the item that holds it.
  const double width = items.empty() ? 0 : menuWidth(items);
  const double subwidth = subitems.empty() ? 0 : menuWidth(subitems);
  double openTop = kMenuPadding;
  for (const sim::SimMenuItem* row : items) {
    if (row == open) {
      break;
    }
    openTop += row->isSeparator() ? kSeparatorHeight : kRowHeight;
  }
  const double menuTop = kMargin + kBarHeight + 1;
  const double menusBottom = std::max(
      items.empty() ? menuTop : menuTop + menuHeight(items),
      subitems.empty() ? menuTop : menuTop + openTop - kMenuPadding + menuHeight(subitems));
  const double pictureWidth =
      2 * kMargin + std::max({width + (subwidth > 0 ? subwidth - 2 : 0), 24.0,
                              letters(kMenuPictureCaption) * kCaptionFontSize * 0.6});
  const double pictureHeight = menusBottom + kCaptionGap + kCaptionHeight + kMargin;

  render::RecordingCanvas canvas({pictureWidth, pictureHeight});
  Sheet sheet(canvas, pictureHeight);
  sheet.fill(kGround, 0, 0, pictureWidth, pictureHeight);
  sheet.fill(kBar, 0, kMargin, pictureWidth, kBarHeight);
  sheet.fill(kBarLine, 0, kMargin + kBarHeight - 1, pictureWidth, 1);
  // The status item, highlighted while its menu is open.
  const double iconX = kMargin + 8;
  if (item.image()) {
    const Size icon = item.image()->size();
    sheet.fillRounded(kIconHighlight, iconX - 4, kMargin + 1, icon.width + 8, kBarHeight - 2, 4);
    sheet.templateImage(*item.image(), iconX, kMargin + (kBarHeight - icon.height) / 2);
  }
  if (!items.empty()) {
    drawMenu(sheet, items, kMargin, menuTop, width, open);
  }
  if (!subitems.empty()) {
    drawMenu(sheet, subitems, kMargin + width - 2, menuTop + openTop - kMenuPadding, subwidth,
             nullptr);
  }
  sheet.text(std::string(kMenuPictureCaption), kCaption, kCaptionFontSize, TextAlignment::left,
             kMargin, menusBottom + kCaptionGap, pictureWidth - 2 * kMargin, kCaptionHeight);
  return std::dynamic_pointer_cast<render::RecordedImage>(canvas.finishImage(false));
}

bool writeMenuPicture(const sim::SimStatusItem& item, const std::string& path, std::string* error) {
  return render::writePng(*drawMenuPicture(item), 2.0, path, "the picture", error);
}

}  // namespace qm::simtool
