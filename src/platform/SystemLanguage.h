#pragma once

// The system language as a Windows language identifier (LANGID). Layout documents are chosen by
// that identifier, so the locale of the session is mapped onto it first; the choice of document
// is made from the identifier alone.

#include <cstdint>

#include <QString>

// The locale name that decides the language of the user interface: the first non-empty one of
// LC_ALL, LC_MESSAGES and LANG; "C" when none is set.
QString SystemLocaleName();

// The language identifier of a POSIX locale name such as "zh_CN.UTF-8", "de_AT@euro" or "es_PE"
// (a '-' instead of '_' is accepted too). "C" and "POSIX" are English (United States), 1033. A
// known language with an unknown territory gives the language's default identifier (de_BE gives
// 1031); an unknown language gives 0, the neutral identifier. Two legacy identifiers have no
// territory of their own and come from a codeset or modifier: "ko_KR.JOHAB" gives 2066 and
// "es_ES@traditional" gives 1034.
std::uint16_t LanguageIdFromLocaleName(const QString& localeName);

// LanguageIdFromLocaleName(SystemLocaleName()).
std::uint16_t GetSystemDefaultLangID();
