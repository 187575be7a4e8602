// A Live that does not answer is asked at most once a second, whoever asks,
// and is asked again at once when it answered.
#include "live_reader.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

struct Clock final : RunLoop {
  Date now() const override { return 0; }
  double monotonicNow() const override { return time; }
  TimerRef scheduleRepeatingTimer(double, std::function<void()>) override { return nullptr; }
  void performAfterDelay(double, std::function<void()>) override {}
  void sleepMicroseconds(std::uint32_t us) override { time += us / 1e6; }
  double time = 100;
};

// Every read costs the messaging timeout while Live is silent.
struct SilentLive final : ApplicationWindows, ApplicationMenus {
  explicit SilentLive(Clock& clock) : clock(clock) {}
  template <typename T>
  Reply<T> answer(T value) {
    ++reads;
    if (silent) {
      clock.sleepMicroseconds(250000);
      return Reply<T>::noAnswer();
    }
    return value;
  }
  Reply<std::optional<std::string>> mainWindowTitle(int) override {
    return answer(std::optional<std::string>("Song* [Song] - Ableton Live 12 Suite"));
  }
  Reply<bool> showsModalDialog(int) override { return answer(false); }
  ObservationRef observeTitleChanges(
      int, std::function<void(const std::optional<std::string>&)>) override {
    return nullptr;
  }
  Reply<Press> pressSaveCommand(int) override { return answer(Press::pressed); }
  Clock& clock;
  bool silent = false;
  int reads = 0;
};

TEST(ReplyTest, AnAnsweredNoneEqualsNoneAndNoAnswerEqualsNothing) {
  using Title = Reply<std::optional<std::string>>;
  EXPECT_EQ(Title(std::nullopt), std::optional<std::string>());
  EXPECT_FALSE(Title::noAnswer() == std::optional<std::string>());
  EXPECT_FALSE(Title(std::optional<std::string>("A")) == std::optional<std::string>());
  EXPECT_FALSE(Reply<bool>::noAnswer() == false);
}

TEST(LiveReaderTest, ASilentLiveIsAskedOnceASecondAndAgainAtOnceWhenItAnswers) {
  Clock clock;
  SilentLive live(clock);
  LiveReader reader(clock, live, live);
  EXPECT_EQ(reader.mainWindowTitle(7),
            std::optional<std::string>("Song* [Song] - Ableton Live 12 Suite"));
  EXPECT_TRUE(reader.responding());

  live.silent = true;
  EXPECT_FALSE(reader.showsModalDialog(7).answered());
  EXPECT_FALSE(reader.responding());
  // Within the second after the wait, every kind of read answers at once.
  const double waitedUntil = clock.time;
  clock.time += 0.9;
  EXPECT_FALSE(reader.mainWindowTitle(7).answered());
  EXPECT_FALSE(reader.pressSaveCommand(7).answered());
  EXPECT_EQ(live.reads, 2);
  EXPECT_EQ(clock.time, waitedUntil + 0.9);

  // A second on, Live is asked again; another process at once.
  clock.time = waitedUntil + 1.0;
  live.silent = false;
  EXPECT_EQ(reader.pressSaveCommand(7), ApplicationMenus::Press::pressed);
  EXPECT_TRUE(reader.responding());
  live.silent = true;
  EXPECT_FALSE(reader.showsModalDialog(7).answered());
  live.silent = false;
  EXPECT_EQ(reader.showsModalDialog(8), false);
  EXPECT_EQ(live.reads, 5);
}

}  // namespace
}  // namespace qm
