#include "files.h"

#include <fcntl.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#endif

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace {
#ifdef _WIN32
// Binary, so an appended line ends like the first one did; Windows has no
// exec, so no descriptor needs keeping from children.
constexpr int kAppendFlags = O_WRONLY | O_BINARY;
#else
constexpr int kAppendFlags = O_WRONLY | O_CLOEXEC;
#endif
}  // namespace

namespace qm::files {

namespace fs = std::filesystem;

fs::path nativePath(const std::string& utf8) {
#ifdef _WIN32
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
#else
  return fs::path(utf8);
#endif
}

bool exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(nativePath(path), ec);
}

bool writeAtomically(const std::string& path, std::string_view contents) {
  static std::atomic<unsigned> counter{0};
  const fs::path target = nativePath(path);
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  // Built step by step: a chain of + trips a false -Wrestrict in g++ 12.
  fs::path name = ".";
  name += target.filename();
  name += ".";
  name += std::to_string(stamp);
  name += ".";
  name += std::to_string(counter++);
  name += ".tmp";
  const fs::path temporary = target.parent_path() / name;
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
  // Write-only and without O_CREAT: a log the user may write but not read
  // still takes the line, and a file removed meanwhile is not made again.
#ifdef _WIN32
  const int fd = ::_wopen(nativePath(path).c_str(), kAppendFlags);
#else
  const int fd = ::open(path.c_str(), kAppendFlags);
#endif
  if (fd < 0) {
    return false;
  }
  bool written = ::lseek(fd, 0, SEEK_END) >= 0;
  const char* data = contents.data();
  std::size_t left = contents.size();
  while (written && left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    written = n > 0;
    if (written) {
      data += n;
      left -= static_cast<std::size_t>(n);
    }
  }
  return ::close(fd) == 0 && written;
}

std::optional<std::string> read(const std::string& path) {
  std::ifstream in(nativePath(path), std::ios::binary);
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
