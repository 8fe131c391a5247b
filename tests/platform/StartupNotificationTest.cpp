// The message that ends a launcher's startup notification: the id as the protocol quotes it, so
// that a launcher parses back exactly the id it gave.

#include "platform/StartupNotification.h"

#include <gtest/gtest.h>

namespace {

TEST(StartupNotificationTest, TheRemoveMessageQuotesOnlyWhatTheProtocolNeedsQuoted) {
  const struct {
    QByteArray id;
    QByteArray message;
  } cases[] = {
      {"launcher-1234-host-tarvelo-0_TIME5678", "remove: ID=launcher-1234-host-tarvelo-0_TIME5678"},
      {"a=b,c", "remove: ID=a=b,c"},
      {"two words", "remove: ID=\"two words\""},
      {"say\"hi\"", "remove: ID=\"say\\\"hi\\\"\""},
      {"back\\slash", "remove: ID=\"back\\\\slash\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id.toStdString());
    EXPECT_EQ(StartupRemoveMessage(c.id), c.message);
  }
}

}  // namespace
