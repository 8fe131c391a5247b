#pragma once

// The working base folder under which the skin is deployed and from which every relative skin path
// of a layout document is resolved. Skin paths are written with backslashes
// ("\ORVAKSearchTools\Picture\logo.png"); they are kept that way in documents and code and turned
// into Linux paths only when they are joined to the base folder.

#include <QString>

// The user's data folder ($XDG_DATA_HOME, by default ~/.local/share) without a trailing
// separator; empty when there is none. The folder is not created here.
QString GetWorkingBaseFolder();

// GetWorkingBaseFolder() + `relativePath`, every backslash of the relative part turned into '/'.
// Empty when the base folder is empty. An empty relative path yields the base folder itself.
QString MakeLayoutPath(const QString& relativePath);

// The joining rule of MakeLayoutPath for a given base folder.
QString JoinLayoutPath(const QString& baseFolder, const QString& relativePath);

// Whether `path` lies inside `baseFolder` (or is the folder itself) once ".", ".." and repeated
// separators are resolved on the text alone, the file system not asked. An empty base folder
// contains nothing.
bool LiesInsideFolder(const QString& path, const QString& baseFolder);
