#pragma once

// The skin that the program carries in its resources (one layout document per language and the
// images of the window) is written as ordinary files below the working base folder at every
// start; the layout store and the controls read these files, never the resources.

#include <cstdint>

#include <QString>

// Skin folders relative to the working base folder (platform/WorkingFolder.h).
inline constexpr char16_t kToolFolder[] = u"\\ORVAKSearchTools";
inline constexpr char16_t kPictureFolder[] = u"\\ORVAKSearchTools\\Picture";
// The layout document, relative to the working base folder.
inline constexpr char16_t kLayoutFile[] = u"\\ORVAKSearchTools\\WndLayoutInfo.xml";

// Resource types and the identifiers of the three layout documents.
inline constexpr char16_t kXmlResource[] = u"XML";
inline constexpr char16_t kPngResource[] = u"PNG";
inline constexpr char16_t kBmpResource[] = u"BMP";
inline constexpr int kLayoutSimplifiedChinese = 149;
inline constexpr int kLayoutEnglish = 150;
inline constexpr int kLayoutTraditionalChinese = 151;

// One image of the skin: its file name in the picture folder and its resource.
struct SkinImage {
  const char16_t* fileName;  // begins with a backslash
  const char16_t* type;
  int id;
};

// The images, in the order in which they are written.
inline constexpr SkinImage kSkinImages[] = {
    {u"\\SearchDevice_BlackGround.bmp", kBmpResource, 158},
    {u"\\SearchDevice_BlackGround.png", kPngResource, 146},
    {u"\\Brush.png", kPngResource, 139},
    {u"\\logo.png", kPngResource, 144},
    {u"\\headerbackground.png", kPngResource, 147},
    {u"\\headerclip.png", kPngResource, 148},
    {u"\\close.png", kPngResource, 141},
    {u"\\ButtonMax.png", kPngResource, 140},
};

// The language code 1-14 of a Windows language identifier, by full identifier: English 1 (also
// every identifier the table does not list), Chinese (PRC, Hong Kong, Singapore, Macao) 2, Chinese
// (Taiwan) 3, Japanese 4, German 5, French 6, Russian 7, Korean 8, Portuguese 9, Spanish 10,
// Italian 11, Dutch 12, Polish 13, Danish 14.
int LanguageCodeFromLangId(std::uint16_t langId);

// The language code of the system language.
int GetLanguageCode();

// The layout document for a language code: traditional Chinese for 3, English for 1, simplified
// Chinese for every other code.
int LayoutResourceForLanguage(int languageCode);

// The Qt resource path of a skin resource, ":/skin/TYPE/ID".
QString SkinResourcePath(int id, const QString& type);

// Writes the resource (id, type) to `path`, creating the file or truncating it, in one write.
// False when the resource does not exist or the file cannot be opened or completely written.
bool WriteResourceToFile(int id, const QString& type, const QString& path);

// Writes the layout document of the system language to the layout file.
bool WriteLayoutFile();
// Writes the images to the picture folder in table order; false at the first failure.
bool WriteImageFiles();

// Creates the tool folder and then the picture folder where they do not exist, then writes the
// layout document and the images, overwriting what is there. False at the first failure; files
// written before it stay.
bool DeploySkinFiles();
