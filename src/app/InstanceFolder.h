#pragma once

// The folder that holds the single-instance lock and the socket by which a second start raises
// the first window. Two starts of one user must find the same folder, and no other user may be
// able to put anything in it: a lock or socket of someone else's there would make every start of
// this user believe that another instance runs.

#include <QString>

struct InstanceFolderChoice {
  // The folder to use; empty when none can be used.
  QString path;
  // Why the usual folder was passed over for `path`, for the log and standard error; empty when
  // the usual folder was taken.
  QString note;
  // When `path` is empty: the folder that could not be used and the system's reason.
  QString failedFolder;
  QString reason;
};

// $XDG_RUNTIME_DIR when it is set and names an existing folder; such a folder must be one this
// user can write to and enter, or the choice fails. Without it (unset, empty or missing), a folder
// of the user's own in the temporary folder (QDir::tempPath(), which honours TMPDIR):
// "tarvelo-UID", created with mode 0700 and used only when it is a real folder (not a link) owned
// by the user that no one else can write to; a wider mode of such a folder that lets others only
// read or enter is narrowed to 0700. When something else holds that name, the first (by name) of
// the user's private "tarvelo-UID-XXXXXX" folders is used, else a fresh one from mkdtemp, so that
// every start of the user ends up in the same one.
InstanceFolderChoice ChooseInstanceFolder();
