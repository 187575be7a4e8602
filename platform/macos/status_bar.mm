// The status item, its menu and the menu items over NSStatusBar, NSMenu and
// NSMenuItem. Each C++ object owns what its AppKit counterpart holds (a menu
// its items, an item its submenu, the status item its menu), so an item and
// its target stay alive as long as a menu shows the item.

#import <AppKit/AppKit.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "appkit_objects.h"
#include "macos_platform.h"

// A menu item's target: forwards the click to the item's action with the C++
// item as sender.
@interface QMMenuItemTarget : NSObject
- (instancetype)initWithAction:(qm::MenuAction)action sender:(qm::MenuItem*)sender;
- (void)menuItemChosen:(id)sender;
@end

@implementation QMMenuItemTarget {
  qm::MenuAction _action;
  // The item that owns this target, and so outlives it.
  qm::MenuItem* _sender;
}

- (instancetype)initWithAction:(qm::MenuAction)action sender:(qm::MenuItem*)sender {
  self = [super init];
  if (self != nil) {
    _action = std::move(action);
    _sender = sender;
  }
  return self;
}

- (void)menuItemChosen:(id)sender {
  (void)sender;
  const qm::MenuAction action = _action;
  action(*_sender);
}

@end

namespace qm::macos {
namespace {

static_assert(NSControlStateValueOff == kControlStateValueOff);
static_assert(NSControlStateValueOn == kControlStateValueOn);

class MacMenuItem final : public MenuItem {
 public:
  // An item made by the status bar port, with or without an action.
  MacMenuItem(const std::string& title, MenuAction action, const std::string& keyEquivalent) {
    SEL selector = nullptr;
    if (action) {
      target_ = [[QMMenuItemTarget alloc] initWithAction:std::move(action) sender:this];
      selector = @selector(menuItemChosen:);
    }
    item_ = [[NSMenuItem alloc] initWithTitle:toNSString(title)
                                       action:selector
                                keyEquivalent:toNSString(keyEquivalent)];
    if (target_ != nil) {
      [item_ setTarget:target_];
    }
  }
  explicit MacMenuItem(NSMenuItem* item) : item_(item) {}
  MacMenuItem(const MacMenuItem&) = delete;
  MacMenuItem& operator=(const MacMenuItem&) = delete;

  void setTitle(const std::string& title) override { [item_ setTitle:toNSString(title)]; }
  void setEnabled(bool enabled) override { [item_ setEnabled:enabled]; }
  void setHidden(bool hidden) override { [item_ setHidden:hidden]; }
  void setState(int state) override { [item_ setState:static_cast<NSControlStateValue>(state)]; }
  void setTag(std::int64_t tag) override { [item_ setTag:static_cast<NSInteger>(tag)]; }
  std::int64_t tag() const override { return [item_ tag]; }
  void setSubmenu(MenuRef submenu) override;

  NSMenuItem* nsMenuItem() const { return item_; }

 private:
  NSMenuItem* item_ = nil;
  // NSMenuItem holds its target weakly.
  QMMenuItemTarget* target_ = nil;
  MenuRef submenu_;
};

class MacMenu final : public Menu {
 public:
  explicit MacMenu(const std::string& title)
      : menu_([[NSMenu alloc] initWithTitle:toNSString(title)]) {}

  void addItem(MenuItemRef item) override {
    [menu_ addItem:static_cast<MacMenuItem&>(*item).nsMenuItem()];
    items_.push_back(std::move(item));
  }

  NSMenu* nsMenu() const { return menu_; }

 private:
  NSMenu* menu_;
  std::vector<MenuItemRef> items_;
};

void MacMenuItem::setSubmenu(MenuRef submenu) {
  [item_ setSubmenu:(submenu ? static_cast<MacMenu&>(*submenu).nsMenu() : nil)];
  submenu_ = std::move(submenu);
}

class MacStatusItem final : public StatusItem {
 public:
  explicit MacStatusItem(NSStatusItem* item) : item_(item) {}

  void setImage(ImageRef image) override {
    [[item_ button] setImage:(image ? static_cast<MacImage&>(*image).nsImage() : nil)];
  }
  void setToolTip(const std::string& toolTip) override {
    [[item_ button] setToolTip:toNSString(toolTip)];
  }
  void setMenu(MenuRef menu) override {
    [item_ setMenu:(menu ? static_cast<MacMenu&>(*menu).nsMenu() : nil)];
    menu_ = std::move(menu);
  }

 private:
  NSStatusItem* item_;
  MenuRef menu_;
};

class MacStatusBar final : public StatusBar {
 public:
  StatusItemRef statusItemWithLength(double length) override {
    return std::make_shared<MacStatusItem>(
        [[NSStatusBar systemStatusBar] statusItemWithLength:length]);
  }

  MenuRef createMenu(const std::string& title) override { return std::make_shared<MacMenu>(title); }

  MenuItemRef createMenuItem(const std::string& title, MenuAction action,
                             const std::string& keyEquivalent) override {
    return std::make_shared<MacMenuItem>(title, std::move(action), keyEquivalent);
  }

  MenuItemRef separatorItem() override {
    return std::make_shared<MacMenuItem>([NSMenuItem separatorItem]);
  }
};

}  // namespace

std::unique_ptr<StatusBar> makeStatusBar() {
  return std::make_unique<MacStatusBar>();
}

}  // namespace qm::macos
