#include "base/StatusMessages.h"

#include <gtest/gtest.h>

#include "base/StringTable.h"

namespace quarnel {
namespace {

struct StatusRule {
  int status;
  int textId;
  bool link;
  bool fatal;
};

TEST(StatusMessages, LookupAndClasses) {
  const StatusRule rules[] = {
      {0x0001, 141, false, true},   {0x6300, 149, false, false}, {0x6301, 2050, false, false},
      {0x6302, 137, false, true},   {0x6304, 118, false, true},  {0x6307, 142, false, true},
      {0x6309, 131, false, true},   {0x630C, 148, false, false}, {0x5000, 2035, true, true},
      {0x5003, 2051, true, true},   {0x5005, 2039, true, true},  {0x4007, 2047, false, false},
      {0x2002, 146, false, false},  {0x2004, 154, false, false}, {0x2006, 176, false, false},
      {0xFFFF, 2050, false, true},  {0x7777, 2050, false, false}, {0x4FFF, 2050, false, false},
      {0x5006, 2050, false, false},
  };
  for (const StatusRule& rule : rules) {
    SCOPED_TRACE(rule.status);
    EXPECT_EQ(StatusTextId(rule.status), rule.textId);
    EXPECT_FALSE(LoadText(StatusTextId(rule.status)).empty());
    EXPECT_EQ(IsLinkStatus(rule.status), rule.link);
    EXPECT_EQ(IsFatalStatus(rule.status), rule.fatal);
  }
  EXPECT_EQ(LoadText(StatusTextId(0x6301)), LoadText(StatusTextId(0xFFFF)));
}

}  // namespace
}  // namespace quarnel
