// The bridge to the external zqScript interpreter: a shared library loaded
// once per process with dlopen ("libzqScriptECL.so" for console scripts,
// "libzqScriptE.so" otherwise; searched the usual way, then in the
// program's own directory, and loaded only when its file exports the entry
// points) that stays loaded until the program ends. The
// interpreter reaches the MORVEX objects through the host interface of
// scripting/morvex_interpreter.h.
#pragma once

#include <string>
#include <vector>

#include "scripting/morvex_objects.h"

namespace morvex {

// The command string: "\"/zqs{host-interface=N,MORVEX;}\" " followed by each
// parameter text in double quotes, its own quotes doubled, and one space.
std::string InterpreterCommand(uintptr_t hostInterface,
                               const std::vector<std::string>& parameterTexts);

// Runs `transform.Content` in the interpreter. Result code -4 (no library,
// or one without the three entry points) fails with "Interpreter not
// found!", codes 1 and -3 with the interpreter's text; any other code is
// success. A failure raises EMorvexError with that text.
void RunExternalScript(const TXSourceInfo& source, const TXSourceInfo& destination,
                       const TXTransformInfo& transform, const std::vector<std::string>* parameters,
                       const std::vector<std::string>& parameterTexts);

// Tests only: unloads the library and searches `directory` (when not empty)
// before the program's own one from then on.
void ResetInterpreterForTests(const std::string& directory);

}  // namespace morvex
