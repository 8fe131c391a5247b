#include "platform/SkinFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include "platform/Descriptor.h"
#include "platform/WorkingFolder.h"

namespace {

QString KindOf(mode_t mode) {
  if (S_ISDIR(mode)) {
    return QStringLiteral("is a folder");
  }
  if (S_ISFIFO(mode)) {
    return QStringLiteral("is a FIFO");
  }
  if (S_ISCHR(mode)) {
    return QStringLiteral("is a character device");
  }
  if (S_ISBLK(mode)) {
    return QStringLiteral("is a block device");
  }
  if (S_ISSOCK(mode)) {
    return QStringLiteral("is a socket");
  }
  return QStringLiteral("is not a file");
}

QString NotRegular(mode_t mode) { return KindOf(mode) + QStringLiteral(", not a regular file"); }

QString SystemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

SkinFileContent Refused(QString problem) {
  SkinFileContent result;
  result.problem = std::move(problem);
  return result;
}

QString TooLarge(qint64 limit) { return QStringLiteral("is larger than %1 bytes").arg(limit); }

}  // namespace

SkinFileContent ReadSkinFile(const QString& path, qint64 limit) {
  if (path.isEmpty()) {
    return Refused(QStringLiteral("names no file"));
  }
  // Below the working base folder a skin is the user's own; a symbolic link there that leads out
  // of it would let a skin show any file the user may read.
  const QString baseFolder = GetWorkingBaseFolder();
  if (LiesInsideFolder(path, baseFolder) && !ResolvesInsideFolder(path, baseFolder)) {
    return Refused(
        QStringLiteral("leads out of the folder %1 through a symbolic link").arg(baseFolder));
  }
  const QByteArray name = QFile::encodeName(path);
  // A look before the open, so that a device is not even opened: opening some has effects.
  struct stat status {};
  if (::stat(name.constData(), &status) != 0) {
    return Refused(errno == ENOENT ? QStringLiteral("does not exist") : SystemError(errno));
  }
  if (!S_ISREG(status.st_mode)) {
    return Refused(NotRegular(status.st_mode));
  }
  // Without blocking: a FIFO put in the file's place after the look opens at once and is then
  // refused below, instead of waiting for a writer that never comes.
  int fd = -1;
  do {
    fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    return Refused(SystemError(errno));
  }
  const Descriptor file(fd);
  if (::fstat(file.Get(), &status) != 0) {
    return Refused(SystemError(errno));
  }
  if (!S_ISREG(status.st_mode)) {
    return Refused(NotRegular(status.st_mode));
  }
  if (status.st_size > limit) {
    return Refused(TooLarge(limit));
  }

  // The reported size is only a hint: read until the end, one byte past the limit at most.
  SkinFileContent result;
  const qint64 expected = std::max<qint64>(status.st_size, 0);
  result.bytes.reserve(static_cast<qsizetype>(std::min(expected, limit) + 1));
  char chunk[64 * 1024];
  for (;;) {
    const qint64 room = limit + 1 - result.bytes.size();
    const ssize_t got =
        ::read(file.Get(), chunk, static_cast<size_t>(std::min<qint64>(room, sizeof chunk)));
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return Refused(SystemError(errno));
    }
    if (got == 0) {
      break;
    }
    result.bytes.append(chunk, static_cast<qsizetype>(got));
    if (result.bytes.size() > limit) {
      return Refused(TooLarge(limit));
    }
  }
  result.read = true;
  return result;
}

namespace {

SkinImageSources& ImageSources() {
  static SkinImageSources sources;
  return sources;
}

// The bytes of the image `path` names: from the author's folder when it has a file of that name,
// else from the file itself, else from the program's own images when the file does not exist.
SkinFileContent ReadImageBytes(const QString& path) {
  const SkinImageSources& sources = ImageSources();
  const QString fileName = QFileInfo(path).fileName();
  if (!sources.authorFolder.isEmpty() && !fileName.isEmpty()) {
    const QString own = QDir(sources.authorFolder).filePath(fileName);
    if (QFileInfo(own).exists() || QFileInfo(own).isSymLink()) {
      SkinFileContent content = ReadSkinFile(own);
      if (!content.read) {
        content.problem = QStringLiteral("(taken from %1) %2").arg(own, content.problem);
      }
      return content;
    }
  }
  SkinFileContent content = ReadSkinFile(path);
  if (!content.read && sources.builtIn && !fileName.isEmpty() && !QFileInfo(path).exists() &&
      !QFileInfo(path).isSymLink()) {
    if (QByteArray bytes = sources.builtIn(fileName); !bytes.isEmpty()) {
      content.read = true;
      content.bytes = std::move(bytes);
      content.problem.clear();
    }
  }
  return content;
}

}  // namespace

ScopedSkinImageSources::ScopedSkinImageSources(SkinImageSources sources)
    : previous_(std::exchange(ImageSources(), std::move(sources))) {}

ScopedSkinImageSources::~ScopedSkinImageSources() { ImageSources() = std::move(previous_); }

LoadedSkinImage LoadSkinImage(const QString& path) {
  LoadedSkinImage result;
  SkinFileContent content = ReadImageBytes(path);
  if (!content.read) {
    result.problem = content.problem;
    return result;
  }
  QBuffer buffer(&content.bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  if (!reader.canRead()) {
    result.problem = QStringLiteral("is not an image in a format this program reads");
    return result;
  }
  // Qt refuses, without a word, to decode an image larger than its allocation limit; the size in
  // the header tells beforehand.
  const QSize size = reader.size();
  const int limitMegabytes = QImageReader::allocationLimit();
  if (size.isValid() && limitMegabytes > 0) {
    const QImage::Format format = reader.imageFormat();
    const int bits = format == QImage::Format_Invalid
                         ? 32
                         : std::max(1, int{QImage::toPixelFormat(format).bitsPerPixel()});
    const qint64 bytesPerLine = (qint64{size.width()} * bits + 31) / 32 * 4;
    const qint64 bytes = bytesPerLine * size.height();
    if (bytes > qint64{limitMegabytes} * 1024 * 1024) {
      result.problem = QStringLiteral(
                           "is an image of %1 x %2 pixels, which would need %3 MB, more "
                           "than the %4 MB allowed for one image")
                           .arg(size.width())
                           .arg(size.height())
                           .arg((bytes + 1024 * 1024 - 1) / (1024 * 1024))
                           .arg(limitMegabytes);
      return result;
    }
  }
  QImage image = reader.read();
  if (image.isNull()) {
    result.problem = QStringLiteral("cannot be decoded: %1").arg(reader.errorString());
    return result;
  }
  result.image = std::move(image);
  return result;
}

bool ResolvesInsideFolder(const QString& path, const QString& baseFolder) {
  if (!LiesInsideFolder(path, baseFolder)) {
    return false;
  }
  const QString resolvedFolder = QFileInfo(baseFolder).canonicalFilePath();
  const QString resolved = QFileInfo(path).canonicalFilePath();
  if (resolvedFolder.isEmpty() || resolved.isEmpty()) {
    // Nothing there to follow: the text has spoken.
    return true;
  }
  return LiesInsideFolder(resolved, resolvedFolder);
}
