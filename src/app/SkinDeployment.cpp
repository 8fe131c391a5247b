#include "app/SkinDeployment.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include "platform/Descriptor.h"
#include "platform/SystemLanguage.h"
#include "platform/WorkingFolder.h"

namespace {

struct LanguageCodeIds {
  int code;
  std::initializer_list<std::uint16_t> ids;
};

const LanguageCodeIds kLanguageCodes[] = {
    {2, {2052, 3076, 4100, 5124}},
    {3, {1028}},
    {4, {1041}},
    {5, {1031, 2055, 3079, 4103, 5127}},
    {6, {1036, 2060, 3084, 4108, 5132}},
    {7, {1049}},
    {8, {1042, 2066}},
    {9, {1046, 2070}},
    {10,
     {1034, 2058, 3082, 4106, 5130, 6154, 7178, 8202, 9226, 11274, 12298, 13322, 14346, 15370,
      16394, 17418, 18442, 19466, 20490}},
    {11, {1040, 2064}},
    {12, {1043, 2067}},
    {13, {1045}},
    {14, {1030}},
};

// The last component of a relative skin path ("\ORVAKSearchTools\Picture" gives "Picture").
QByteArray LastComponent(const char16_t* relativePath) {
  const QString path = QString::fromUtf16(relativePath);
  return QFile::encodeName(path.mid(path.lastIndexOf(QLatin1Char('\\')) + 1));
}

// Opens one folder level of the skin inside `parent`, creating it where nothing has the name.
// Whatever has the name must be a real folder: a symbolic link there could lead the skin's
// files anywhere, over files the user (or root, for a start as root) never meant to give up, so
// a link fails the start just as a file in the folder's place does. The link is the user's to
// remove; replacing it silently could destroy an arrangement of theirs.
int OpenSkinFolder(int parent, const QByteArray& name) {
  // mkdirat never follows a link, not even a dangling one: it fails with EEXIST.
  if (::mkdirat(parent, name.constData(), 0777) != 0 && errno != EEXIST) {
    return -1;
  }
  return ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Writes every byte, resuming after a signal or a short write.
bool WriteAll(int fd, const QByteArray& content) {
  const char* data = content.constData();
  qint64 left = content.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    data += written;
    left -= written;
  }
  return true;
}

// Creates a temporary file of a fresh name beside the target, in the same folder so that the
// rename below stays on one file system. Its name goes to `temporaryName`.
int CreateTemporary(int folder, const QByteArray& name, QByteArray& temporaryName) {
  constexpr int kAttempts = 100;
  constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    temporaryName = '.' + name + '.';
    for (int i = 0; i < 6; ++i) {
      temporaryName +=
          kLetters[QRandomGenerator::global()->bounded(static_cast<int>(sizeof kLetters) - 1)];
    }
    // O_EXCL with O_NOFOLLOW: a name that appeared meanwhile, a link included, is never opened.
    const int fd = ::openat(folder, temporaryName.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) {
      return fd;
    }
  }
  return -1;
}

// Replaces `name` in `folder` with a file of `content`: written to a temporary file beside it,
// flushed to the disk and renamed over the name. The rename replaces a symbolic link, FIFO,
// socket or device node that has the name, and never follows or opens it, so nothing outside the
// folder is written and nothing can block. A folder of that name, and a file that cannot be
// opened for writing (made read-only by the user, or immutable), fail and stay as they are, as
// they would if the file were written in place. No temporary file is left on failure.
bool ReplaceFile(int folder, const QByteArray& name, const QByteArray& content) {
  struct stat status {};
  if (::fstatat(folder, name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(status.st_mode)) {
      return false;
    }
    if (S_ISREG(status.st_mode)) {
      // Opening asks the system whether this identity may write the file; nothing is truncated
      // or written through this descriptor. O_NONBLOCK keeps a FIFO swapped in meanwhile from
      // blocking.
      const Descriptor probe(::openat(folder, name.constData(),
                                      O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
      if (!probe.Valid()) {
        return false;
      }
    }
  } else if (errno != ENOENT) {
    return false;
  }
  QByteArray temporaryName;
  Descriptor temporary(CreateTemporary(folder, name, temporaryName));
  if (!temporary.Valid()) {
    return false;
  }
  // A full disk shows in the write, in fsync or in close.
  const bool written = WriteAll(temporary.Get(), content) && ::fsync(temporary.Get()) == 0;
  const bool closed = temporary.Close();
  if (!written || !closed ||
      ::renameat(folder, temporaryName.constData(), folder, name.constData()) != 0) {
    ::unlinkat(folder, temporaryName.constData(), 0);
    return false;
  }
  return true;
}

QByteArray ReadResource(int id, const QString& type, bool& found) {
  QFile resource(SkinResourcePath(id, type));
  found = resource.open(QIODevice::ReadOnly);
  return found ? resource.readAll() : QByteArray();
}

// Writes the resource (id, type) as `name` in `folder`.
bool WriteResourceInto(int folder, int id, const QString& type, const QByteArray& name) {
  bool found = false;
  const QByteArray content = ReadResource(id, type, found);
  return found && ReplaceFile(folder, name, content);
}

}  // namespace

int LanguageCodeFromLangId(std::uint16_t langId) {
  for (const LanguageCodeIds& entry : kLanguageCodes) {
    for (const std::uint16_t id : entry.ids) {
      if (id == langId) {
        return entry.code;
      }
    }
  }
  return 1;
}

int GetLanguageCode() { return LanguageCodeFromLangId(GetSystemDefaultLangID()); }

int DisplayLanguageCode(std::uint16_t langId) {
  // Hong Kong and Macao write the traditional script, although the language table files them
  // with the simplified script of the mainland.
  constexpr std::uint16_t kChineseHongKong = 3076;
  constexpr std::uint16_t kChineseMacao = 5124;
  constexpr int kTraditionalChineseCode = 3;
  if (langId == kChineseHongKong || langId == kChineseMacao) {
    return kTraditionalChineseCode;
  }
  return LanguageCodeFromLangId(langId);
}

int GetDisplayLanguageCode() { return DisplayLanguageCode(GetSystemDefaultLangID()); }

int LayoutResourceForLanguage(int languageCode) {
  // Indexed by language code - 1.
  constexpr int kLayoutByCode[] = {
      kLayoutEnglish,
      kLayoutSimplifiedChinese,
      kLayoutTraditionalChinese,
      kLayoutJapanese,
      kLayoutGerman,
      kLayoutFrench,
      kLayoutRussian,
      kLayoutKorean,
      kLayoutPortuguese,
      kLayoutSpanish,
      kLayoutItalian,
      kLayoutDutch,
      kLayoutPolish,
      kLayoutDanish,
  };
  if (languageCode < 1 || languageCode > static_cast<int>(std::size(kLayoutByCode))) {
    return kLayoutEnglish;
  }
  return kLayoutByCode[languageCode - 1];
}

int LayoutResourceForLanguageId(std::uint16_t langId) {
  return LayoutResourceForLanguage(DisplayLanguageCode(langId));
}

QByteArray BuiltInSkinImage(const QString& fileName) {
  for (const SkinImageResource& image : kSkinImages) {
    if (LastComponent(image.fileName) == QFile::encodeName(fileName)) {
      QFile resource(SkinResourcePath(image.id, QString::fromUtf16(image.type)));
      return resource.open(QIODevice::ReadOnly) ? resource.readAll() : QByteArray();
    }
  }
  return QByteArray();
}

QString SkinResourcePath(int id, const QString& type) {
  return QStringLiteral(":/skin/%1/%2").arg(type).arg(id);
}

bool WriteResourceToFile(int id, const QString& type, const QString& path) {
  bool found = false;
  const QByteArray content = ReadResource(id, type, found);
  if (!found) {
    return false;
  }
  const QFileInfo target(path);
  // The caller names the folder, links and all; only the file's own name is replaced safely.
  const Descriptor folder(::open(QFile::encodeName(target.absolutePath()).constData(),
                                 O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return folder.Valid() && ReplaceFile(folder.Get(), QFile::encodeName(target.fileName()), content);
}

bool WriteLayoutFile(int toolFolder) {
  return WriteResourceInto(toolFolder, LayoutResourceForLanguageId(GetSystemDefaultLangID()),
                           QString::fromUtf16(kXmlResource), LastComponent(kLayoutFile));
}

bool WriteImageFiles(int pictureFolder) {
  for (const SkinImageResource& image : kSkinImages) {
    if (!WriteResourceInto(pictureFolder, image.id, QString::fromUtf16(image.type),
                           LastComponent(image.fileName))) {
      return false;
    }
  }
  return true;
}

bool DeploySkinFiles() {
  const QString base = GetWorkingBaseFolder();
  // The data folder of a new account may not exist yet; it is the user's own and is created with
  // its parents (the folders of the skin are created one level at a time). It may be a link (a
  // data folder moved to another disk); the levels of the skin below it may not.
  if (base.isEmpty() || !QDir().mkpath(base)) {
    return false;
  }
  const Descriptor baseFolder(
      ::open(QFile::encodeName(base).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!baseFolder.Valid()) {
    return false;
  }
  // Every file is written relative to the open folders, so that a folder swapped for a link
  // after it was checked cannot redirect a later file.
  const Descriptor toolFolder(OpenSkinFolder(baseFolder.Get(), LastComponent(kToolFolder)));
  if (!toolFolder.Valid()) {
    return false;
  }
  const Descriptor pictureFolder(OpenSkinFolder(toolFolder.Get(), LastComponent(kPictureFolder)));
  if (!pictureFolder.Valid()) {
    return false;
  }
  return WriteLayoutFile(toolFolder.Get()) && WriteImageFiles(pictureFolder.Get());
}
