// The code-page table and charset names. Every `encoding` value of a project
// is a charset name of this table or one of the words "dos", "oem", "ansi";
// these functions turn names into code pages and code pages back into names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace morvex {

// One row of the table. Texts are written exactly as the table holds them
// (letter case matters); `CharsetName` is empty for the three symbolic rows.
struct TCodePageRow {
  const char* CharsetName;
  const char* DisplayName;
  const char* CodePage;  // decimal digits
};

constexpr int kCodePageTableSize = 122;
extern const TCodePageRow CodePageTable[kCodePageTableSize];

// The system ANSI and console OEM code pages are both UTF-8 on this platform.
constexpr uint16_t kSystemAnsiCodePage = 65001;
constexpr uint16_t kSystemOemCodePage = 65001;
// The system Macintosh code page, reached through the symbolic number 2.
constexpr uint16_t kSystemMacCodePage = 10000;

// First row whose charset name equals `name` exactly (rows without a charset
// name match on their display name); -1 when none.
int CharsetIndexByName(std::string_view name);

// First row whose code page column is `codePage` written in decimal; -1 when none.
int CharsetIndexByCodePage(uint16_t codePage);

// The row's charset name, or its display name when that is empty; empty text
// when no row has the code page.
std::string CharsetNameOfCodePage(uint16_t codePage);

// Replaces a three-character "dos"/"oem" (any case) by the OEM code page's
// charset name and a four-character "ansi" by the ANSI one, when those names
// are not empty. Other names stay as they are, and so do the three words
// when the code page is UTF-8 (this platform): the table's "utf-8" would add a
// byte-order mark that the system encoding does not write.
void NormalizeCharsetName(std::string& name);

// The charset name of the system ANSI code page ("utf-8" here), fixed for the
// process; the encoding of XML output when none is given.
const std::string& DefaultCharsetName();

}  // namespace morvex
