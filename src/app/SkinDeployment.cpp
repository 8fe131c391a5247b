#include "app/SkinDeployment.h"

#include <iterator>

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    {10, {1034,  2058,  3082,  4106,  5130,  6154,  7178,  8202,  9226, 11274,
          12298, 13322, 14346, 15370, 16394, 17418, 18442, 19466, 20490}},
    {11, {1040, 2064}},
    {12, {1043, 2067}},
    {13, {1045}},
    {14, {1030}},
};

// Creates one folder level where it does not exist yet. A file in its place fails.
bool EnsureFolder(const QString& path) {
  const QFileInfo info(path);
  if (info.isDir()) {
    return true;
  }
  return QDir().mkdir(path);
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

QString SkinResourcePath(int id, const QString& type) {
  return QStringLiteral(":/skin/%1/%2").arg(type).arg(id);
}

bool WriteResourceToFile(int id, const QString& type, const QString& path) {
  QFile resource(SkinResourcePath(id, type));
  if (!resource.open(QIODevice::ReadOnly)) {
    return false;
  }
  const QByteArray content = resource.readAll();
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    return false;
  }
  const qint64 written = file.write(content);
  // A full disk shows only when the buffered bytes are flushed.
  const bool flushed = file.flush();
  file.close();
  return written == content.size() && flushed && file.error() == QFileDevice::NoError;
}

bool WriteLayoutFile() {
  return WriteResourceToFile(LayoutResourceForLanguageId(GetSystemDefaultLangID()),
                             QString::fromUtf16(kXmlResource),
                             MakeLayoutPath(QString::fromUtf16(kLayoutFile)));
}

bool WriteImageFiles() {
  const QString pictureFolder = MakeLayoutPath(QString::fromUtf16(kPictureFolder));
  for (const SkinImage& image : kSkinImages) {
    QString fileName = QString::fromUtf16(image.fileName);
    fileName.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!WriteResourceToFile(image.id, QString::fromUtf16(image.type), pictureFolder + fileName)) {
      return false;
    }
  }
  return true;
}

bool DeploySkinFiles() {
  const QString base = GetWorkingBaseFolder();
  // The data folder of a new account may not exist yet; it is the user's own and is created with
  // its parents (the folders of the skin are created one level at a time).
  if (base.isEmpty() || !QDir().mkpath(base)) {
    return false;
  }
  if (!EnsureFolder(MakeLayoutPath(QString::fromUtf16(kToolFolder))) ||
      !EnsureFolder(MakeLayoutPath(QString::fromUtf16(kPictureFolder)))) {
    return false;
  }
  return WriteLayoutFile() && WriteImageFiles();
}
