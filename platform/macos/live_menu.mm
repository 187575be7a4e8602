// Live's own Save command, pressed through Accessibility in the background:
// no activation and no key event. The item is told by its shortcut, read
// from outside, and chosen by the core (save_shortcut.h), never by its
// title, which Live translates. One look: the first message Live lets time
// out ends it (ax_element.h).
#import <AppKit/AppKit.h>
#import <ApplicationServices/ApplicationServices.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "appkit_objects.h"
#include "ax_element.h"
#include "macos_platform.h"
#include "save_shortcut.h"

namespace qm::macos {
namespace {

// The menus' items in menu order, with what the core needs of each.
struct MenuItems {
  std::vector<id> elements;
  std::vector<MenuItemFacts> facts;

  // The core takes the first item that saves; nothing after it counts.
  bool foundSave() const {
    return !facts.empty() && facts.back().savesByShortcut && !facts.back().hasSubmenu;
  }
};

// Collects the items of `menu` (an AXMenu), and of the submenus of its items
// down to `submenuLevels` deep: File > Save Live Set lies one level down at
// most.
void collectItems(AXLook& look, id menu, int submenuLevels, MenuItems& items) {
  NSArray* attributes = @[
    (__bridge NSString*)kAXMenuItemCmdCharAttribute,
    (__bridge NSString*)kAXMenuItemCmdModifiersAttribute,
    (__bridge NSString*)kAXEnabledAttribute,
    (__bridge NSString*)kAXChildrenAttribute,
  ];
  for (id item in copyElements(look, menu, kAXChildrenAttribute)) {
    // A separator or an item of another kind reads as no shortcut.
    NSArray* values = copyAttributes(look, item, attributes);
    if (values == nil) {
      if (look.unanswered()) {
        return;
      }
      continue;
    }
    id character = values[0];
    id modifiers = values[1];
    id enabled = values[2];
    NSArray* submenus = [values[3] isKindOfClass:[NSArray class]] ? values[3] : @[];
    MenuItemFacts facts;
    facts.savesByShortcut = [character isKindOfClass:[NSString class]] &&
                            [modifiers isKindOfClass:[NSNumber class]] &&
                            isMacSaveShortcut(toStdString(character), [modifiers longValue]);
    facts.hasSubmenu = [submenus count] > 0;
    facts.enabled = [enabled isKindOfClass:[NSNumber class]] && [enabled boolValue];
    items.elements.push_back(item);
    items.facts.push_back(facts);
    if (items.foundSave()) {
      return;
    }
    if (facts.hasSubmenu && submenuLevels > 0) {
      for (id submenu in submenus) {
        collectItems(look, submenu, submenuLevels - 1, items);
        if (items.foundSave() || look.unanswered()) {
          return;
        }
      }
    }
  }
}

class AXApplicationMenus final : public ApplicationMenus {
 public:
  AXApplicationMenus() { useShortMessagingTimeout(); }

  Reply<Press> pressSaveCommand(int pid) override {
    AXLook look;
    MenuItems items;
    // The menu bar's items (Live, File, Edit, ...) each hold one AXMenu.
    id menuBar = copyElement(look, applicationElement(pid), kAXMenuBarAttribute);
    for (id menuBarItem in copyElements(look, menuBar, kAXChildrenAttribute)) {
      for (id menu in copyElements(look, menuBarItem, kAXChildrenAttribute)) {
        collectItems(look, menu, 1, items);
        if (items.foundSave()) {
          break;
        }
      }
      if (items.foundSave() || look.unanswered()) {
        break;
      }
    }
    if (look.unanswered()) {
      return processRuns(pid) ? Reply<Press>::noAnswer() : Reply<Press>(Press::missing);
    }
    std::size_t index = 0;
    const Press press = chooseSaveCommand(items.facts, &index);
    if (press != Press::pressed) {
      return press;
    }
    // Live may hold the press while it asks where to save a new set: that
    // is no answer, not a failure.
    switch (look.ask([&] {
      return AXUIElementPerformAction((__bridge AXUIElementRef)items.elements[index],
                                      kAXPressAction);
    })) {
      case AXAnswer::reading:
        return Press::pressed;
      case AXAnswer::noAnswer:
        return Reply<Press>::noAnswer();
      case AXAnswer::none:
        return Press::missing;
    }
    return Press::missing;
  }
};

}  // namespace

std::unique_ptr<ApplicationMenus> makeApplicationMenus() {
  return std::make_unique<AXApplicationMenus>();
}

}  // namespace qm::macos
