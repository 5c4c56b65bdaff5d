#pragma once

#include <string>

#include "base/ControlIds.h"

namespace quarnel {

// Box styles: stop (stop icon, OK), warning (exclamation icon, OK),
// question (question icon, OK and Cancel), plain (no icon, OK; also used for
// the information box), and the one question asked with Yes and No.
enum class MessageStyle { Stop, Warning, Question, Plain, YesNoQuestion };

// Entry fields that a rejected entry points the user at, by control identifier.
enum class Field {
  ArbitraryData = ctl::kArbitraryData,
  FileName = ctl::kFileName,
  StartAddress = ctl::kStartAddress,
  FlashOffset = ctl::kFlashOffset,
  ArbitraryAddress = ctl::kArbitraryAddress,
};

// What the file reading and file list logic needs from the user side. The
// window realises it with message boxes and focus changes; tests record it.
class UserNotifier {
 public:
  virtual ~UserNotifier() = default;
  // text is as shown: a string table text with "%1" already replaced, and
  // what follows it.
  // True when the user chose OK; boxes with only an OK button give true.
  virtual bool ShowMessage(MessageStyle style, const std::string& text) = 0;
  virtual void FocusField(Field field) = 0;
};

}  // namespace quarnel
