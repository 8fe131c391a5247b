#pragma once

// Layout documents and runs of the built layout tools for the tests of hostile skins: documents
// made to order, and a run of `tarvelo --check-layout` or `--render-layout` that is ended by the
// harness, and reported, when it does not end by itself.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <QByteArray>
#include <QString>

#include "LabNetwork.h"
#include "TemporaryDirectory.h"

extern char** environ;

namespace hostile {

// One control of dialog 201; `text` and `path` are XML-escaped here.
inline QString Ctrl(int id, const QString& className, const QString& path = QString(),
                    const QString& text = QString(),
                    const QString& pos = QStringLiteral("0,30,20,20")) {
  return QStringLiteral(
             "<CtrlInfo CtrlID=\"%1\" CtrlBGPath=\"%2\" CtrlBGStatusCount=\"1\" "
             "CtrlBGColor=\"\" CtrlBorderColor=\"\" CtrlPaintMode=\"8\" CtrlClass=\"%3\" "
             "CtrlStyle=\"\" CtrlPosType=\"3\" CtrlPos=\"%4\" CtrlShow=\"5\" CtrlText=\"%5\" "
             "CtrlTextOffSet=\"0,0\" CtrlTextColor=\"0,0,0\" CtrlFont=\"Tahoma\" "
             "CtrlFontSize=\"12\" CtrlDiscrip=\"\"/>")
      .arg(id)
      .arg(path.toHtmlEscaped(), className, pos, text.toHtmlEscaped());
}

// A document with dialog 201 of the given size and background image, holding `ctrls`.
inline QByteArray Layout(const QString& ctrls,
                         const QString& dialogPos = QStringLiteral("0,0,328,245"),
                         const QString& backgroundPath = QString()) {
  return (QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<WindowInformation>"
                         "<DialogInfo DialogID=\"201\" DialogText=\"Hostile\" DialogDiscrip=\"\">"
                         "<Standard DialogBGPath=\"%1\" DialogBGColor=\"255,255,255\" "
                         "DlgPaintMode=\"1\" DlgTextOffSet=\"0,0\" DlgTextColor=\"0,0,0\" "
                         "DialogFont=\"Tahoma\" DialogFontSize=\"12\" DialogPos=\"%2\">")
              .arg(backgroundPath.toHtmlEscaped(), dialogPos) +
          ctrls + QStringLiteral("</Standard></DialogInfo></WindowInformation>\n"))
      .toUtf8();
}

// `count` plain image controls without an image: each costs a child window and nothing else.
inline QByteArray ManyControls(int count) {
  QString ctrls;
  for (int id = 1; id <= count; ++id) {
    ctrls += Ctrl(id, QStringLiteral("ShowImageCtrl"), QString(), QString(),
                  QStringLiteral("%1,%2,4,4").arg(id % 320).arg(30 + id % 200));
  }
  return Layout(ctrls);
}

struct ToolRun {
  // The exit status, or -1 when the program did not end normally.
  int status = -1;
  // False when the harness had to end it.
  bool ended = false;
  std::string err;
};

// Runs the built tarvelo with `arguments` (a layout mode only: the others search the network),
// standard output to `out`. A run that has not ended after two minutes, far longer than any of
// these runs take, is killed: the test then fails on `ended`, instead of hanging the suite.
inline ToolRun RunLayoutTool(const std::vector<std::string>& arguments, const std::string& out,
                             const std::string& errFile) {
  ToolRun run;
  if (arguments.empty() || (arguments[0].rfind("--check-layout", 0) != 0 &&
                            arguments[0].rfind("--render-layout", 0) != 0)) {
    ADD_FAILURE() << "only the layout modes run outside the network lab";
    return run;
  }
  std::vector<std::string> argv = {testsupport::BuiltProgram("tarvelo")};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> pointers;
  for (std::string& argument : argv) {
    pointers.push_back(argument.data());
  }
  pointers.push_back(nullptr);
  std::vector<char*> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view variable(*entry);
    if (variable.rfind("QT_QPA_PLATFORM=", 0) != 0 && variable.rfind("DISPLAY=", 0) != 0 &&
        variable.rfind("WAYLAND_DISPLAY=", 0) != 0) {
      environment.push_back(*entry);
    }
  }
  environment.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environment.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << argv[0];
    return run;
  }
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      run.ended = true;
      break;
    }
    if (done < 0 || std::chrono::steady_clock::now() > giveUp) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  run.status = run.ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = testsupport::ReadFile(errFile);
  return run;
}

}  // namespace hostile
