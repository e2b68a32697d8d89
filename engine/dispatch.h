// The step-combination dispatcher: given a script's resolved steps, decides
// which single operation runs (a query template session, an XSLT or XPath
// operation, a conversion, a script, or a plain copy) and turns a failed
// operation into an error with the step's fixed prefix.
#pragma once

#include <string>
#include <vector>

#include "engine/run_callbacks.h"
#include "xml/xslt.h"

namespace morvex {

class TParameterList;
class TStreamRegistry;
struct TProject;
struct TScriptSteps;

// What a script's dispatch reads from its project run.
struct TDispatchContext {
  const TProject& Project;  // the query template layer reads the parameter declarations
  const TParameterList& Parameters;
  const TTransformParameters& TransformParameters;  // typed values for stylesheets
  const std::vector<std::string>& ParameterTexts;   // command-line name=value texts
  TStreamRegistry& Streams;
  const TOutputCallback& OnOutput;  // also the progress sink of the operations
};

// Raises the fixed message of a step combination that cannot run ("Destination
// must be specified!", "This combination of Source, (L)SQL, Transformation and
// Destination is not supported!", ...), before anything runs; DispatchScript
// raises the same messages. Needs only the resolved kinds and whether a
// query document exists.
void CheckStepCombination(const TScriptSteps& steps);

// Runs the script's one operation. A stream destination is taken from the
// registry emptied (stored in steps.Destination.Stream) before anything is
// written to it. Combinations that cannot run raise their fixed messages
// ("Destination must be specified!", "This combination of Source, (L)SQL,
// Transformation and Destination is not supported!", ...); a failed operation
// raises its step prefix + its message ("XSL Transformation error: ...").
// Output files are written at destination.Location as it stands (the runner
// points it at a temporary file and keeps the output only when this returns).
void DispatchScript(TScriptSteps& steps, const TDispatchContext& context);

}  // namespace morvex
