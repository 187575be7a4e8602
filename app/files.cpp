#include "files.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace qm::files {

namespace fs = std::filesystem;

bool exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::path(path), ec);
}

bool writeAtomically(const std::string& path, std::string_view contents) {
  static std::atomic<unsigned> counter{0};
  const fs::path target(path);
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const fs::path temporary =
      target.parent_path() / ("." + target.filename().string() + "." + std::to_string(stamp) + "." +
                              std::to_string(counter++) + ".tmp");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
      return false;
    }
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temporary, target, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return false;
  }
  return true;
}

bool appendToExisting(const std::string& path, std::string_view contents) {
  // in|out opens without creating or truncating.
  std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
  if (!out) {
    return false;
  }
  out.seekp(0, std::ios::end);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  out.close();
  return static_cast<bool>(out);
}

std::optional<std::string> read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    return std::nullopt;
  }
  return text;
}

}  // namespace qm::files
