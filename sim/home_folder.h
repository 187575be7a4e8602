// The simulated user's home folder: what the simulated world makes in it,
// the rules for reusing a folder an earlier run made, and paths that must
// stay inside it.
#pragma once

#include <string>
#include <string_view>

namespace qm::simtool {

// The application bundle's two executables, relative to the home.
inline constexpr std::string_view kExecutableInHome =
    "Applications/Quillmark.app/Contents/MacOS/Quillmark";
inline constexpr std::string_view kWatcherInHome =
    "Applications/Quillmark.app/Contents/MacOS/QuillmarkWatcher";
// Marks a home folder that quillmark-sim made.
inline constexpr std::string_view kHomeMarker = ".quillmark-sim-home";

// The home folder: made for this run and removed at exit, or given.
class Home {
 public:
  Home() = default;
  ~Home();
  Home(const Home&) = delete;
  Home& operator=(const Home&) = delete;

  // A new folder under the system's temporary folder.
  bool makeTemporary(std::string* reason);
  // A given folder, made when missing. It must be empty, or hold nothing but
  // what the simulated world makes under a marked home: then that is removed.
  // Anything else is refused with its name and left as it is.
  bool use(const std::string& given, std::string* reason);

  const std::string& path() const { return path_; }
  bool temporary() const { return temporary_; }

 private:
  bool mark(std::string* reason);

  std::string path_;
  bool temporary_ = false;
};

// True when `relative` names a place under `home` once every symbolic link
// on its way is followed (the place itself need not exist).
bool staysUnderHome(const std::string& home, const std::string& relative);

}  // namespace qm::simtool
