#include "home_folder.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "app_delegate.h"

namespace qm::simtool {

namespace fs = std::filesystem;

namespace {

// Everything the simulated world may leave in a home, with its type.
struct Made {
  std::string path;
  fs::file_type type;
};

std::vector<Made> madeByTheWorld() {
  const std::string agent = "Library/LaunchAgents/" + std::string(kLaunchAgentFileName);
  return {
      {std::string(kHomeMarker), fs::file_type::regular},
      {"Library", fs::file_type::directory},
      {"Library/Logs", fs::file_type::directory},
      {std::string(kLogPathInHome), fs::file_type::regular},
      {"Library/LaunchAgents", fs::file_type::directory},
      {agent, fs::file_type::regular},
      {"Applications", fs::file_type::directory},
      {"Applications/Quillmark.app", fs::file_type::directory},
      {"Applications/Quillmark.app/Contents", fs::file_type::directory},
      {"Applications/Quillmark.app/Contents/MacOS", fs::file_type::directory},
      {std::string(kExecutableInHome), fs::file_type::regular},
      {std::string(kWatcherInHome), fs::file_type::regular},
  };
}

// The application writes a file through ".NAME.<stamp>.<n>.tmp" beside it;
// one may be left when a run is interrupted.
bool isLeftoverOfAtomicWrite(const fs::path& relative, const std::vector<Made>& made) {
  const std::string name = relative.filename().string();
  if (!name.starts_with('.') || !name.ends_with(".tmp")) {
    return false;
  }
  return std::any_of(made.begin(), made.end(), [&](const Made& entry) {
    const fs::path target(entry.path);
    const std::string stem = target.filename().string();
    return entry.type == fs::file_type::regular && target.parent_path() == relative.parent_path() &&
           name.size() > stem.size() + 2 && name.compare(1, stem.size(), stem) == 0 &&
           name[stem.size() + 1] == '.';
  });
}

// The entries of a folder in name order, so that "the first" is the same
// on every run and every file system.
std::vector<fs::path> sortedEntries(const fs::path& folder, std::error_code& error) {
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    entries.push_back(it->path());
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

// The first entry under `folder`, depth first in name order, that the world
// does not make, relative to `home`; or nothing.
std::optional<std::string> firstForeignEntry(const fs::path& home, const fs::path& folder,
                                             const std::vector<Made>& made,
                                             std::error_code& error) {
  for (const fs::path& entry : sortedEntries(folder, error)) {
    const fs::path relative = entry.lexically_relative(home);
    const fs::file_type type = fs::symlink_status(entry, error).type();
    const bool known =
        std::any_of(made.begin(), made.end(),
                    [&](const Made& item) {
                      return item.path == relative.generic_string() && item.type == type;
                    }) ||
        (type == fs::file_type::regular && isLeftoverOfAtomicWrite(relative, made));
    if (!known) {
      return relative.generic_string();
    }
    if (type == fs::file_type::directory) {
      if (std::optional<std::string> below = firstForeignEntry(home, entry, made, error)) {
        return below;
      }
    }
    if (error) {
      break;
    }
  }
  return std::nullopt;
}

}  // namespace

Home::~Home() {
  if (temporary_ && !path_.empty()) {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
}

bool Home::makeTemporary(std::string* reason) {
  std::string pattern = (fs::temp_directory_path() / "quillmark-sim-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    *reason = "cannot make a temporary home folder";
    return false;
  }
  path_ = pattern;
  temporary_ = true;
  return mark(reason);
}

bool Home::use(const std::string& given, std::string* reason) {
  std::error_code error;
  const fs::path path = fs::absolute(given, error).lexically_normal();
  path_ = path.string();
  while (path_.size() > 1 && path_.back() == '/') {
    path_.pop_back();
  }
  if (fs::exists(path, error)) {
    if (!fs::is_directory(path, error)) {
      *reason = "--home " + given + " is not a folder";
      return false;
    }
    const bool ours =
        fs::symlink_status(path / kHomeMarker, error).type() == fs::file_type::regular;
    if (!ours) {
      const std::vector<fs::path> entries = sortedEntries(path, error);
      if (error) {
        *reason = "--home " + given + ": " + error.message();
        return false;
      }
      if (!entries.empty()) {
        *reason = "--home " + given + " is not empty and was not made by quillmark-sim: it holds " +
                  entries.front().filename().string() +
                  "; choose an empty folder or one that quillmark-sim made";
        return false;
      }
    }
    if (ours) {
      const std::optional<std::string> foreign =
          firstForeignEntry(path, path, madeByTheWorld(), error);
      if (error) {
        *reason = "--home " + given + ": " + error.message();
        return false;
      }
      if (foreign) {
        *reason = "--home " + given + " holds " + *foreign +
                  ", which quillmark-sim did not make; move it away or choose another folder";
        return false;
      }
      // An earlier run's files would disturb this one's expectations.
      for (const char* top : {"Library", "Applications"}) {
        fs::remove_all(path / top, error);
      }
    }
  }
  fs::create_directories(path, error);
  if (error) {
    *reason = "--home " + given + ": " + error.message();
    return false;
  }
  return mark(reason);
}

bool Home::mark(std::string* reason) {
  std::ofstream marker(fs::path(path_) / kHomeMarker);
  if (!marker) {
    *reason = "cannot write in the home folder " + path_;
    return false;
  }
  return true;
}

bool staysUnderHome(const std::string& home, const std::string& relative) {
  std::error_code error;
  const fs::path base = fs::canonical(home, error);
  if (error) {
    return false;
  }
  const fs::path target = fs::weakly_canonical(base / relative, error);
  if (error) {
    return false;
  }
  auto [baseEnd, targetEnd] = std::mismatch(base.begin(), base.end(), target.begin(), target.end());
  return baseEnd == base.end();
}

}  // namespace qm::simtool
