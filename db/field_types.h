// Database field types and their mapping onto the XML value type table.
// Drivers map their column types onto TFieldType; everything above the
// drivers looks only at the class index (FieldTypeClass).
#pragma once

#include <string_view>

namespace morvex {

// In the classic order of dataset field types; the order matters, because
// every type after ftFMTBcd falls in the "string" class.
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
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftInterface,
  ftIDispatch,
  ftGuid,
  ftTimeStamp,
  ftFMTBcd,
  ftFixedWideChar,
  ftWideMemo,
  ftOraTimeStamp,
  ftOraInterval,
  ftLongWord,
  ftShortint,
  ftByte,
  ftExtended,
  ftConnection,
  ftParams,
  ftStream,
  ftTimeStampOffset,
  ftObject,
  ftSingle,
};

// The XML value type index of a field type: 2 integer, 3 float, 4 date,
// 5 time, 6 datetime, 1 text (ftMemo only), 7 binary, 0 string for the rest.
int FieldTypeClass(TFieldType type);

// The parameter type for a declared value type name (exact, case-sensitive):
// "text" ftMemo, "integer" ftInteger, "float" ftFloat, "date" ftDate, "time"
// ftTime, "datetime" ftDateTime, "binary" ftBlob, anything else ftString.
TFieldType FieldTypeOfClass(std::string_view name);

}  // namespace morvex
