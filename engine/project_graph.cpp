#include "engine/project_graph.h"

#include <cstdlib>
#include <map>
#include <set>

#include "db/connection_string.h"
#include "engine/paths.h"
#include "engine/project_defs.h"
#include "engine/script_steps.h"
#include "engine/streams.h"
#include "text/case_fold.h"
#include "text/error.h"
#include "text/text_edit.h"
#include "text/utf.h"

namespace morvex {

namespace {

constexpr std::string_view kStdInName = "StdIn";

// The non-empty lines of `text`, each trimmed, joined by "\n".
std::string TrimmedLines(std::string_view text) {
  std::string lines;
  size_t begin = 0;
  while (begin <= text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) end = text.size();
    const std::string line = TrimText(text.substr(begin, end - begin));
    if (!line.empty()) lines.append(lines.empty() ? "" : "\n").append(line);
    begin = end + 1;
  }
  return lines;
}

class TGraphBuilder {
 public:
  TProjectGraph Build(const TProject& project) {
    graph_.Title = project.Name;
    int number = 0;
    for (const TScript& script : project.Scripts) AddScript(script, ++number);
    return std::move(graph_);
  }

 private:
  // The id of the data node `key` names, added with `kind` and `label` the
  // first time.
  std::string DataNode(const std::string& key, TGraphNodeKind kind, const std::string& label) {
    const auto found = dataIds_.find(key);
    if (found != dataIds_.end()) return found->second;
    std::string id = "n" + std::to_string(dataIds_.size() + 1);
    dataIds_.emplace(key, id);
    graph_.Nodes.push_back({id, kind, label, 0});
    return id;
  }

  std::string StreamNode(const std::string& name) {
    if (SameTextIgnoringCase(name, kStdInName) || name == kStandardStreamName) {
      return DataNode("s:" + FoldCase(kStdInName), TGraphNodeKind::Stream, "standard input");
    }
    return DataNode("s:" + FoldCase(name), TGraphNodeKind::Stream, "stream\n" + name);
  }

  std::string FileNode(const std::string& path) {
    return DataNode("f:" + path, TGraphNodeKind::File, "file\n" + path);
  }

  std::string DatabaseNode(const TEndpointElement& element) {
    const std::string masked = MaskConnectionPasswords(
        element.ConnectionString ? TrimText(element.ConnectionString->Text) : std::string());
    return DataNode("d:" + masked, TGraphNodeKind::Database, "database\n" + masked);
  }

  std::optional<std::string> SourceNode(const TEndpointElement& element) {
    const std::string text = TrimText(element.Text);
    switch (SourceKindOf(element.Kind)) {
      case skOledb:
        return DatabaseNode(element);
      case skStream:
        return StreamNode(text);
      case skFile:
        // A file that does not exist is looked up as a stream: a name an
        // earlier script wrote, or standard input, reads that stream.
        if (text == kStandardStreamName || SameTextIgnoringCase(text, kStdInName) ||
            writtenStreams_.count(FoldCase(text)) != 0) {
          return StreamNode(text);
        }
        return FileNode(text);
      default:
        return std::nullopt;
    }
  }

  std::optional<std::string> DestinationNode(const TEndpointElement& element) {
    const std::string text = TrimText(element.Text);
    switch (SourceKindOf(element.Kind)) {
      case skOledb:
        return DatabaseNode(element);
      case skStream:
        writtenStreams_.insert(FoldCase(text));
        return StreamNode(text);
      case skFile:
        if (text == kStandardStreamName) {
          return DataNode("o:", TGraphNodeKind::Console, "standard output");
        }
        return FileNode(text);
      default:
        return std::nullopt;
    }
  }

  std::string StepNode(int script, char step, const std::string& label) {
    std::string id = "s" + std::to_string(script) + step;
    graph_.Nodes.push_back({id, TGraphNodeKind::Step, label, script});
    return id;
  }

  void AddScript(const TScript& script, int number) {
    std::string clusterLabel = "script " + std::to_string(number);
    if (!script.Name.empty()) clusterLabel += ": " + script.Name;
    graph_.Clusters.push_back({number, std::move(clusterLabel)});

    const std::optional<std::string> source =
        script.Source ? SourceNode(*script.Source) : std::nullopt;
    std::vector<std::string> steps;
    if (script.Query) {
      const TQueryElement& query = *script.Query;
      const uint8_t kind = QueryKindOf(query.Kind);
      const std::string text = TrimText(query.Text);
      if (kind == qkInline || !text.empty()) {
        std::string label = "SQL\n";
        label += kind == qkInline ? "inline" : kind == qkStream ? "stream " + text : text;
        steps.push_back(StepNode(number, 'q', label));
        if (kind == qkStream) graph_.Edges.push_back({StreamNode(text), steps.back(), {}});
      }
    }
    if (script.Transform) {
      const TTransformElement& transform = *script.Transform;
      // The kind as written, then what it reads: "(inline)" for a CDATA
      // section, otherwise the file, stream name or expressions written.
      std::string label = transform.Kind.empty() ? std::string("xml") : transform.Kind;
      if (!transform.Sections.empty()) {
        label += " (inline)";
      } else if (const std::string content = TrimmedLines(transform.Text); !content.empty()) {
        label += "\n" + content;
      }
      steps.push_back(StepNode(number, 't', label));
    }
    if (steps.empty()) steps.push_back(StepNode(number, 'c', "copy"));

    // The condition labels the edge that enters the script; without a source
    // there is none, and the script's box carries it.
    const std::string test = script.Test.empty() ? std::string() : "test: " + script.Test;
    if (source) {
      graph_.Edges.push_back({*source, steps.front(), test});
    } else if (!test.empty()) {
      graph_.Clusters.back().Label += "\n" + test;
    }
    for (size_t i = 1; i < steps.size(); ++i) graph_.Edges.push_back({steps[i - 1], steps[i], {}});
    if (script.Destination) {
      if (const std::optional<std::string> destination = DestinationNode(*script.Destination)) {
        graph_.Edges.push_back({steps.back(), *destination, {}});
      }
    }
  }

  TProjectGraph graph_;
  std::map<std::string, std::string> dataIds_;  // node key to id
  std::set<std::string> writtenStreams_;        // FoldCase of the streams scripts write
};

// `text` as valid UTF-8 with control characters (line ends aside) turned into
// spaces and carriage returns dropped.
std::string PrintableText(std::string_view text) {
  std::string result;
  for (const char c : SanitizeUtf8(text)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r') continue;
    result += (byte < 0x20 && c != '\n') || byte == 0x7F ? ' ' : c;
  }
  return result;
}

// A DOT quoted string: quotes and backslashes escaped, line ends as "\n".
std::string DotString(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : PrintableText(text)) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (c == '\n') {
      quoted += "\\n";
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

// A Mermaid quoted string: characters Mermaid reads as syntax or markup as
// entity codes, line ends as "<br>".
std::string MermaidString(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : PrintableText(text)) {
    switch (c) {
      case '"':
        quoted += "#quot;";
        break;
      case '#':
        quoted += "#35;";
        break;
      case '&':
        quoted += "#amp;";
        break;
      case '<':
        quoted += "#lt;";
        break;
      case '>':
        quoted += "#gt;";
        break;
      case '`':
        quoted += "#96;";
        break;
      case '|':
        quoted += "#124;";
        break;
      case '\n':
        quoted += "<br>";
        break;
      default:
        quoted += c;
    }
  }
  return quoted + "\"";
}

std::string DotNode(const TGraphNode& node) {
  std::string shape;
  switch (node.Kind) {
    case TGraphNodeKind::File:
      shape = "shape=note";
      break;
    case TGraphNodeKind::Database:
      shape = "shape=cylinder";
      break;
    case TGraphNodeKind::Stream:
      shape = "shape=cds";
      break;
    case TGraphNodeKind::Console:
      shape = "shape=oval";
      break;
    case TGraphNodeKind::Step:
      shape = "shape=box, style=rounded";
      break;
  }
  return node.Id + " [" + shape + ", label=" + DotString(node.Label) + "];\n";
}

std::string MermaidNode(const TGraphNode& node) {
  const std::string label = MermaidString(node.Label);
  switch (node.Kind) {
    case TGraphNodeKind::File:
      return node.Id + "[" + label + "]\n";
    case TGraphNodeKind::Database:
      return node.Id + "[(" + label + ")]\n";
    case TGraphNodeKind::Stream:
      return node.Id + "([" + label + "])\n";
    case TGraphNodeKind::Console:
      return node.Id + ">" + label + "]\n";
    case TGraphNodeKind::Step:
      break;
  }
  return node.Id + "(" + label + ")\n";
}

long ParseErrorLine(std::string_view message) {
  constexpr std::string_view kLine = "[line: ";
  const size_t at = message.find(kLine);
  if (at == std::string_view::npos) return 0;
  return std::strtol(std::string(message.substr(at + kLine.size(), 12)).c_str(), nullptr, 10);
}

}  // namespace

TProjectGraph BuildProjectGraph(const TProject& project) { return TGraphBuilder().Build(project); }

std::string GraphToDot(const TProjectGraph& graph) {
  std::string dot = "digraph morvex {\n  rankdir=LR;\n";
  if (!graph.Title.empty()) dot += "  label=" + DotString(graph.Title) + ";\n  labelloc=t;\n";
  for (const TGraphNode& node : graph.Nodes) {
    if (node.Script == 0) dot += "  " + DotNode(node);
  }
  for (const TGraphCluster& cluster : graph.Clusters) {
    dot += "  subgraph cluster_" + std::to_string(cluster.Script) + " {\n";
    dot += "    label=" + DotString(cluster.Label) + ";\n";
    for (const TGraphNode& node : graph.Nodes) {
      if (node.Script == cluster.Script) dot += "    " + DotNode(node);
    }
    dot += "  }\n";
  }
  for (const TGraphEdge& edge : graph.Edges) {
    dot += "  " + edge.From + " -> " + edge.To;
    if (!edge.Label.empty()) dot += " [label=" + DotString(edge.Label) + "]";
    dot += ";\n";
  }
  return dot + "}\n";
}

std::string GraphToMermaid(const TProjectGraph& graph) {
  std::string text = "flowchart LR\n";
  // A comment line cannot break: the title stays on one line.
  if (!graph.Title.empty()) {
    std::string title = PrintableText(graph.Title);
    for (char& c : title) {
      if (c == '\n') c = ' ';
    }
    text += "  %% " + title + "\n";
  }
  for (const TGraphNode& node : graph.Nodes) {
    if (node.Script == 0) text += "  " + MermaidNode(node);
  }
  for (const TGraphCluster& cluster : graph.Clusters) {
    text += "  subgraph script" + std::to_string(cluster.Script) + "[" +
            MermaidString(cluster.Label) + "]\n";
    for (const TGraphNode& node : graph.Nodes) {
      if (node.Script == cluster.Script) text += "    " + MermaidNode(node);
    }
    text += "  end\n";
  }
  for (const TGraphEdge& edge : graph.Edges) {
    text += "  " + edge.From + " -->";
    if (!edge.Label.empty()) text += "|" + MermaidString(edge.Label) + "|";
    text += " " + edge.To + "\n";
  }
  return text;
}

std::optional<TGraphFormat> GraphFormatOf(std::string_view name) {
  const std::string format = AsciiLower(name);
  if (format == "dot") return TGraphFormat::Dot;
  if (format == "mermaid") return TGraphFormat::Mermaid;
  return std::nullopt;
}

std::optional<std::string> DrawProject(const std::string& project, const std::string& baseDirectory,
                                       TGraphFormat format, TProjectProblem& problem) {
  if (!IsProjectSource(project)) {
    const std::string path = ProjectFilePath(project, baseDirectory);
    if (!FileExists(path)) {
      problem = {0, FileDoesNotExistMessage(path)};
      return std::nullopt;
    }
  }
  TProjectGraph graph;
  try {
    graph = BuildProjectGraph(LoadProject(project, baseDirectory));
  } catch (const EMorvexError& error) {
    problem = {ParseErrorLine(error.what()), error.what()};
    return std::nullopt;
  }
  return format == TGraphFormat::Dot ? GraphToDot(graph) : GraphToMermaid(graph);
}

}  // namespace morvex
