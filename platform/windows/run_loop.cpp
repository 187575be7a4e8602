// Clock, timers and delayed calls over one message-only window. A single
// Win32 timer is armed for the earliest due callback; modal loops (message
// boxes, the tray menu) dispatch its WM_TIMER too, so repeating timers keep
// firing there, while delayed calls wait until the modal loop has ended.
// Every due time is on the tick count, which never jumps: setting the wall
// clock moves neither a timer's grid nor a delayed call.
#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "windows_platform.h"

namespace qm::windows {
namespace {

constexpr UINT_PTR kWakeTimerId = 1;
// What NSTimer makes of a period that is not positive.
constexpr double kShortestInterval = 0.0001;

struct Entry {
  std::uint64_t order = 0;
  double due = 0;       // on monotonicNow()
  double interval = 0;  // 0 for a delayed call
  std::function<void()> callback;
  bool valid = true;
  bool firing = false;
};

class Win32Timer final : public Timer {
 public:
  Win32Timer(std::weak_ptr<Entry> entry, std::function<void()> onInvalidate)
      : entry_(std::move(entry)), onInvalidate_(std::move(onInvalidate)) {}

  void invalidate() override {
    if (auto entry = entry_.lock(); entry && entry->valid) {
      entry->valid = false;
      onInvalidate_();
    }
  }
  bool isValid() const override {
    const auto entry = entry_.lock();
    return entry && entry->valid;
  }

 private:
  std::weak_ptr<Entry> entry_;
  std::function<void()> onInvalidate_;
};

class Win32RunLoop final : public WinRunLoop {
 public:
  explicit Win32RunLoop(std::function<Date()> wallClock) : wallClock_(std::move(wallClock)) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &Win32RunLoop::windowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QuillmarkRunLoop";
    RegisterClassExW(&windowClass);
    window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                              nullptr, windowClass.hInstance, nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~Win32RunLoop() override {
    if (window_ != nullptr) {
      KillTimer(window_, kWakeTimerId);
      SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
      DestroyWindow(window_);
    }
  }
  Win32RunLoop(const Win32RunLoop&) = delete;
  Win32RunLoop& operator=(const Win32RunLoop&) = delete;

  // Counts through sleep, unlike the interrupt time.
  double monotonicNow() const override { return static_cast<double>(GetTickCount64()) / 1000.0; }

  Date now() const override {
    if (wallClock_) {
      return wallClock_();
    }
    FILETIME time{};
    GetSystemTimePreciseAsFileTime(&time);
    const std::uint64_t ticks = (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    // 100 ns steps since 1601-01-01.
    constexpr std::uint64_t kUnixEpoch = 116444736000000000ULL;
    return static_cast<double>(static_cast<std::int64_t>(ticks - kUnixEpoch)) / 1e7;
  }

  TimerRef scheduleRepeatingTimer(double interval, std::function<void()> callback) override {
    auto entry = std::make_shared<Entry>();
    entry->order = nextOrder_++;
    entry->interval = interval > 0 ? interval : kShortestInterval;
    entry->due = monotonicNow() + entry->interval;
    entry->callback = std::move(callback);
    entries_.push_back(entry);
    arm();
    return std::make_shared<Win32Timer>(entry, [this] { prune(); });
  }

  void performAfterDelay(double delay, std::function<void()> callback) override {
    auto entry = std::make_shared<Entry>();
    entry->order = nextOrder_++;
    entry->due = monotonicNow() + std::max(0.0, delay);
    entry->callback = std::move(callback);
    entries_.push_back(std::move(entry));
    arm();
  }

  void sleepMicroseconds(std::uint32_t microseconds) override {
    Sleep(static_cast<DWORD>((std::uint64_t{microseconds} + 999) / 1000));
  }

  void beginModal() override { ++modalDepth_; }

  void endModal() override {
    if (modalDepth_ > 0) {
      --modalDepth_;
    }
    // Delayed calls that came due meanwhile run now.
    arm();
  }

  int run() override {
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
  }

 private:
  static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Win32RunLoop*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && message == WM_TIMER && wParam == kWakeTimerId) {
      self->fireDueEntries();
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  bool eligible(const Entry& entry) const {
    return entry.valid && !entry.firing && (entry.interval > 0 || modalDepth_ == 0);
  }

  void fireDueEntries() {
    const double current = monotonicNow();
    std::vector<std::shared_ptr<Entry>> due;
    for (const auto& entry : entries_) {
      if (eligible(*entry) && entry->due <= current) {
        due.push_back(entry);
      }
    }
    std::sort(due.begin(), due.end(), [](const auto& a, const auto& b) {
      return a->due != b->due ? a->due < b->due : a->order < b->order;
    });
    for (const auto& entry : due) {
      // An earlier callback may have stopped it, or opened a modal loop.
      if (!eligible(*entry)) {
        continue;
      }
      if (entry->interval > 0) {
        // Late or not, it fires once and stays on its grid.
        const double behind = monotonicNow() - entry->due;
        const double periods = behind >= 0 ? std::floor(behind / entry->interval) + 1 : 1;
        entry->due += periods * entry->interval;
      } else {
        entry->valid = false;
      }
      entry->firing = true;
      const std::function<void()> callback = entry->callback;
      callback();
      entry->firing = false;
    }
    prune();
  }

  // Drops what can no longer fire and arms the wake-up for the rest.
  void prune() {
    std::erase_if(entries_, [](const auto& entry) { return !entry->valid && !entry->firing; });
    arm();
  }

  void arm() {
    std::optional<double> earliest;
    for (const auto& entry : entries_) {
      if (eligible(*entry) && (!earliest || entry->due < *earliest)) {
        earliest = entry->due;
      }
    }
    if (!earliest) {
      KillTimer(window_, kWakeTimerId);
      return;
    }
    const double wait = std::max(0.0, *earliest - monotonicNow());
    const double milliseconds = std::min(std::ceil(wait * 1000.0), double{USER_TIMER_MAXIMUM});
    SetTimer(window_, kWakeTimerId,
             std::max<UINT>(USER_TIMER_MINIMUM, static_cast<UINT>(milliseconds)), nullptr);
  }

  std::function<Date()> wallClock_;
  HWND window_ = nullptr;
  std::vector<std::shared_ptr<Entry>> entries_;
  std::uint64_t nextOrder_ = 0;
  int modalDepth_ = 0;
};

}  // namespace

std::unique_ptr<WinRunLoop> makeRunLoop(std::function<Date()> wallClock) {
  return std::make_unique<Win32RunLoop>(std::move(wallClock));
}

}  // namespace qm::windows
