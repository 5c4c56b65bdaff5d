#pragma once

#include "base/TextIds.h"
#include "base/UserNotifier.h"

namespace quarnel {

// The questions that plugging and the operations ask. Each face answers them
// its own way: the window with a box, the command line from its options.
enum class Question {
  StartWriting,
  WriteWithoutErase,
  AdditionalDataElsewhere,
  UseChangedFile,
  StartVerification,
  StartErasure,
  Unplug,
};

// How a window puts the question: its text and its buttons.
struct QuestionBox {
  int textId;
  MessageStyle style;
};

constexpr QuestionBox BoxFor(Question question) {
  switch (question) {
    case Question::StartWriting:
      return {text::kStartWriting, MessageStyle::Question};
    case Question::WriteWithoutErase:
      return {text::kWriteWithoutErase, MessageStyle::YesNoQuestion};
    case Question::AdditionalDataElsewhere:
      return {text::kAdditionalDataQuestion, MessageStyle::Question};
    case Question::UseChangedFile:
      return {text::kFileChanged, MessageStyle::Question};
    case Question::StartVerification:
      return {text::kStartVerification, MessageStyle::Question};
    case Question::StartErasure:
      return {text::kStartErasure, MessageStyle::Question};
    case Question::Unplug:
      return {text::kUnplugQuestion, MessageStyle::Question};
  }
  return {0, MessageStyle::Question};
}

}  // namespace quarnel
