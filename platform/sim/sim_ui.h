// The simulated status bar and menus: the port objects that the application
// builds, readable by tests as a plain tree. Its images are recorded
// (recording_canvas.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform.h"
#include "recording_canvas.h"

namespace qm::sim {

// ---------------------------------------------------------------------------
// Menus

class SimMenu;

class SimMenuItem final : public qm::MenuItem {
 public:
  SimMenuItem(std::string title, MenuAction action, std::string keyEquivalent, bool separator);
  ~SimMenuItem() override;
  SimMenuItem(const SimMenuItem&) = delete;
  SimMenuItem& operator=(const SimMenuItem&) = delete;

  void setTitle(const std::string& title) override { title_ = title; }
  void setEnabled(bool enabled) override { enabledFlag_ = enabled; }
  void setHidden(bool hidden) override { hidden_ = hidden; }
  void setState(int state) override { state_ = state; }
  void setTag(std::int64_t tag) override { tag_ = tag; }
  std::int64_t tag() const override { return tag_; }
  // Throws std::logic_error when the menu already hangs under another item,
  // as AppKit refuses that too.
  void setSubmenu(MenuRef submenu) override;

  const std::string& title() const { return title_; }
  // As the user sees it. Menus enable their items automatically, so this is
  // "has an action or a submenu"; setEnabled() does not change it.
  bool enabled() const;
  // The last value given to setEnabled() (true until then).
  bool enabledFlag() const { return enabledFlag_; }
  bool hidden() const { return hidden_; }
  int state() const { return state_; }
  const std::string& keyEquivalent() const { return keyEquivalent_; }
  bool isSeparator() const { return separator_; }
  bool hasAction() const { return static_cast<bool>(action_); }
  const std::shared_ptr<SimMenu>& submenu() const { return submenu_; }
  const MenuAction& action() const { return action_; }

 private:
  friend class SimMenu;

  std::string title_;
  MenuAction action_;
  std::string keyEquivalent_;
  bool separator_;
  bool enabledFlag_ = true;
  bool hidden_ = false;
  int state_ = kControlStateValueOff;
  std::int64_t tag_ = 0;
  std::shared_ptr<SimMenu> submenu_;
  bool inMenu_ = false;
};
using SimMenuItemRef = std::shared_ptr<SimMenuItem>;

class SimMenu final : public qm::Menu {
 public:
  explicit SimMenu(std::string title) : title_(std::move(title)) {}
  // Throws std::logic_error for an item that is already in a menu.
  void addItem(MenuItemRef item) override;

  const std::string& title() const { return title_; }
  const std::vector<SimMenuItemRef>& items() const { return items_; }
  // The first item whose current title is `title`, or null.
  SimMenuItemRef item(const std::string& title) const;

 private:
  friend class SimMenuItem;

  std::string title_;
  std::vector<SimMenuItemRef> items_;
  bool hasSupermenu_ = false;
};
using SimMenuRef = std::shared_ptr<SimMenu>;

class SimStatusItem final : public qm::StatusItem {
 public:
  explicit SimStatusItem(double length) : length_(length) {}
  void setImage(ImageRef image) override;
  void setToolTip(const std::string& toolTip) override { toolTip_ = toolTip; }
  void setMenu(MenuRef menu) override;

  double length() const { return length_; }
  const std::shared_ptr<render::RecordedImage>& image() const { return image_; }
  const std::string& toolTip() const { return toolTip_; }
  const SimMenuRef& menu() const { return menu_; }

 private:
  double length_;
  std::shared_ptr<render::RecordedImage> image_;
  std::string toolTip_;
  SimMenuRef menu_;
};
using SimStatusItemRef = std::shared_ptr<SimStatusItem>;

}  // namespace qm::sim
