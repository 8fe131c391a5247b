#pragma once

// The program with its window: one instance per user, the skin deployed, the discovery engine
// started with the window's device handler, the window run until it closes, the engine stopped.

#include <functional>
#include <memory>
#include <string>

#include <QString>

class QLockFile;
class QLocalServer;

// The failure message of a start whose skin files cannot be written, in the language of
// `languageCode`.
QString DeployFailureMessage(int languageCode);

// Where the instance lock and the bring-to-front server live: $XDG_RUNTIME_DIR, else a folder
// of the user's own in the temporary folder.
QString InstanceFolder();

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

  // The single-instance lock; null when not held.
  std::unique_ptr<QLockFile> instanceMutex;

 private:
  std::string logFile_;
  int exitStatus_ = 0;
};

// Sends the bring-to-front command to the running instance's window. False when none answers.
bool SendBringToFront();

// Listens for the bring-to-front command on behalf of `onCommand`; the server is the window's.
std::unique_ptr<QLocalServer> ListenForBringToFront(const std::function<void()>& onCommand);
