// Dispatch in three branches by source:
//
//   A. database source with a query document: the query template writes its
//      results into QueryOutput, which the kind's operation then reads as a
//      stream source (or which is itself the result when the kind's row says
//      the query result is the output);
//   B. database source without a query document: only scripts, which reach
//      the database themselves;
//   C. file or stream source: the kind's operation, or its import when the
//      destination is a database.
//
// Every combination is checked before anything runs, so a rejected script
// never starts a database session nor touches an output. What a kind allows
// and which operation runs it are its row (engine/transform_kinds.h); the
// one catch in RunOperation puts the row's prefix before a failure.
//
// Streams: the source stream and every named destination stream belong to
// the registry. QueryOutput belongs to this dispatch for one script: it is a
// file stream at the destination path when the query results are the output
// file itself (xml or csv kind, file destination), otherwise a memory stream;
// for the xml and csv kinds with a stream destination it is handed to the
// registry under the destination's name, replacing any stream of that name.
#include "engine/dispatch.h"

#include <memory>
#include <string_view>

#include "engine/operations.h"
#include "engine/script_steps.h"
#include "engine/streams.h"
#include "engine/transform_kinds.h"
#include "text/error.h"
#include "text/stream.h"

namespace morvex {

namespace {

constexpr const char* kDestinationRequired = "Destination must be specified!";
constexpr const char* kDatabaseNotAllowed =
    "Database like destination is not allowed in this context!";
constexpr const char* kDatabaseNeedsQuery =
    "Database destination requires sql script specification in this context!";
constexpr const char* kTransformRequired = "Transformation must be specified in this context!";
constexpr const char* kNotSupported =
    "This combination of Source, (L)SQL, Transformation and Destination is not supported!";

// Takes a stream destination's stream from the registry, emptied.
void PrepareDestinationStream(TXSourceInfo& destination, TStreamRegistry& streams) {
  if (destination.Kind == skStream) {
    destination.Stream = &streams.GetOrCreateStream(destination.Location);
  }
}

// Runs the kind's operation; a failure gets the kind's step prefix.
void RunOperation(const TTransformKindRow& row, const TXSourceInfo& source,
                  const TScriptSteps& steps, const TDispatchContext& context) {
  const operations::TOperationCall call{source, steps.Destination, steps, context};
  if (row.ErrorPrefix.empty()) {
    row.Run(call);
    return;
  }
  try {
    row.Run(call);
  } catch (const std::exception& error) {
    throw EMorvexError(std::string(row.ErrorPrefix) + error.what());
  }
}

void CheckDatabaseQueryCombination(const TScriptSteps& steps) {
  const TTransformKindRow& row = TransformKindRow(steps.Transform.Kind);
  const uint8_t destination = steps.Destination.Kind;
  switch (row.QueryUse) {
    case TQueryUse::StatementsOnly:
      if (destination != skNone) throw EMorvexError(kTransformRequired);
      return;
    case TQueryUse::Refused:
      // Refused before the query runs rather than its output discarded.
      throw EMorvexError(kNotSupported);
    default:
      if (row.Script) return;
      if (destination == skNone) throw EMorvexError(kDestinationRequired);
      if (destination == skOledb) throw EMorvexError(kDatabaseNotAllowed);
  }
}

// A: database source with a query document.
void DispatchDatabaseQuery(TScriptSteps& steps, const TDispatchContext& context) {
  const TTransformKindRow& row = TransformKindRow(steps.Transform.Kind);
  TXSourceInfo& destination = steps.Destination;

  const bool resultIsOutput = row.QueryUse == TQueryUse::ResultIsOutput;
  std::unique_ptr<TStream> queryOutput;
  TFileStream* outputFile = nullptr;
  if (resultIsOutput && destination.Kind == skFile) {
    auto file = std::make_unique<TFileStream>(destination.Location, TFileStream::Mode::Create);
    outputFile = file.get();
    queryOutput = std::move(file);
  } else if (row.QueryUse == TQueryUse::FeedsOperationFromDisk) {
    queryOutput = CreateTemporaryFile("query", "the query output");
  } else {
    queryOutput = std::make_unique<TMemoryStream>();
  }
  operations::RunQuerySession(steps, context, *queryOutput);
  // An output file is only closed: a FIFO or device cannot be rewound.
  if (outputFile) {
    outputFile->Close();
    return;
  }
  queryOutput->SetPosition(0);

  if (resultIsOutput) {
    destination.Stream =
        &context.Streams.GetOrCreateStream(destination.Location, std::move(queryOutput));
    return;
  }
  if (row.QueryUse == TQueryUse::StatementsOnly) return;
  PrepareDestinationStream(destination, context.Streams);

  TXSourceInfo sourceAsStream = steps.Source;
  sourceAsStream.Kind = skStream;
  sourceAsStream.Stream = queryOutput.get();
  RunOperation(row, sourceAsStream, steps, context);
}

// B: database source without a query document.
void DispatchDatabaseSource(TScriptSteps& steps, const TDispatchContext& context) {
  PrepareDestinationStream(steps.Destination, context.Streams);
  RunOperation(TransformKindRow(steps.Transform.Kind), steps.Source, steps, context);
}

void CheckFileOrStreamCombination(const TScriptSteps& steps) {
  const TTransformKindRow& row = TransformKindRow(steps.Transform.Kind);
  switch (steps.Destination.Kind) {
    case skNone:
      if (!row.Script) throw EMorvexError(kDestinationRequired);
      break;
    case skOledb:
      if (steps.QueryDocument) {
        if (row.Import) break;
        throw EMorvexError(row.ImportRefusal.empty() ? std::string(kDatabaseNotAllowed)
                                                     : std::string(row.ImportRefusal));
      }
      if (!row.Script) throw EMorvexError(kDatabaseNeedsQuery);
      break;
    default:
      break;
  }
}

// C: file or stream source. A database destination is an import (the row's
// Import), whose failures are the session's own messages.
void DispatchFileOrStream(TScriptSteps& steps, const TDispatchContext& context) {
  const TTransformKindRow& row = TransformKindRow(steps.Transform.Kind);
  PrepareDestinationStream(steps.Destination, context.Streams);
  if (steps.Destination.Kind == skOledb && row.Import) {
    row.Import({steps.Source, steps.Destination, steps, context});
    return;
  }
  RunOperation(row, steps.Source, steps, context);
}

}  // namespace

void CheckStepCombination(const TScriptSteps& steps) {
  if (steps.Source.Kind != skOledb) {
    CheckFileOrStreamCombination(steps);
  } else if (steps.QueryDocument) {
    CheckDatabaseQueryCombination(steps);
  } else if (!IsScriptKind(steps.Transform.Kind)) {
    throw EMorvexError(kNotSupported);
  }
}

void DispatchScript(TScriptSteps& steps, const TDispatchContext& context) {
  CheckStepCombination(steps);
  if (steps.Source.Kind != skOledb) {
    DispatchFileOrStream(steps, context);
  } else if (steps.QueryDocument) {
    DispatchDatabaseQuery(steps, context);
  } else {
    DispatchDatabaseSource(steps, context);
  }
}

}  // namespace morvex
