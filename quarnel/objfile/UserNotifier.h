#pragma once

#include <string>

namespace quarnel {

// Box styles: stop (stop icon, OK), warning (exclamation icon, OK),
// question (question icon, OK and Cancel), plain (no icon, OK; also used for
// the information box).
enum class MessageStyle { Stop, Warning, Question, Plain };

// Entry fields that a rejected entry points the user at, by control identifier.
enum class Field {
  ArbitraryData = 1001,
  FileName = 1002,
  StartAddress = 1006,
  FlashOffset = 1007,
  ArbitraryAddress = 1011,
};

// What the file reading and file list logic needs from the user side. The
// window realises it with message boxes and focus changes; tests record it.
class UserNotifier {
 public:
  virtual ~UserNotifier() = default;
  // text is the string table text of textId with "%1" already replaced.
  // True when the user chose OK; boxes with only an OK button give true.
  virtual bool ShowMessage(MessageStyle style, int textId, const std::string& text) = 0;
  virtual void FocusField(Field field) = 0;
};

}  // namespace quarnel
