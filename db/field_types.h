// Database field types and their mapping onto the XML value type table.
// Drivers map their column types onto TFieldType; everything above the
// drivers looks only at the class index (FieldTypeClass).
#pragma once

#include <string_view>

namespace morvex {

// The dataset field types the drivers and the value classes tell apart, in
// the classic order; FieldTypeClass gives each its class by name, so the
// numbers are not stored or compared anywhere.
enum TFieldType : int {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftGuid,
  ftTimeStamp,
  ftFMTBcd,
  ftFixedWideChar,
  ftWideMemo,
  ftLongWord,
  ftShortint,
  ftByte,
  ftExtended,
  ftSingle,
};

// The class of a field type: its index in the XML value type table, which
// stored documents and declared kinds use, so the numbers stay as they are.
enum TFieldClass : int {
  fcString = 0,
  fcText = 1,  // ftMemo only
  fcInteger = 2,
  fcFloat = 3,
  fcDate = 4,
  fcTime = 5,
  fcDateTime = 6,
  fcBinary = 7,
};

// Date, time and date-time fields: values on the date-time scale.
constexpr bool IsDateClass(TFieldClass c) { return c >= fcDate && c <= fcDateTime; }
// Integer, float and date-time fields: written in CSV without quotes.
constexpr bool IsBareClass(TFieldClass c) { return c >= fcInteger && c <= fcDateTime; }
// Text and binary fields: written as CDATA in dataset XML.
constexpr bool IsCDataClass(TFieldClass c) { return c == fcText || c == fcBinary; }

// The class of a field type: integer types (booleans included) fcInteger,
// float and exact decimal types fcFloat, ftDate/ftTime/ftDateTime their
// classes, ftMemo fcText, binary and large-object types fcBinary, fcString
// for the rest.
TFieldClass FieldTypeClass(TFieldType type);

// The parameter type for a declared value type name (exact, case-sensitive):
// "text" ftMemo, "integer" ftInteger, "float" ftFloat, "date" ftDate, "time"
// ftTime, "datetime" ftDateTime, "binary" ftBlob, anything else ftString.
TFieldType FieldTypeOfClass(std::string_view name);

}  // namespace morvex
