// The runtime folder of the single-instance lock: which folder a start takes with the temporary
// folder in each state that another user (or the user) may have left it in, what a start does
// when no folder can be used, and the real program started by two throw-away users, one of whom
// has prepared the other's folder.

#include "app/InstanceFolder.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QString>

#include "LabNetwork.h"
#include "NamespaceProcesses.h"
#include "ScopedEnvironment.h"
#include "ScopedPermissionChecks.h"
#include "TemporaryDirectory.h"
#include "app/VexiloApp.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::ScopedEnvironment;

// Throw-away identities for the tests with two users; no account needs to exist for them.
constexpr uid_t kOtherUser = 61001;
constexpr uid_t kUser = 61002;

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A real folder (not a link) owned by `uid` that no one else may enter.
::testing::AssertionResult IsPrivateFolder(const std::string& path, uid_t uid) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) {
    return ::testing::AssertionFailure() << path << " does not exist";
  }
  if (!S_ISDIR(status.st_mode)) {
    return ::testing::AssertionFailure() << path << " is not a folder";
  }
  if (status.st_uid != uid || (status.st_mode & 07777) != 0700) {
    return ::testing::AssertionFailure() << path << " has owner " << status.st_uid << " and mode "
                                         << std::oct << (status.st_mode & 07777);
  }
  return ::testing::AssertionSuccess();
}

// Everything that a start of this process's user finds in a fresh temporary folder of the test's
// own; no runtime folder is set.
class InstanceFolderTest : public ::testing::Test {
 protected:
  testsupport::TemporaryDirectory temporary_;
  ScopedEnvironment tmpdir_{"TMPDIR", temporary_.Path()};
  ScopedEnvironment runtime_{"XDG_RUNTIME_DIR", std::nullopt};
};

TEST_F(InstanceFolderTest, TheUsualFolderIsTakenOnlyWhenItIsTheUsersAndPrivate) {
  struct Case {
    const char* what;
    bool needsRoot;
    std::function<void(const std::string& usual, const std::string& tmp)> prepare;
    bool usualTaken;
  };
  const auto folder = [](const std::string& path, int mode) {
    fs::create_directory(path);
    fs::permissions(path, fs::perms(mode));
  };
  const Case cases[] = {
      {"nothing there", false, [](const std::string&, const std::string&) {}, true},
      {"the user's own folder that others may read and enter", false,
       [&](const std::string& usual, const std::string&) { folder(usual, 0755); }, true},
      {"the user's own folder that others may write to", false,
       [&](const std::string& usual, const std::string&) { folder(usual, 0777); }, false},
      {"a plain file", false,
       [](const std::string& usual, const std::string&) { WriteText(usual, "planted"); }, false},
      {"a link to a private folder of the user's", false,
       [&](const std::string& usual, const std::string& tmp) {
         folder(tmp + "/elsewhere", 0700);
         fs::create_directory_symlink(tmp + "/elsewhere", usual);
       },
       false},
      {"another user's folder open to everyone", true,
       [&](const std::string& usual, const std::string&) {
         folder(usual, 0777);
         ASSERT_EQ(::chown(usual.c_str(), kOtherUser, kOtherUser), 0);
       },
       false},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    if (test.needsRoot && ::getuid() != 0) {
      std::cout << "[ skipped  ] " << test.what << ": needs root to give a folder away\n";
      continue;
    }
    const testsupport::TemporaryDirectory tmp;
    const ScopedEnvironment tmpdir("TMPDIR", tmp.Path());
    const std::string usual = tmp.File("tarvelo-" + std::to_string(::getuid()));
    test.prepare(usual, tmp.Path());
    const std::map<std::string, std::string> before = testsupport::FolderSnapshot(tmp.Path());
    const fs::perms modeBefore = fs::symlink_status(usual).permissions();

    const InstanceFolderChoice choice = ChooseInstanceFolder();
    EXPECT_TRUE(IsPrivateFolder(choice.path.toStdString(), ::getuid()));
    if (test.usualTaken) {
      EXPECT_EQ(choice.path.toStdString(), usual);
      EXPECT_TRUE(choice.note.isEmpty()) << choice.note.toStdString();
    } else {
      EXPECT_EQ(choice.path.toStdString().rfind(usual + "-", 0), 0u) << choice.path.toStdString();
      // The log says which folder was passed over and which one is used instead.
      EXPECT_TRUE(choice.note.contains(QString::fromStdString(usual)));
      EXPECT_TRUE(choice.note.contains(choice.path));
      // What held the name is left exactly as it was.
      std::map<std::string, std::string> after = testsupport::FolderSnapshot(tmp.Path());
      after.erase(fs::path(choice.path.toStdString()).filename().string());
      EXPECT_EQ(after, before);
      EXPECT_EQ(fs::symlink_status(usual).permissions(), modeBefore);
    }
    // A second start of the user finds the same folder, and with it the first.
    EXPECT_EQ(ChooseInstanceFolder().path, choice.path);
  }
}

TEST_F(InstanceFolderTest, AnEarlierPrivateFolderIsFoundAgainAndOthersAreSkipped) {
  const std::string usual = temporary_.File("tarvelo-" + std::to_string(::getuid()));
  WriteText(usual, "planted");
  // In name order: each of these comes before the one to be found and must be passed over.
  fs::create_directory(usual + "-000000");  // others may enter
  fs::permissions(usual + "-000000", fs::perms(0755));
  WriteText(usual + "-111111", "a file");
  fs::create_directory(temporary_.File("elsewhere"));
  fs::permissions(temporary_.File("elsewhere"), fs::perms(0700));
  fs::create_directory_symlink(temporary_.File("elsewhere"), usual + "-222222");
  for (const char* suffix : {"-333333", "-444444", "-555555"}) {
    fs::create_directory(usual + suffix);
    fs::permissions(usual + suffix, fs::perms(0700));
  }
  // Another user's folder, where root can give one away.
  const bool foreign = ::chown((usual + "-333333").c_str(), kOtherUser, kOtherUser) == 0;

  EXPECT_EQ(ChooseInstanceFolder().path.toStdString(), usual + (foreign ? "-444444" : "-333333"));
  EXPECT_EQ(fs::status(usual + "-000000").permissions(), fs::perms(0755));
}

TEST_F(InstanceFolderTest, TheRuntimeFolderIsUsedWhenItCanBeAndTheStartFailsWhenItCannot) {
  enum class Outcome { kRuntimeFolder, kUsualFolder, kFailure };
  struct Case {
    const char* what;
    const char* runtime;  // XDG_RUNTIME_DIR below the test's folder, or null when unset
    const char* tmp;      // TMPDIR below the test's folder
    Outcome outcome;
  };
  const Case cases[] = {
      {"a runtime folder of the user's", "private", "tmp", Outcome::kRuntimeFolder},
      {"a runtime folder that does not exist", "gone", "tmp", Outcome::kUsualFolder},
      {"a runtime folder that is a file", "file", "tmp", Outcome::kFailure},
      {"a runtime folder the user cannot write to", "read-only", "tmp", Outcome::kFailure},
      {"a temporary folder the user cannot write to", nullptr, "read-only", Outcome::kFailure},
      {"a temporary folder that does not exist", nullptr, "gone", Outcome::kFailure},
  };
  const std::string base = temporary_.Path() + "/";
  for (const auto& [name, mode] :
       {std::pair{"private", 0700}, {"tmp", 01777}, {"read-only", 0555}}) {
    fs::create_directory(base + name);
    fs::permissions(base + name, fs::perms(mode));
  }
  WriteText(base + "file", "");
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    const std::optional<std::string> runtime =
        test.runtime ? std::optional(base + test.runtime) : std::nullopt;
    const ScopedEnvironment runtimeVariable("XDG_RUNTIME_DIR", runtime);
    const ScopedEnvironment tmpdir("TMPDIR", base + test.tmp);
    const testsupport::ScopedPermissionChecks permissions;
    ASSERT_TRUE(permissions.Enforced());
    const InstanceFolderChoice choice = ChooseInstanceFolder();
    switch (test.outcome) {
      case Outcome::kRuntimeFolder:
        EXPECT_EQ(choice.path.toStdString(), *runtime);
        EXPECT_TRUE(choice.note.isEmpty());
        break;
      case Outcome::kUsualFolder:
        EXPECT_EQ(choice.path.toStdString(), base + "tmp/tarvelo-" + std::to_string(::getuid()));
        EXPECT_TRUE(choice.note.contains(QString::fromStdString(*runtime)));
        break;
      case Outcome::kFailure:
        EXPECT_TRUE(choice.path.isEmpty()) << choice.path.toStdString();
        // The message names the folder that failed.
        EXPECT_EQ(choice.failedFolder.toStdString().rfind(runtime.value_or(base + test.tmp), 0), 0u)
            << choice.failedFolder.toStdString();
        EXPECT_FALSE(choice.reason.isEmpty());
        break;
    }
  }
}

// Sends what the process writes to standard error to a file while it lives.
class StandardErrorCapture {
 public:
  StandardErrorCapture() : file_(std::tmpfile()), saved_(::dup(2)) {
    std::fflush(stderr);
    ::dup2(::fileno(file_), 2);
  }
  ~StandardErrorCapture() {
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    std::fclose(file_);
  }
  StandardErrorCapture(const StandardErrorCapture&) = delete;
  StandardErrorCapture& operator=(const StandardErrorCapture&) = delete;

  std::string Text() {
    std::fflush(stderr);
    return testsupport::ReadStream(file_);
  }

 private:
  std::FILE* file_;
  int saved_;
};

std::vector<QString> shownMessages;
void RecordMessage(const QString&, const QString& text) { shownMessages.push_back(text); }

TEST_F(InstanceFolderTest, TheInstanceLockRefusesASecondStartAndReportsAnUnusableFolder) {
  SetMessageBoxHook(&RecordMessage);
  shownMessages.clear();
  {
    CVexiloApp first;
    ASSERT_EQ(first.TakeInstanceLock(), CVexiloApp::InstanceLock::kTaken);
    CVexiloApp second;
    EXPECT_EQ(second.TakeInstanceLock(), CVexiloApp::InstanceLock::kOtherInstance);
    EXPECT_EQ(second.ExitStatus(), 0);
    EXPECT_EQ(second.instanceMutex, nullptr);
    EXPECT_TRUE(shownMessages.empty());
  }

  const std::string file = temporary_.File("not-a-folder");
  WriteText(file, "");
  const ScopedEnvironment runtime("XDG_RUNTIME_DIR", file);
  struct Language {
    const char* locale;
    const char* start;
  };
  for (const Language& language :
       {Language{"C.UTF-8", "Cannot start"}, Language{"de_DE.UTF-8", "Start nicht möglich"}}) {
    SCOPED_TRACE(language.locale);
    const ScopedEnvironment locale("LC_ALL", language.locale);
    shownMessages.clear();
    CVexiloApp app;
    std::string errorOutput;
    {
      StandardErrorCapture capture;
      EXPECT_EQ(app.TakeInstanceLock(), CVexiloApp::InstanceLock::kFailed);
      errorOutput = capture.Text();
    }
    EXPECT_EQ(app.ExitStatus(), 1);
    EXPECT_EQ(app.instanceMutex, nullptr);
    ASSERT_EQ(shownMessages.size(), 1u);
    const std::string message = shownMessages.front().toStdString();
    EXPECT_EQ(message.rfind(language.start, 0), 0u) << message;
    EXPECT_NE(message.find(file), std::string::npos) << message;
    EXPECT_NE(errorOutput.find(message), std::string::npos) << errorOutput;
  }
  SetMessageBoxHook(nullptr);
}

// The built program in its window mode (on Qt's offscreen platform) started by throw-away
// users inside the lab's engine namespace, with a temporary folder that the test made.
class TwoUsers : public ::testing::Test {
 protected:
  void SetUp() override {
    TARVELO_REQUIRE_LAB();
    ASSERT_EQ(::access(testsupport::BuiltProgram("tarvelo").c_str(), X_OK), 0);
    // The throw-away users reach their folders through this one.
    fs::permissions(folder_.Path(), fs::perms(0755));
    for (const uid_t uid : {kOtherUser, kUser}) {
      for (const char* sub : {"", "/data", "/config", "/cache"}) {
        fs::create_directory(Home(uid) + sub);
        ASSERT_EQ(::chown((Home(uid) + sub).c_str(), uid, uid), 0);
      }
    }
    lab_ = std::make_unique<testsupport::LabNetwork>();
  }

  std::string Tmp() const { return folder_.File("tmp"); }
  std::string Home(uid_t uid) const { return folder_.File("home-" + std::to_string(uid)); }

  // `command` as `uid`, with only this test's folders in its environment.
  std::vector<std::string> AsUser(uid_t uid, const std::vector<std::string>& command,
                                  const std::string& runtime = "") const {
    const std::string id = std::to_string(uid);
    const std::string home = Home(uid);
    std::vector<std::string> argv{testsupport::FindProgram("setpriv"),
                                  "--reuid=" + id,
                                  "--regid=" + id,
                                  "--clear-groups",
                                  "--",
                                  "/usr/bin/env",
                                  "-i",
                                  "HOME=" + home,
                                  "XDG_DATA_HOME=" + home + "/data",
                                  "XDG_CONFIG_HOME=" + home + "/config",
                                  "XDG_CACHE_HOME=" + home + "/cache",
                                  "TMPDIR=" + Tmp(),
                                  "QT_QPA_PLATFORM=offscreen",
                                  "LANG=C.UTF-8",
                                  "LC_ALL=C.UTF-8",
                                  "PATH=/usr/bin:/bin",
                                  "DBUS_SESSION_BUS_ADDRESS=unix:path=" + folder_.File("no-bus")};
    if (!runtime.empty()) {
      argv.push_back("XDG_RUNTIME_DIR=" + runtime);
    }
    argv.insert(argv.end(), command.begin(), command.end());
    return argv;
  }

  // Starts the program as `uid` in the engine namespace; standard output and error go to
  // `output`.
  pid_t StartProgram(uid_t uid, const std::string& output, const std::string& runtime = "") {
    std::vector<std::string> argv{"/bin/sh", "-c", "exec \"$@\" 2>&1", "sh"};
    for (const std::string& argument :
         AsUser(uid, {testsupport::BuiltProgram("tarvelo")}, runtime)) {
      argv.push_back(argument);
    }
    return lab_->Spawn(lab_->EngineNamespace(), argv, output);
  }

  static bool Running(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == 0;
  }

  // The folder of the temporary folder in which a program of `uid` listens for a second start.
  std::optional<std::string> ListeningFolder(uid_t uid) const {
    for (const fs::directory_entry& entry : fs::directory_iterator(Tmp())) {
      struct stat folder {};
      struct stat socket {};
      const std::string path = entry.path().string();
      if (::lstat(path.c_str(), &folder) == 0 && S_ISDIR(folder.st_mode) && folder.st_uid == uid &&
          ::lstat((path + "/Tarvelo").c_str(), &socket) == 0 && S_ISSOCK(socket.st_mode)) {
        return path;
      }
    }
    return std::nullopt;
  }

  testsupport::TemporaryDirectory folder_;
  std::unique_ptr<testsupport::LabNetwork> lab_;
};

TEST_F(TwoUsers, AnotherUserCannotBlockTheStartAndTheSecondStartFindsTheFirst) {
  struct Case {
    const char* what;
    // What the other user does first, as a shell command; empty for nothing.
    std::string prepare;
    // Whether the other user then runs the program with that folder as its runtime folder.
    bool otherRuns;
    bool usualTaken;
  };
  const std::string usual = Tmp() + "/tarvelo-" + std::to_string(kUser);
  const Case cases[] = {
      {"nothing in the way", "", false, true},
      {"a folder open to everyone", "mkdir -m 0777 " + usual, false, false},
      {"a plain file", "printf planted > " + usual, false, false},
      {"a link to a folder of the other user's",
       "mkdir -m 0777 " + Tmp() + "/theirs && ln -s " + Tmp() + "/theirs " + usual, false, false},
      {"a folder in which the other user's own instance runs", "mkdir -m 0777 " + usual, true,
       false},
  };
  int index = 0;
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    fs::remove_all(Tmp());
    fs::create_directory(Tmp());
    fs::permissions(Tmp(), fs::perms(01777));
    const std::string prefix = folder_.File("case" + std::to_string(index++));
    if (!test.prepare.empty()) {
      ASSERT_EQ(
          lab_->Run(lab_->EngineNamespace(), AsUser(kOtherUser, {"/bin/sh", "-c", test.prepare})),
          0);
    }
    pid_t other = -1;
    if (test.otherRuns) {
      other = StartProgram(kOtherUser, prefix + "-other.txt", usual);
      ASSERT_TRUE(
          testsupport::WaitUntil([&] { return ListeningFolder(kOtherUser).has_value(); }, 60s))
          << "the other user's instance did not start: "
          << testsupport::ReadFile(prefix + "-other.txt");
    }
    std::map<std::string, std::string> before = testsupport::FolderSnapshot(Tmp());

    const pid_t first = StartProgram(kUser, prefix + "-first.txt");
    std::optional<std::string> folder;
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
          folder = ListeningFolder(kUser);
          return folder.has_value() || !Running(first);
        },
        60s));
    ASSERT_TRUE(folder) << "the start did not open its window: "
                        << testsupport::ReadFile(prefix + "-first.txt");
    EXPECT_TRUE(IsPrivateFolder(*folder, kUser));
    if (test.usualTaken) {
      EXPECT_EQ(*folder, usual);
    } else {
      EXPECT_EQ(folder->rfind(usual + "-", 0), 0u) << *folder;
      // Standard error tells which folder is used instead.
      EXPECT_NE(testsupport::ReadFile(prefix + "-first.txt").find("using " + *folder),
                std::string::npos)
          << testsupport::ReadFile(prefix + "-first.txt");
    }

    // A second start of the same user finds the first and ends; the first runs on.
    const pid_t second = StartProgram(kUser, prefix + "-second.txt");
    EXPECT_EQ(lab_->Wait(second, 60s), 0) << testsupport::ReadFile(prefix + "-second.txt");
    EXPECT_TRUE(Running(first));

    // Nothing of the other user's changed, and everything the user's starts made lies inside
    // the user's own folder. Qt keeps a runtime folder of its own ("runtime-USER", created
    // and checked by Qt) in the temporary folder when XDG_RUNTIME_DIR is unset; it is not the
    // program's.
    const auto qtRuntime = [&](const std::string& relative) {
      return relative.rfind("runtime-", 0) == 0;
    };
    std::map<std::string, std::string> after = testsupport::FolderSnapshot(Tmp());
    const std::string own = fs::path(*folder).filename().string();
    std::erase_if(after, [&](const auto& entry) {
      return entry.first == own || entry.first.rfind(own + "/", 0) == 0 || qtRuntime(entry.first);
    });
    std::erase_if(before, [&](const auto& entry) { return qtRuntime(entry.first); });
    if (test.usualTaken) {
      EXPECT_TRUE(after.empty());
    } else {
      EXPECT_EQ(after, before);
    }
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(Tmp())) {
      struct stat status {};
      ASSERT_EQ(::lstat(entry.path().c_str(), &status), 0);
      if (status.st_uid == kUser && !qtRuntime(fs::relative(entry.path(), Tmp()).string())) {
        EXPECT_EQ(entry.path().string().rfind(*folder, 0), 0u) << entry.path();
      }
    }
    lab_->Terminate(first);
    if (other > 0) {
      lab_->Terminate(other);
    }
  }
}

}  // namespace
