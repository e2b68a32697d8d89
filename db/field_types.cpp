#include "db/field_types.h"

namespace morvex {

TFieldClass FieldTypeClass(TFieldType type) {
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftBoolean:
    case ftAutoInc:
    case ftLargeint:
      return fcInteger;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftFMTBcd:
      return fcFloat;
    case ftDate:
      return fcDate;
    case ftTime:
      return fcTime;
    case ftDateTime:
      return fcDateTime;
    case ftMemo:
      return fcText;
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
      return fcBinary;
    default:
      return fcString;
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
