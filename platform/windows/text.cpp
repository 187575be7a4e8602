// UTF-8, the ports' text, to Windows' UTF-16 and back.
#include "windows_platform.h"

namespace qm::windows {

std::wstring widen(const std::string& text) {
  if (text.empty()) {
    return {};
  }
  const int size = static_cast<int>(text.size());
  const int length =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) {
    return {};
  }
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
  return wide;
}

std::string narrow(const std::wstring& text) {
  if (text.empty()) {
    return {};
  }
  const int size = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), size, nullptr,
                                         0, nullptr, nullptr);
  if (length <= 0) {
    return {};
  }
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), size, utf8.data(), length,
                      nullptr, nullptr);
  return utf8;
}

std::wstring fittedText(std::wstring_view text, std::size_t capacity) {
  if (capacity == 0) {
    return {};
  }
  if (text.size() < capacity) {
    return std::wstring(text);
  }
  // Room for the ellipsis and the null.
  std::size_t length = capacity >= 2 ? capacity - 2 : 0;
  if (length > 0 && IS_HIGH_SURROGATE(text[length - 1])) {
    --length;
  }
  return std::wstring(text.substr(0, length)) + (capacity >= 2 ? L"\u2026" : L"");
}

}  // namespace qm::windows
