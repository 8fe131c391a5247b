#pragma once

// The skin that the program carries in its resources (one layout document per language and the
// images of the window) is written as ordinary files below the working base folder at every
// start; the layout store and the controls read these files, never the resources.

#include <cstdint>

#include <QByteArray>
#include <QString>

// Skin folders relative to the working base folder (platform/WorkingFolder.h).
inline constexpr char16_t kToolFolder[] = u"\\ORVAKSearchTools";
inline constexpr char16_t kPictureFolder[] = u"\\ORVAKSearchTools\\Picture";
// The layout document, relative to the working base folder.
inline constexpr char16_t kLayoutFile[] = u"\\ORVAKSearchTools\\WndLayoutInfo.xml";

// Resource types and the identifiers of the layout documents: one per language code.
inline constexpr char16_t kXmlResource[] = u"XML";
inline constexpr char16_t kPngResource[] = u"PNG";
inline constexpr char16_t kBmpResource[] = u"BMP";
inline constexpr int kLayoutSimplifiedChinese = 149;
inline constexpr int kLayoutEnglish = 150;
inline constexpr int kLayoutTraditionalChinese = 151;
inline constexpr int kLayoutJapanese = 159;
inline constexpr int kLayoutGerman = 160;
inline constexpr int kLayoutFrench = 161;
inline constexpr int kLayoutRussian = 162;
inline constexpr int kLayoutKorean = 163;
inline constexpr int kLayoutPortuguese = 164;
inline constexpr int kLayoutSpanish = 165;
inline constexpr int kLayoutItalian = 166;
inline constexpr int kLayoutDutch = 169;
inline constexpr int kLayoutPolish = 175;
inline constexpr int kLayoutDanish = 176;

// One image of the skin: its file name in the picture folder and its resource.
struct SkinImageResource {
  const char16_t* fileName;  // begins with a backslash
  const char16_t* type;
  int id;
};

// The images, in the order in which they are written: the eight of the window, then the twins of
// twice the size that the controls draw from on screens with two device pixels to a logical one
// (the window shape is a region of logical pixels and has no twin). A twin's resource identifier
// is its original's plus 1000.
inline constexpr SkinImageResource kSkinImages[] = {
    {u"\\SearchDevice_BlackGround.bmp", kBmpResource, 158},
    {u"\\SearchDevice_BlackGround.png", kPngResource, 146},
    {u"\\Brush.png", kPngResource, 139},
    {u"\\logo.png", kPngResource, 144},
    {u"\\headerbackground.png", kPngResource, 147},
    {u"\\headerclip.png", kPngResource, 148},
    {u"\\close.png", kPngResource, 141},
    {u"\\ButtonMax.png", kPngResource, 140},
    {u"\\SearchDevice_BlackGround@2x.png", kPngResource, 1146},
    {u"\\Brush@2x.png", kPngResource, 1139},
    {u"\\logo@2x.png", kPngResource, 1144},
    {u"\\headerbackground@2x.png", kPngResource, 1147},
    {u"\\headerclip@2x.png", kPngResource, 1148},
    {u"\\close@2x.png", kPngResource, 1141},
    {u"\\ButtonMax@2x.png", kPngResource, 1140},
};

// The language code 1-14 of a Windows language identifier, by full identifier: English 1 (also
// every identifier the table does not list), Chinese (PRC, Hong Kong, Singapore, Macao) 2, Chinese
// (Taiwan) 3, Japanese 4, German 5, French 6, Russian 7, Korean 8, Portuguese 9, Spanish 10,
// Italian 11, Dutch 12, Polish 13, Danish 14.
int LanguageCodeFromLangId(std::uint16_t langId);

// The language code of the system language.
int GetLanguageCode();

// The language code whose texts a user of `langId` reads: the identifier's own code, except for
// Chinese (Hong Kong SAR) 3076 and Chinese (Macao SAR) 5124, which share code 2 with the
// simplified script but read the traditional script of code 3.
int DisplayLanguageCode(std::uint16_t langId);

// DisplayLanguageCode of the system language; it chooses the window's texts and the start-up
// failure message.
int GetDisplayLanguageCode();

// The layout document for a language code: each code 1-14 has its own (English 150, simplified
// Chinese 149, traditional Chinese 151, then 159, 160, 161, 162, 163, 164, 165, 166, 169, 175 and
// 176 for codes 4 to 14); any other code gets English.
int LayoutResourceForLanguage(int languageCode);

// The layout document for a language identifier, by DisplayLanguageCode: Hong Kong and Macao get
// the traditional Chinese document.
int LayoutResourceForLanguageId(std::uint16_t langId);

// The Qt resource path of a skin resource, ":/skin/TYPE/ID".
QString SkinResourcePath(int id, const QString& type);

// The encoded bytes of the program's own skin image whose file name (without folder) is
// `fileName` ("logo.png", "logo@2x.png"); empty for a name the skin does not carry.
QByteArray BuiltInSkinImage(const QString& fileName);

// Writes the resource (id, type) to `path`: into a temporary file beside it, renamed over `path`
// once complete, so that a symbolic link, FIFO or device node at `path` is replaced and never
// followed or opened. False, with nothing created, when the resource does not exist, the folder
// does not exist, a folder has the name, or a file there cannot be opened for writing (a
// read-only file stays as it is, as it would if it were written in place); false, with the
// temporary file removed, when the content cannot be completely written.
bool WriteResourceToFile(int id, const QString& type, const QString& path);

// Writes the layout document of the system language into the tool folder, given as an open
// descriptor of the folder.
bool WriteLayoutFile(int toolFolder);
// Writes the images into the picture folder (an open descriptor) in table order; false at the
// first failure.
bool WriteImageFiles(int pictureFolder);

// Creates the tool folder and then the picture folder where nothing has their names, then writes
// the layout document and the images, replacing what is there. Both folders must be real
// folders: a symbolic link in their place fails the start rather than leading the files outside
// the data folder. False at the first failure; files written before it stay.
bool DeploySkinFiles();
