// The XML 1.0 (fifth edition) rules on characters and names, for writers that
// must refuse what a document cannot carry. Wide strings are UTF-16 where
// wchar_t has 16 bits and UTF-32 elsewhere; a broken surrogate pair is invalid.
#pragma once

namespace utils::xml {

// True when name is a non-empty XML Name (colons allowed).
bool isXmlName(const wchar_t* name);

// True when every character of text may appear in an XML document.
bool isXmlText(const wchar_t* text);

}  // namespace utils::xml
