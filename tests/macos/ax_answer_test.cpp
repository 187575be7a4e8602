// How Accessibility's errors become the ports' three answers, and how a look
// at a busy application stops at its first timeout.
#include "ax_answer.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace qm::macos {
namespace {

TEST(AXAnswerTest, OnlyATimeoutIsNoAnswer) {
  EXPECT_EQ(answerOf(ax_error::success), AXAnswer::reading);
  EXPECT_EQ(answerOf(ax_error::cannotComplete), AXAnswer::noAnswer);
  // An element without the value, a window that closed, a process that
  // quit, or Quillmark untrusted: asked again, it would say the same.
  for (const std::int32_t error :
       {ax_error::noValue, ax_error::attributeUnsupported, ax_error::invalidUIElement,
        ax_error::apiDisabled, ax_error::notImplemented, ax_error::failure,
        ax_error::illegalArgument, ax_error::actionUnsupported,
        ax_error::parameterizedAttributeUnsupported, std::int32_t{-1}}) {
    EXPECT_EQ(answerOf(error), AXAnswer::none) << error;
  }
}

TEST(AXAnswerTest, ALookSendsNothingAfterItsFirstTimeout) {
  AXLook look;
  int sent = 0;
  const auto message = [&sent](std::int32_t error) {
    return [&sent, error] {
      ++sent;
      return error;
    };
  };
  EXPECT_EQ(look.ask(message(ax_error::noValue)), AXAnswer::none);
  EXPECT_EQ(look.ask(message(ax_error::success)), AXAnswer::reading);
  EXPECT_FALSE(look.unanswered());
  EXPECT_EQ(look.ask(message(ax_error::cannotComplete)), AXAnswer::noAnswer);
  // The main, the focused and every other window: each would wait again.
  EXPECT_EQ(look.ask(message(ax_error::success)), AXAnswer::noAnswer);
  EXPECT_EQ(look.ask(message(ax_error::success)), AXAnswer::noAnswer);
  EXPECT_EQ(sent, 3);
  EXPECT_TRUE(look.unanswered());
  // The next look asks afresh.
  AXLook next;
  EXPECT_EQ(next.ask(message(ax_error::success)), AXAnswer::reading);
  EXPECT_EQ(sent, 4);
}

TEST(AXAnswerTest, ATimeoutInsideAReplyOfSeveralValuesEndsTheLook) {
  AXLook look;
  EXPECT_EQ(look.note(ax_error::attributeUnsupported), AXAnswer::none);
  EXPECT_FALSE(look.unanswered());
  EXPECT_EQ(look.note(ax_error::cannotComplete), AXAnswer::noAnswer);
  EXPECT_EQ(look.note(ax_error::success), AXAnswer::reading);
  EXPECT_TRUE(look.unanswered());
  bool sent = false;
  EXPECT_EQ(look.ask([&sent] {
    sent = true;
    return ax_error::success;
  }),
            AXAnswer::noAnswer);
  EXPECT_FALSE(sent);
}

}  // namespace
}  // namespace qm::macos
