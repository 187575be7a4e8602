// Fuzzes the watcher's path derivation with hostile own paths and buffer
// capacities, checking it never writes outside its buffers and that what it
// derives is the outermost bundle of the (possibly resolved) path.
//
// Input: two little-endian 16-bit capacities (each taken modulo 1100, so 0,
// 1 and the real 1024 are all reachable), then the own path.
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

#include "watcher.h"

namespace {

size_t capacity_from(const uint8_t* bytes) {
  return static_cast<size_t>(bytes[0] | (bytes[1] << 8)) % 1100;
}

void check(bool condition) {
  if (!condition) {
    __builtin_trap();
  }
}

// True when `app` is the part of `own` before its first ".app/Contents/MacOS/",
// ".app" included.
bool is_outermost_bundle_of(const std::string& own, const std::string& app) {
  size_t marker = own.find(".app/Contents/MacOS/");
  return marker != std::string::npos && own.compare(0, marker + 4, app) == 0 &&
         app.size() == marker + 4;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) {
    return 0;
  }
  const size_t app_capacity = capacity_from(data);
  const size_t executable_capacity = capacity_from(data + 2);
  const std::string own(reinterpret_cast<const char*>(data + 4), size - 4);
  const char* own_path = own.c_str();  // stops at an embedded zero, as argv would

  // Exactly sized heap buffers: one byte too far is an ASan report.
  std::unique_ptr<char[]> app(new char[app_capacity]);
  std::unique_ptr<char[]> executable(new char[executable_capacity]);
  int ok = derive_paths_from_helper(own_path, app.get(), app_capacity, executable.get(),
                                    executable_capacity);
  check(ok == 0 || ok == 1);
  if (!ok) {
    return 0;
  }

  const std::string app_path(app.get(), strnlen(app.get(), app_capacity));
  const std::string executable_path(executable.get(),
                                    strnlen(executable.get(), executable_capacity));
  check(app_path.size() < app_capacity);
  check(executable_path.size() < executable_capacity);
  check(executable_path == app_path + "/Contents/MacOS/Quillmark");

  char resolved[PATH_MAX];
  bool was_resolved = realpath(own_path, resolved) != nullptr;
  check(is_outermost_bundle_of(was_resolved ? resolved : own_path, app_path));
  return 0;
}
