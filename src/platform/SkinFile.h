#pragma once

// Reading the files of a skin (layout documents and images) from paths that someone else may have
// chosen. Only regular files are read: a FIFO would block the reader until a writer comes, a
// device such as /dev/zero never ends, and opening some devices has effects of its own. What is
// read is capped whatever size the file reports, since files of /proc and of some file systems
// report 0 and still have content.

#include <functional>

#include <QByteArray>
#include <QImage>
#include <QString>

// The most a skin file may hold: a layout document is a few kilobytes, an image a few hundred.
inline constexpr qint64 kMaxSkinFileSize = 16 * 1024 * 1024;

struct SkinFileContent {
  // True when `bytes` holds the whole file.
  bool read = false;
  QByteArray bytes;
  // Why the file was not read, as a phrase to follow its path ("is a FIFO, not a regular file").
  QString problem;
};

// The whole file at `path` when it is a regular file (symbolic links followed) of at most
// `limit` bytes. A path below the working base folder (GetWorkingBaseFolder) must stay there once
// its symbolic links are followed. The file is looked at before it is opened and opened without
// blocking, and its kind is checked again on the open descriptor, so neither a FIFO nor a device is
// ever read, even when one replaces the file between the look and the open.
SkinFileContent ReadSkinFile(const QString& path, qint64 limit = kMaxSkinFileSize);

struct LoadedSkinImage {
  // Null when the image could not be loaded.
  QImage image;
  // Why, as a phrase to follow the path; empty when the image was loaded.
  QString problem;
};

// The image in the file at `path`, read with ReadSkinFile and decoded by Qt's image readers from
// the bytes. An image whose pixels would need more memory than Qt's image allocation limit
// (QImageReader::allocationLimit(), 256 MB unless changed) is refused before it is decoded, with
// its size in the reason.
LoadedSkinImage LoadSkinImage(const QString& path);

// Where LoadSkinImage finds images besides their own files. The window sets none of this: it draws
// only from the skin it deployed. The layout tools set it so that a skin author sees the real
// picture on an account where the window never ran, and can try images of their own.
struct SkinImageSources {
  // Looked in first: a file of the image's file name in this folder.
  QString authorFolder;
  // Asked last, when the image's own file does not exist: the encoded bytes of the program's own
  // image of that file name; empty for a name it does not carry.
  std::function<QByteArray(const QString& fileName)> builtIn;
};

// Sets the sources for the whole process while it lives, and restores the ones before when it
// ends; made before anything loads an image.
class ScopedSkinImageSources {
 public:
  explicit ScopedSkinImageSources(SkinImageSources sources);
  ~ScopedSkinImageSources();
  ScopedSkinImageSources(const ScopedSkinImageSources&) = delete;
  ScopedSkinImageSources& operator=(const ScopedSkinImageSources&) = delete;

 private:
  SkinImageSources previous_;
};

// Whether `path` lies inside `baseFolder` on its text (LiesInsideFolder, WorkingFolder.h) and the
// file system resolves it to a place inside the resolved `baseFolder`: false for a symbolic link
// below the folder that leads out of it. A path that does not exist is judged on its text alone.
bool ResolvesInsideFolder(const QString& path, const QString& baseFolder);
