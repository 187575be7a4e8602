// The permission to send keys to Live. Windows has no Accessibility list,
// but it keeps a process from sending input to one that runs at a higher
// integrity level (Live run as administrator while Quillmark is not).
#include <memory>
#include <optional>

#include "windows_platform.h"

namespace qm::windows {
namespace {

std::optional<DWORD> integrityLevelOfToken(HANDLE token) {
  DWORD size = 0;
  GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
  if (size == 0) {
    return std::nullopt;
  }
  std::vector<unsigned char> buffer(size);
  if (!GetTokenInformation(token, TokenIntegrityLevel, buffer.data(), size, &size)) {
    return std::nullopt;
  }
  const auto* label = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer.data());
  const UCHAR count = *GetSidSubAuthorityCount(label->Label.Sid);
  if (count == 0) {
    return std::nullopt;
  }
  return *GetSidSubAuthority(label->Label.Sid, count - 1);
}

std::optional<DWORD> integrityLevelOfProcess(HANDLE process) {
  std::optional<DWORD> level;
  HANDLE token = nullptr;
  if (process != nullptr && OpenProcessToken(process, TOKEN_QUERY, &token)) {
    level = integrityLevelOfToken(token);
    CloseHandle(token);
  }
  return level;
}

class Win32Accessibility final : public Accessibility {
 public:
  explicit Win32Accessibility(Workspace& workspace)
      : workspace_(workspace),
        ours_(
            integrityLevelOfProcess(GetCurrentProcess()).value_or(SECURITY_MANDATORY_MEDIUM_RID)) {}
  ~Win32Accessibility() override {
    if (live_ != nullptr) {
      CloseHandle(live_);
    }
  }
  Win32Accessibility(const Win32Accessibility&) = delete;
  Win32Accessibility& operator=(const Win32Accessibility&) = delete;

  // Asked for each Live process once: a Live restarted with other rights is
  // another process, and the handle kept to the last one keeps its id from
  // going to any other. There is no system prompt to show.
  bool isProcessTrustedWithOptions(bool prompt) override {
    (void)prompt;
    const auto live = workspace_.runningApplicationsWithBundleIdentifier("com.ableton.live");
    if (live.empty()) {
      return true;
    }
    const auto pid = static_cast<DWORD>(live.front()->processIdentifier());
    if (live_ == nullptr || pid != livePid_) {
      if (live_ != nullptr) {
        CloseHandle(live_);
      }
      live_ = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
      livePid_ = pid;
      liveLevel_ = integrityLevelOfProcess(live_);
    }
    return inputReachesIntegrityLevel(ours_, liveLevel_);
  }

 private:
  Workspace& workspace_;
  // A process's own level never changes.
  DWORD ours_;
  HANDLE live_ = nullptr;
  DWORD livePid_ = 0;
  std::optional<DWORD> liveLevel_;
};

}  // namespace

bool inputReachesIntegrityLevel(DWORD ours, std::optional<DWORD> theirs) {
  return theirs.has_value() && *theirs <= ours;
}

std::unique_ptr<Accessibility> makeAccessibility(Workspace& workspace) {
  return std::make_unique<Win32Accessibility>(workspace);
}

}  // namespace qm::windows
