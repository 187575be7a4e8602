#include "icon_renderer.h"

#include "app_delegate.h"
#include "cairo_replay.h"
#include "sim_process.h"
#include "sim_world.h"

namespace qm::simtool {

std::shared_ptr<render::RecordedImage> drawMenuBarIcon() {
  // A process of its own: the icon does not depend on the scenario.
  sim::World world("/nonexistent");
  sim::Process process(world);
  ImageRef image;
  {
    AppDelegate delegate(process.platform());
    process.run([&] { image = delegate.menuBarIconImage(); });
  }
  return std::dynamic_pointer_cast<render::RecordedImage>(image);
}

bool writeIconFiles(const std::string& path, std::string* secondPath, std::string* error) {
  constexpr std::string_view kSuffix = ".png";
  if (path.size() <= kSuffix.size() ||
      path.compare(path.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) {
    *error = "--icon needs a file name ending in .png, not " + path;
    return false;
  }
  *secondPath = path.substr(0, path.size() - kSuffix.size()) + "@2x.png";
  const std::shared_ptr<render::RecordedImage> icon = drawMenuBarIcon();
  if (!icon) {
    *error = "the application drew no icon";
    return false;
  }
  return render::writePng(*icon, 1.0, path, "the icon", error) &&
         render::writePng(*icon, 2.0, *secondPath, "the icon", error);
}

}  // namespace qm::simtool
