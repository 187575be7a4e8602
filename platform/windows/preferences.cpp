// The application's settings as values under one registry key of the
// current user, one value per key. They are read the way macOS reads its
// defaults: a number (DWORD or QWORD) or a text holding one.
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "preference_text.h"
#include "windows_platform.h"

namespace qm::windows {
namespace {

using Value = std::variant<std::int64_t, std::wstring>;

class RegistryPreferences final : public Preferences {
 public:
  explicit RegistryPreferences(std::wstring key) : key_(std::move(key)) {}

  std::int64_t integerForKey(const std::string& key) override {
    const std::optional<Value> value = read(key);
    if (!value) {
      return 0;
    }
    if (const auto* number = std::get_if<std::int64_t>(&*value)) {
      return *number;
    }
    return textIntegerValue(std::wstring_view(std::get<std::wstring>(*value)));
  }

  bool boolForKey(const std::string& key) override {
    const std::optional<Value> value = read(key);
    if (!value) {
      return false;
    }
    if (const auto* number = std::get_if<std::int64_t>(&*value)) {
      return *number != 0;
    }
    return textBoolValue(std::wstring_view(std::get<std::wstring>(*value)));
  }

  bool hasObjectForKey(const std::string& key) override {
    return RegGetValueW(HKEY_CURRENT_USER, key_.c_str(), widen(key).c_str(), RRF_RT_ANY, nullptr,
                        nullptr, nullptr) == ERROR_SUCCESS;
  }

  void setInteger(std::int64_t value, const std::string& key) override {
    write(key, REG_QWORD, &value, sizeof value);
  }

  void setBool(bool value, const std::string& key) override {
    const DWORD number = value ? 1 : 0;
    write(key, REG_DWORD, &number, sizeof number);
  }

  void removeObjectForKey(const std::string& key) override {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, key_.c_str(), widen(key).c_str());
  }

 private:
  std::optional<Value> read(const std::string& key) {
    const std::wstring name = widen(key);
    DWORD type = 0;
    DWORD size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, key_.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND,
                     &type, nullptr, &size) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    if (type == REG_DWORD) {
      DWORD number = 0;
      size = sizeof number;
      if (RegGetValueW(HKEY_CURRENT_USER, key_.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr,
                       &number, &size) == ERROR_SUCCESS) {
        return Value{std::int64_t{number}};
      }
      return std::nullopt;
    }
    if (type == REG_QWORD) {
      std::uint64_t number = 0;
      size = sizeof number;
      if (RegGetValueW(HKEY_CURRENT_USER, key_.c_str(), name.c_str(), RRF_RT_REG_QWORD, nullptr,
                       &number, &size) == ERROR_SUCCESS) {
        return Value{static_cast<std::int64_t>(number)};
      }
      return std::nullopt;
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
      size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
      if (RegGetValueW(HKEY_CURRENT_USER, key_.c_str(), name.c_str(),
                       RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, text.data(),
                       &size) != ERROR_SUCCESS) {
        return std::nullopt;
      }
      text.resize(wcsnlen(text.c_str(), text.size()));
      return Value{std::move(text)};
    }
    // Any other kind of value is present but reads as nothing, as a wrong
    // type does on macOS.
    return Value{std::wstring()};
  }

  void write(const std::string& key, DWORD type, const void* data, DWORD size) {
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &handle, nullptr) != ERROR_SUCCESS) {
      return;
    }
    RegSetValueExW(handle, widen(key).c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(handle);
  }

  std::wstring key_;
};

}  // namespace

std::unique_ptr<Preferences> makePreferences(const std::wstring& registryKey) {
  return std::make_unique<RegistryPreferences>(registryKey);
}

}  // namespace qm::windows
