// The writer a query step runs, for tests that call the query session with
// a transform record of their own.
#pragma once

#include "templates/dataset_writer.h"
#include "text/step_info.h"

namespace morvex::testing {

// As the kind rows choose it: nothing without a transformation, CSV for the
// csv kind, dataset XML for every other kind.
inline TQueryOutputKind WriterFor(const TXTransformInfo& transform) {
  if (transform.Kind == tkNone) return TQueryOutputKind::None;
  return transform.Kind == tkCsv ? TQueryOutputKind::Csv : TQueryOutputKind::DatasetXml;
}

}  // namespace morvex::testing
