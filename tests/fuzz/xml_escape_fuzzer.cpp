// Property checks of the launch agent's XML escaping on arbitrary bytes:
// the escaped text reads back to the input, holds no raw special character,
// and cannot change the shape of the property list it is put into.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "launch_agent.h"

namespace {

constexpr std::string_view kEntities[][2] = {
    {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"},
};

void require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

// Reverses the escaping; aborts on an ampersand that starts no entity.
std::string unescaped(std::string_view text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] != '&') {
      plain += text[i++];
      continue;
    }
    bool matched = false;
    for (const auto& entity : kEntities) {
      if (text.substr(i, entity[0].size()) == entity[0]) {
        plain += entity[1];
        i += entity[0].size();
        matched = true;
        break;
      }
    }
    require(matched);
  }
  return plain;
}

void checkEscaped(const std::string& input) {
  const std::string escaped = qm::xmlEscaped(input);
  require(escaped.find_first_of("<>\"'") == std::string::npos);
  require(unescaped(escaped) == input);
}

// The text between the first `before` and the next `after`.
std::string_view between(std::string_view text, std::string_view before, std::string_view after) {
  const std::size_t start = text.find(before);
  require(start != std::string_view::npos);
  const std::size_t begin = start + before.size();
  const std::size_t end = text.find(after, begin);
  require(end != std::string_view::npos);
  return text.substr(begin, end - begin);
}

void checkPropertyList(const std::string& watcher, const std::string& home) {
  const std::string text = qm::launchAgentPropertyList(watcher, home);
  // The values add no markup: as many tags as with empty values.
  static const std::string empty = qm::launchAgentPropertyList("", "");
  for (char special : {'<', '>'}) {
    std::size_t count = 0;
    std::size_t emptyCount = 0;
    for (char c : text)
      count += c == special;
    for (char c : empty)
      emptyCount += c == special;
    require(count == emptyCount);
  }
  require(unescaped(between(text, "<key>Label</key>\n  <string>", "</string>")) ==
          "local.vellum.quillmark-watcher");
  require(unescaped(between(text, "<array>\n    <string>", "</string>\n  </array>")) == watcher);
  const std::string log = home + "/Library/Logs/QuillmarkWatcher.log";
  require(unescaped(between(text, "<key>StandardOutPath</key>\n  <string>", "</string>")) == log);
  require(unescaped(between(text, "<key>StandardErrorPath</key>\n  <string>", "</string>")) == log);
  require(text.ends_with("</dict>\n</plist>\n"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  checkEscaped(input);
  // The first byte splits the rest into a watcher path and a home.
  if (size > 0) {
    const std::string rest = input.substr(1);
    const std::size_t cut = rest.empty() ? 0 : data[0] % (rest.size() + 1);
    checkPropertyList(rest.substr(0, cut), rest.substr(cut));
  }
  return 0;
}
