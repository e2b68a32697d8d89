// A picture of a project's data flow, for `--graph`: the sources,
// destinations and streams the scripts read and write, and each script's
// steps, in run order. It is drawn from the project records alone: nothing is
// connected to, read, run, written or deleted, and no parameter is settled
// (texts are shown as written).
//
// The picture is a small graph (TProjectGraph) turned into text by one of two
// writers: Graphviz DOT and a Mermaid flowchart. Node ids are numbered in the
// order of the document, so the same project always gives the same text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/project_check.h"
#include "engine/project_loader.h"

namespace morvex {

// What a node stands for; the writers give each its own shape.
enum class TGraphNodeKind {
  File,      // a file source or destination
  Database,  // a connection string, its passwords masked
  Stream,    // a named stream, also standard input
  Console,   // standard output as a destination
  Step,      // a script's query step, transformation or plain copy
};

struct TGraphNode {
  std::string
      Id;  // "n1", "n2" ... for data nodes; "s<script>q", "s<script>t", "s<script>c" for steps
  TGraphNodeKind Kind = TGraphNodeKind::File;
  std::string Label;  // lines separated by "\n"
  int Script = 0;     // the script (from 1) whose cluster holds the node; 0 for data nodes
};

struct TGraphEdge {
  std::string From;
  std::string To;
  std::string Label;  // the script's `test` condition on the edge that enters the script
};

struct TGraphCluster {
  int Script = 0;  // from 1, in run order
  // "script 2: summarise", or "script 2" for an unnamed one; a second line
  // "test: <condition>" when no edge enters the script to carry it.
  std::string Label;
};

struct TProjectGraph {
  std::string Title;  // the project's name; empty when it has none
  std::vector<TGraphNode> Nodes;
  std::vector<TGraphCluster> Clusters;
  std::vector<TGraphEdge> Edges;
};

// The data flow of `project`. Data nodes are drawn once per thing they name:
// a file per path as written, a database per masked connection string, a
// stream per name without regard to letter case (as the stream registry
// matches names). A file source "-" and the stream "StdIn" are standard
// input; a file destination "-" is standard output. A file source whose name
// an earlier script wrote as a stream is that stream, as a run reads it when
// no such file exists. Each script is a cluster of its steps (query step,
// transformation; a plain "copy" when it has neither), chained from its source
// to its destination; a query step read from a stream has that stream as an
// input too. A script's `test` labels the edge from its source, or is the
// second line of its cluster's label when it has no usable source.
TProjectGraph BuildProjectGraph(const TProject& project);

// The graph as Graphviz DOT (`digraph`, left to right, one `subgraph
// cluster_N` per script). Labels are quoted strings, valid for any text.
std::string GraphToDot(const TProjectGraph& graph);

// The graph as a Mermaid flowchart (`flowchart LR`, one `subgraph` per
// script). Labels are quoted and carry characters Mermaid would read as
// syntax as entity codes ("#quot;", "#lt;", ...), and line breaks as "<br>".
std::string GraphToMermaid(const TProjectGraph& graph);

// The formats `--graph=FORMAT` names: "dot" and "mermaid".
enum class TGraphFormat { Dot, Mermaid };

// The format a `--graph=` value names (ASCII letter case ignored), or nothing.
std::optional<TGraphFormat> GraphFormatOf(std::string_view name);

// Loads `project` (a project file path or project source text) as a run
// would, and returns the picture in `format`. When the project file does not
// exist or does not parse, returns nothing and sets `problem` to what
// --check reports for it.
std::optional<std::string> DrawProject(const std::string& project, const std::string& baseDirectory,
                                       TGraphFormat format, TProjectProblem& problem);

}  // namespace morvex
