// Where the watcher thinks the bundle and Quillmark's executable are.
#include <gtest/gtest.h>

#include <string>

#include "support.h"
#include "watcher.h"

namespace {

using qmtest::fs::path;

struct Derived {
  bool ok;
  std::string app;
  std::string executable;
};

Derived derive(const std::string& own_path, size_t app_capacity = kPathCapacity,
               size_t executable_capacity = kPathCapacity) {
  std::string app(app_capacity, '\x7f');
  std::string executable(executable_capacity, '\x7f');
  int ok = derive_paths_from_helper(own_path.c_str(), app.data(), app_capacity, executable.data(),
                                    executable_capacity);
  return {ok == 1, ok ? app.c_str() : "", ok ? executable.c_str() : ""};
}

// A nonexistent path whose app part ("/<a...>.app") is exactly app_length
// bytes, so realpath fails and the path is searched as given.
std::string unresolvable_helper(size_t app_length) {
  std::string app = "/qm-no-such-dir-" + std::string(app_length - 20, 'a') + ".app";
  EXPECT_EQ(app.size(), app_length);
  return app + "/Contents/MacOS/QuillmarkWatcher";
}

TEST(DerivePaths, InstalledBundleGivesBundleAndSiblingExecutable) {
  Derived d = derive("/Applications/Quillmark.app/Contents/MacOS/QuillmarkWatcher");
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.app, "/Applications/Quillmark.app");
  EXPECT_EQ(d.executable, "/Applications/Quillmark.app/Contents/MacOS/Quillmark");
}

TEST(DerivePaths, ExecutableNameIsFixedNotTakenFromOwnName) {
  Derived d = derive("/opt/Q.app/Contents/MacOS/SomethingElse");
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.executable, "/opt/Q.app/Contents/MacOS/Quillmark");
}

TEST(DerivePaths, SymbolicLinkResolvesToTheRealBundle) {
  qmtest::TempDir tmp;
  path real = tmp.path() / "Real Place" / "Real.app" / "Contents" / "MacOS";
  qmtest::fs::create_directories(real);
  qmtest::write_file(real / "QuillmarkWatcher", "", true);
  // The link itself sits in a bundle too: resolution must come first.
  path decoy = tmp.path() / "Decoy.app" / "Contents" / "MacOS";
  qmtest::fs::create_directories(decoy);
  qmtest::fs::create_symlink(real / "QuillmarkWatcher", decoy / "QuillmarkWatcher");
  qmtest::fs::create_symlink(real / "QuillmarkWatcher", tmp.path() / "watcher-link");

  for (const path& link : {decoy / "QuillmarkWatcher", tmp.path() / "watcher-link"}) {
    Derived d = derive(link.string());
    ASSERT_TRUE(d.ok) << link;
    EXPECT_EQ(d.app, (tmp.path() / "Real Place" / "Real.app").string());
    EXPECT_EQ(d.executable, (real / "Quillmark").string());
  }
}

TEST(DerivePaths, DotComponentsAreResolved) {
  qmtest::TempDir tmp;
  path macos = tmp.path() / "Q.app" / "Contents" / "MacOS";
  qmtest::fs::create_directories(macos / "sub");
  qmtest::write_file(macos / "QuillmarkWatcher", "", true);
  Derived d = derive((macos / "sub" / ".." / "." / "QuillmarkWatcher").string());
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.app, (tmp.path() / "Q.app").string());
}

TEST(DerivePaths, UnresolvablePathIsSearchedAsGiven) {
  Derived d = derive("relative/Some Name.app/Contents/MacOS/QuillmarkWatcher");
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.app, "relative/Some Name.app");
  EXPECT_EQ(d.executable, "relative/Some Name.app/Contents/MacOS/Quillmark");
}

TEST(DerivePaths, OutermostBundleWins) {
  Derived d = derive("/x/Outer.app/Contents/MacOS/Inner.app/Contents/MacOS/QuillmarkWatcher");
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.app, "/x/Outer.app");
  EXPECT_EQ(d.executable, "/x/Outer.app/Contents/MacOS/Quillmark");
}

TEST(DerivePaths, PathsOutsideABundleFail) {
  for (const char* own : {"/usr/local/bin/QuillmarkWatcher", "QuillmarkWatcher", "",
                          "/Q.app/Contents/Resources/QuillmarkWatcher",
                          "/Q.APP/Contents/MacOS/QuillmarkWatcher",  // case matters
                          "/Q.app/Contents/MacOS",                   // no trailing slash
                          "/Qapp/Contents/MacOS/QuillmarkWatcher"}) {
    EXPECT_FALSE(derive(own).ok) << own;
  }
}

TEST(DerivePaths, AppPathMayUseAllButTheTerminatorOfItsBuffer) {
  // A roomy executable buffer isolates the app path's own bound.
  Derived fits = derive(unresolvable_helper(1023), kPathCapacity, 2 * kPathCapacity);
  ASSERT_TRUE(fits.ok);
  EXPECT_EQ(fits.app.size(), 1023u);
  EXPECT_EQ(fits.executable, fits.app + "/Contents/MacOS/Quillmark");

  EXPECT_FALSE(derive(unresolvable_helper(1024), kPathCapacity, 2 * kPathCapacity).ok);
}

TEST(DerivePaths, ExecutablePathMayUseAllButTheTerminatorOfItsBuffer) {
  const size_t suffix = std::string("/Contents/MacOS/Quillmark").size();
  Derived fits = derive(unresolvable_helper(1023 - suffix));
  ASSERT_TRUE(fits.ok);
  EXPECT_EQ(fits.executable.size(), 1023u);

  EXPECT_FALSE(derive(unresolvable_helper(1024 - suffix)).ok);
}

TEST(DerivePaths, ResolvedPathLongerThanAPathBufferIsHandled) {
  // realpath may return more than 1023 bytes on systems with a larger
  // PATH_MAX; the result must be bounded by the copy, not by luck.
  qmtest::TempDir tmp;
  path shallow_macos = tmp.path() / "Shallow.app" / "Contents" / "MacOS";
  path deep_inside = qmtest::make_dir_of_length(shallow_macos, 1400);
  qmtest::write_file(deep_inside / "QuillmarkWatcher", "", true);
  qmtest::fs::create_symlink(deep_inside / "QuillmarkWatcher", tmp.path() / "to-shallow");

  Derived shallow = derive((tmp.path() / "to-shallow").string());
  ASSERT_TRUE(shallow.ok);
  EXPECT_EQ(shallow.app, (tmp.path() / "Shallow.app").string());

  path deep_parent = qmtest::make_dir_of_length(tmp.path() / "d", 1200);
  path deep_macos = deep_parent / "Deep.app" / "Contents" / "MacOS";
  qmtest::fs::create_directories(deep_macos);
  qmtest::write_file(deep_macos / "QuillmarkWatcher", "", true);
  qmtest::fs::create_symlink(deep_macos / "QuillmarkWatcher", tmp.path() / "to-deep");
  EXPECT_FALSE(derive((tmp.path() / "to-deep").string()).ok);
}

// main's choice between the command line and its own path.
struct Selected {
  bool ok;
  std::string app;
  std::string executable;
};

Selected select(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  char app_buffer[kPathCapacity];
  char executable_buffer[kPathCapacity];
  const char* app = nullptr;
  const char* executable = nullptr;
  int ok = select_paths(static_cast<int>(args.size()), argv.data(), app_buffer, sizeof app_buffer,
                        executable_buffer, sizeof executable_buffer, &app, &executable);
  return {ok == 1, ok ? app : "", ok ? executable : ""};
}

TEST(SelectPaths, TwoArgumentsAreTakenVerbatim) {
  Selected s = select({"/usr/local/bin/QuillmarkWatcher", "not/validated", "either"});
  ASSERT_TRUE(s.ok);
  EXPECT_EQ(s.app, "not/validated");
  EXPECT_EQ(s.executable, "either");
}

TEST(SelectPaths, ArgumentsAfterTheSecondAreIgnored) {
  Selected s = select({"/usr/local/bin/QuillmarkWatcher", "/A.app", "/A.app/x", "third", "4"});
  ASSERT_TRUE(s.ok);
  EXPECT_EQ(s.app, "/A.app");
  EXPECT_EQ(s.executable, "/A.app/x");
}

TEST(SelectPaths, SingleArgumentIsIgnoredInFavourOfOwnPath) {
  Selected s = select({"/Applications/Quillmark.app/Contents/MacOS/QuillmarkWatcher", "/B.app"});
  ASSERT_TRUE(s.ok);
  EXPECT_EQ(s.app, "/Applications/Quillmark.app");
  EXPECT_EQ(s.executable, "/Applications/Quillmark.app/Contents/MacOS/Quillmark");

  EXPECT_FALSE(select({"/usr/local/bin/QuillmarkWatcher", "/B.app"}).ok);
}

TEST(SelectPaths, NoArgumentsAtAllMeansUsage) {
  EXPECT_FALSE(select({}).ok);
}

}  // namespace
