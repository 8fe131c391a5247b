#pragma once

// Reading a layout document into a DialogInfo record. The reader works on the document's bytes
// and touches nothing else, so it can be tested and fuzzed alone; the layout store reads the file
// and calls it.

#include <cstddef>
#include <cstdint>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "layout/LayoutRecords.h"

// What a skin author should know about one read.
struct LayoutReadReport {
  // Why the read returned false: the element and the attribute it lacks.
  QString error;
  // What left the record empty or partly empty without being an error: a file that cannot be
  // read, bytes that are not XML, no DialogInfo of the requested identifier, no variant element;
  // and what a limit below made the reader leave out, cut or refuse.
  QStringList notes;
  // The document could not be had (the layout store's file read failed) or its bytes are not XML:
  // the record is empty for that reason alone.
  bool unreadable = false;
  // A limit below was reached: controls left out, texts cut, a size cut to the limit, image paths
  // that leave the base folder read as no image.
  bool limited = false;
  // The dialog's size as written exceeds kMaxLayoutDialogSize (the record holds it cut to the
  // limit).
  bool dialogTooLarge = false;
};

// Documents nested deeper than this are treated as not being XML: the layouts have four levels,
// and a deep tree would only cost stack and memory.
inline constexpr int kMaxLayoutDepth = 64;

// At most this many controls are kept; the controls of later identifiers are left out. The
// shipped layouts have nine. Each control is a child window, and Qt paints sibling windows by
// recursion, one stack frame each: tens of thousands of them exhaust the stack.
inline constexpr std::size_t kMaxLayoutCtrls = 1024;
// Texts (DialogText, DialogDiscrip, CtrlText, CtrlDiscrip, StringValue) longer than this many
// UTF-16 code units are cut to it, never inside a surrogate pair. The longest shipped text has
// fewer than 40; a caption of megabytes would only cost time at every layout of the text.
inline constexpr qsizetype kMaxLayoutTextLength = 4096;
// The dialog's size (the right and bottom of DialogPos) and each control's width and height are
// cut to this many pixels. A window is useful only as large as a screen, and the largest common
// screens are 3840 pixels wide at scale 1; every paint of a window or control fills a buffer of
// its size, which at 4096 x 4096 is 64 MB (256 MB at device pixel ratio 2, the most Qt allows for
// one image), while 30000 x 30000 cannot be allocated at all.
inline constexpr std::int32_t kMaxLayoutDialogSize = 4096;

// Clears the record the way every read starts: identifier, paint mode, text colour, text offset
// and font size 0; paths, texts, the text colour text and the font empty; no controls and no
// strings. The background colour (text and value) and the rectangle keep their values.
void ResetDialogInfo(DialogInfo& record);

// Reads the DialogInfo elements of `document` whose DialogID is `dialogId` into `record`, which
// the caller has reset. Only DialogInfo elements whose parent is a WindowInformation element
// count; of each, the first child element named `variant` gives the dialog's look and its
// CtrlInfo descendants the controls; the StringInfo elements anywhere below the DialogInfo give
// the strings. The first control or string of an identifier wins; a later DialogInfo of the same
// identifier overwrites the dialog fields it sets. Relative paths are joined to `baseFolder`.
//
// Bytes that are not XML read as an empty document: nothing is found and the result is true. A
// visited element that lacks one of the attributes the reader needs ends the read with false; what
// was read before stays in the record.
//
// The limits above hold whatever the document says: later controls are left out, long texts and
// large sizes are cut, and an image path that leaves `baseFolder` once "." and ".." are resolved
// reads as the base folder itself (no image); the report says so.
bool ReadLayoutDocument(const QByteArray& document, std::int32_t dialogId, const QString& variant,
                        const QString& baseFolder, DialogInfo& record,
                        LayoutReadReport* report = nullptr);
