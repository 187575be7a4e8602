// What one Accessibility message to another process came back with, in the
// three kinds of answer the ports give: a reading, none, or no answer in
// time. Plain C++ with AXError.h's values written out, so that the mapping
// and a look's one-timeout rule are tested where no Apple header exists.
#pragma once

#include <cstdint>

namespace qm::macos {

// AXError.h's codes (an AXError is an SInt32).
namespace ax_error {
inline constexpr std::int32_t success = 0;
inline constexpr std::int32_t failure = -25200;
inline constexpr std::int32_t illegalArgument = -25201;
inline constexpr std::int32_t invalidUIElement = -25202;
inline constexpr std::int32_t invalidUIElementObserver = -25203;
inline constexpr std::int32_t cannotComplete = -25204;
inline constexpr std::int32_t attributeUnsupported = -25205;
inline constexpr std::int32_t actionUnsupported = -25206;
inline constexpr std::int32_t notificationUnsupported = -25207;
inline constexpr std::int32_t notImplemented = -25208;
inline constexpr std::int32_t notificationAlreadyRegistered = -25209;
inline constexpr std::int32_t notificationNotRegistered = -25210;
inline constexpr std::int32_t apiDisabled = -25211;
inline constexpr std::int32_t noValue = -25212;
inline constexpr std::int32_t parameterizedAttributeUnsupported = -25213;
inline constexpr std::int32_t notEnoughPrecision = -25214;
}  // namespace ax_error

enum class AXAnswer {
  reading,
  // The element has no such value, or cannot be asked (it is gone, or
  // Quillmark is not trusted): asking again at once would tell the same.
  none,
  // The process did not answer within the messaging timeout: busy or hung.
  noAnswer,
};

// Only kAXErrorCannotComplete means that the process may still have an
// answer; every other failure is one.
constexpr AXAnswer answerOf(std::int32_t error) {
  switch (error) {
    case ax_error::success:
      return AXAnswer::reading;
    case ax_error::cannotComplete:
      return AXAnswer::noAnswer;
    default:
      return AXAnswer::none;
  }
}

// One look at another process: a run of messages that together answer one
// question of a port. A process that let one message time out is not asked
// again within the look, so that a look waits out one messaging timeout at
// most, never one per message.
class AXLook {
 public:
  // Sends `message` (a call returning an AXError) unless an earlier one of
  // this look went unanswered.
  template <typename Message>
  AXAnswer ask(Message&& message) {
    if (unanswered_) {
      return AXAnswer::noAnswer;
    }
    const AXAnswer answer = answerOf(static_cast<std::int32_t>(message()));
    unanswered_ = answer == AXAnswer::noAnswer;
    return answer;
  }

  // Marks the look unanswered from an answer read elsewhere (an error that
  // came back inside a reply of several values).
  AXAnswer note(std::int32_t error) {
    const AXAnswer answer = answerOf(error);
    unanswered_ = unanswered_ || answer == AXAnswer::noAnswer;
    return answer;
  }

  bool unanswered() const { return unanswered_; }

 private:
  bool unanswered_ = false;
};

}  // namespace qm::macos
