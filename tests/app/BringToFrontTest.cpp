// A second start asks the running window to come to the front over the local socket and passes on
// its activation token: which lines the window takes as the command, which tokens it accepts, and
// the round trip through a real socket, an old second start's line without a token included.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>

#include "TemporaryDirectory.h"
#include "app/VexiloApp.h"

namespace {

using testsupport::TemporaryDirectory;

TEST(BringToFrontTest, TheCommandLineIsReadWithAValidTokenOnly) {
  const QByteArray longest(kActivationTokenMaxLength, 'x');
  struct Case {
    QByteArray line;
    std::optional<QByteArray> token;  // nothing: not the command
  };
  const std::vector<Case> cases = {
      {"1124", QByteArray()},
      {"1124\n", QByteArray()},
      {"1124\r\n", QByteArray()},
      {"1124 ", QByteArray()},
      {"1124 kwin-3_TIME1234", QByteArray("kwin-3_TIME1234")},
      {"1124  tok\n", QByteArray("tok")},
      {"1124 " + longest, longest},
      {"1124 \"quoted\\token\"", QByteArray("\"quoted\\token\"")},
      // A token that is too long, holds a space or a byte outside printable ASCII is dropped; the
      // command still stands.
      {"1124 " + longest + "x", QByteArray()},
      {"1124 two words", QByteArray()},
      {"1124 tab\there", QByteArray()},
      {"1124 del\x7f", QByteArray()},
      {"1124 caf\xc3\xa9", QByteArray()},
      // Not the command.
      {"", std::nullopt},
      {"1125", std::nullopt},
      {"11240", std::nullopt},
      {"01124", std::nullopt},
      {"1124x token", std::nullopt},
      {" x1124", std::nullopt},
      {"raise 1124", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line.toStdString());
    EXPECT_EQ(ParseBringToFrontLine(c.line), c.token);
  }
  // What a second start sends is read back as it was sent.
  EXPECT_EQ(BringToFrontLine({}), "1124\n");
  EXPECT_EQ(BringToFrontLine("abc"), "1124 abc\n");
  for (const QByteArray& token : {QByteArray(), QByteArray("a"), longest}) {
    EXPECT_EQ(ParseBringToFrontLine(BringToFrontLine(token)), token);
  }
}

// Runs the event loop until `count` commands have arrived or five seconds have passed.
void WaitForCommands(const std::vector<QByteArray>& received, std::size_t count) {
  QElapsedTimer timer;
  timer.start();
  while (received.size() < count && timer.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
}

TEST(BringToFrontTest, TheWindowGetsTheTokenOfEachSecondStart) {
  // The server answers from the event loop of the window's application.
  int argc = 1;
  char name[] = "tarvelo-test";
  char* argv[] = {name, nullptr};
  const std::unique_ptr<QCoreApplication> application =
      QCoreApplication::instance() == nullptr ? std::make_unique<QCoreApplication>(argc, argv)
                                              : nullptr;
  TemporaryDirectory folder;
  const QString path = QString::fromStdString(folder.Path());
  std::vector<QByteArray> received;
  const std::unique_ptr<QLocalServer> server =
      ListenForBringToFront(path, [&](const QByteArray& token) { received.push_back(token); });
  ASSERT_NE(server, nullptr);

  EXPECT_TRUE(SendBringToFront(path, "wayland-token-1"));
  WaitForCommands(received, 1);
  EXPECT_TRUE(SendBringToFront(path));
  WaitForCommands(received, 2);
  EXPECT_EQ(received, (std::vector<QByteArray>{"wayland-token-1", QByteArray()}));

  // A client that sends a line without end beyond any command's length is cut off unheard, and
  // the next second start is still answered.
  QLocalSocket flood;
  flood.connectToServer(server->fullServerName());
  ASSERT_TRUE(flood.waitForConnected(2000));
  flood.write("1124 " + QByteArray(4096, 'y'));
  ASSERT_TRUE(flood.waitForBytesWritten(2000));
  QElapsedTimer timer;
  timer.start();
  while (flood.state() == QLocalSocket::ConnectedState && timer.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (flood.state() == QLocalSocket::ConnectedState) {
      flood.waitForDisconnected(10);
    }
  }
  EXPECT_NE(flood.state(), QLocalSocket::ConnectedState);
  EXPECT_TRUE(SendBringToFront(path, "after"));
  WaitForCommands(received, 3);
  EXPECT_EQ(received.size(), 3u);
  EXPECT_EQ(received.back(), "after");
}

}  // namespace
