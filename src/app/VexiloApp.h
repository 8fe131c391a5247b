#pragma once

// The program with its window: one instance per user, the skin deployed, the discovery engine
// started with the window's device handler, the window run until it closes, the engine stopped.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QByteArray>
#include <QString>

class QLockFile;
class QLocalServer;

// The failure message of a start whose skin files cannot be written, in the language of
// `languageCode`.
QString DeployFailureMessage(int languageCode);

// Shows a start-up message with one OK button; tests replace it.
using MessageBoxHook = void (*)(const QString& caption, const QString& text);
void SetMessageBoxHook(MessageBoxHook hook);

class CVexiloApp {
 public:
  // `logFile`: empty keeps the diagnostic log off, as a normal start does.
  explicit CVexiloApp(std::string logFile = {});
  ~CVexiloApp();

  // The whole start: single instance, skin, engine, the window until it closes. Returns false in
  // every case, as the application framework's start hook does; ExitInstance follows.
  bool InitInstance();
  // Stops the engine and gives up the instance lock. Returns the exit status.
  int ExitInstance();
  // Takes the device table, sets the log, hands the window's device handler to the engine and
  // starts the search workers.
  void InitDiscovery();

  // How the single-instance step ended.
  enum class InstanceLock {
    kTaken,          // this is the only instance; the lock is held
    kOtherInstance,  // another instance runs and was asked to come to the front
    kFailed,         // no usable runtime folder: the user was told, the exit status is 1
  };
  // Chooses the runtime folder and takes the instance lock in it. Starts nothing else, so tests
  // can run it on its own.
  InstanceLock TakeInstanceLock();
  // The exit status so far: 1 once a start has failed with a message, else 0.
  int ExitStatus() const;

  // The single-instance lock; null when not held.
  std::unique_ptr<QLockFile> instanceMutex;

 private:
  // Tells the user that the runtime folder cannot be used, in the window's language and on
  // standard error, and sets the exit status.
  void ReportUnusableFolder(const QString& folder, const QString& reason);

  std::string logFile_;
  int exitStatus_ = 0;
  // The runtime folder of the lock and the bring-to-front server, once chosen.
  QString instanceFolder_;
  // Why the usual runtime folder was passed over; written to the log once it is set up.
  QString instanceFolderNote_;
};

// The longest activation token a second start passes on; launchers' tokens are far shorter.
inline constexpr int kActivationTokenMaxLength = 256;

// True for an activation token that may be passed on and used: 1 to kActivationTokenMaxLength
// printable ASCII characters, no space.
bool IsValidActivationToken(const QByteArray& token);

// The activation tokens this process was started with, each empty unless valid:
// XDG_ACTIVATION_TOKEN (a Wayland compositor's) and DESKTOP_STARTUP_ID (an X11 launcher's), as the
// environment held them at the first call. Qt's X11 platform takes DESKTOP_STARTUP_ID out of the
// environment when it connects, so the first call comes before the application object exists.
struct ActivationTokens {
  QByteArray wayland;
  QByteArray x11;
};
const ActivationTokens& LaunchActivationTokens();

// Removes both tokens from the environment: a token is good for one activation, and programs this
// one starts (a browser, a file manager) must not present it as theirs.
void ForgetActivationTokens();

// The line a second start sends: the command number, then a space and the activation token when
// it has one ("1124 TOKEN\n").
QByteArray BringToFrontLine(const QByteArray& token);

// Reads one line that a second start sent, its line end removed: nothing when it is not the
// bring-to-front command; else the token that came with it, empty when none came or when it is
// not a valid token (the window still comes to the front, as well as it can without one).
std::optional<QByteArray> ParseBringToFrontLine(const QByteArray& line);

// Sends the bring-to-front command with `token` (may be empty) to the window of the instance
// whose runtime folder is `folder`. False when none answers.
bool SendBringToFront(const QString& folder, const QByteArray& token = {});

// Listens in `folder` for the bring-to-front command on behalf of `onCommand`, which gets the
// command's activation token (empty when none came); the server is the window's.
std::unique_ptr<QLocalServer> ListenForBringToFront(
    const QString& folder, const std::function<void(const QByteArray& token)>& onCommand);
