#include "db/field_types.h"

namespace morvex {

int FieldTypeClass(TFieldType type) {
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftBoolean:
    case ftAutoInc:
    case ftLargeint:
      return 2;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftFMTBcd:
      return 3;
    case ftDate:
      return 4;
    case ftTime:
      return 5;
    case ftDateTime:
      return 6;
    case ftMemo:
      return 1;
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftGraphic:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob:
      return 7;
    default:
      return 0;
  }
}

TFieldType FieldTypeOfClass(std::string_view name) {
  if (name == "text") return ftMemo;
  if (name == "integer") return ftInteger;
  if (name == "float") return ftFloat;
  if (name == "date") return ftDate;
  if (name == "time") return ftTime;
  if (name == "datetime") return ftDateTime;
  if (name == "binary") return ftBlob;
  return ftString;
}

}  // namespace morvex
