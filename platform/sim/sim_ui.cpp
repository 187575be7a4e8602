#include "sim_ui.h"

#include <stdexcept>

namespace qm::sim {
namespace {

// The port hands us its own base types; anything else is a wiring bug.
template <typename Sim, typename Port>
std::shared_ptr<Sim> simObject(const std::shared_ptr<Port>& object, const char* what) {
  if (!object) {
    return nullptr;
  }
  auto sim = std::dynamic_pointer_cast<Sim>(object);
  if (!sim) {
    throw std::logic_error(std::string(what) + " was not made by the simulated desktop");
  }
  return sim;
}

}  // namespace

// ---------------------------------------------------------------------------
// Menus

SimMenuItem::SimMenuItem(std::string title, MenuAction action, std::string keyEquivalent,
                         bool separator)
    : title_(std::move(title)),
      action_(std::move(action)),
      keyEquivalent_(std::move(keyEquivalent)),
      separator_(separator) {}

SimMenuItem::~SimMenuItem() {
  if (submenu_) {
    submenu_->hasSupermenu_ = false;
  }
}

bool SimMenuItem::enabled() const {
  return !separator_ && (hasAction() || submenu_ != nullptr);
}

void SimMenuItem::setSubmenu(MenuRef submenu) {
  SimMenuRef menu = simObject<SimMenu>(submenu, "submenu");
  if (menu == submenu_) {
    return;
  }
  if (menu && menu->hasSupermenu_) {
    throw std::logic_error("menu \"" + menu->title() + "\" already has a supermenu");
  }
  if (submenu_) {
    submenu_->hasSupermenu_ = false;
  }
  if (menu) {
    menu->hasSupermenu_ = true;
  }
  submenu_ = std::move(menu);
}

void SimMenu::addItem(MenuItemRef item) {
  SimMenuItemRef simItem = simObject<SimMenuItem>(item, "menu item");
  if (!simItem) {
    throw std::logic_error("adding a null menu item");
  }
  if (simItem->inMenu_) {
    throw std::logic_error("menu item \"" + simItem->title() + "\" is already in a menu");
  }
  simItem->inMenu_ = true;
  items_.push_back(std::move(simItem));
}

SimMenuItemRef SimMenu::item(const std::string& title) const {
  for (const SimMenuItemRef& candidate : items_) {
    if (!candidate->isSeparator() && candidate->title() == title) {
      return candidate;
    }
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// SimStatusItem

void SimStatusItem::setImage(ImageRef image) {
  image_ = simObject<render::RecordedImage>(image, "image");
}

void SimStatusItem::setMenu(MenuRef menu) {
  menu_ = simObject<SimMenu>(menu, "menu");
}

}  // namespace qm::sim
