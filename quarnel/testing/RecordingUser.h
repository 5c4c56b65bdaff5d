#pragma once

#include <string>
#include <vector>

#include "base/UserNotifier.h"
#include "testing/ShownText.h"

namespace quarnel::testing {

struct ShownMessage {
  MessageStyle style;
  int textId;
  std::string text;
};

// Records what the logic shows the user, in order.
class RecordingUser : public UserNotifier {
 public:
  // Boxes are known by the number of the table text they show.
  bool ShowMessage(MessageStyle style, const std::string& text) override {
    messages.push_back({style, TextIdShown(text), text});
    return true;  // OK to every box
  }
  void FocusField(Field field) override { focused.push_back(field); }

  std::vector<int> TextIds() const {
    std::vector<int> ids;
    for (const ShownMessage& message : messages) ids.push_back(message.textId);
    return ids;
  }
  void Clear() {
    messages.clear();
    focused.clear();
  }

  std::vector<ShownMessage> messages;
  std::vector<Field> focused;
};

}  // namespace quarnel::testing
