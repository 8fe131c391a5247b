#pragma once

// Reading a layout document into a DialogInfo record. The reader works on the document's bytes
// and touches nothing else, so it can be tested and fuzzed alone; the layout store reads the file
// and calls it.

#include <cstdint>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "layout/LayoutRecords.h"

// What a skin author should know about one read.
struct LayoutReadReport {
  // Why the read returned false: the element and the attribute it lacks.
  QString error;
  // What left the record empty or partly empty without being an error: bytes that are not XML,
  // no DialogInfo of the requested identifier, no variant element.
  QStringList notes;
};

// Documents nested deeper than this are treated as not being XML: the layouts have four levels,
// and a deep tree would only cost stack and memory.
inline constexpr int kMaxLayoutDepth = 64;

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
bool ReadLayoutDocument(const QByteArray& document, std::int32_t dialogId, const QString& variant,
                        const QString& baseFolder, DialogInfo& record,
                        LayoutReadReport* report = nullptr);
