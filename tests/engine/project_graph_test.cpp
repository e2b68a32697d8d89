#include "engine/project_graph.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "engine/project_check.h"
#include "tests/support/temp_dir.h"

namespace morvex {
namespace {

std::string Project(const std::string& body) {
  return "<?xml version=\"1.0\"?>\n<morvex>\n" + body + "</morvex>\n";
}

TProjectGraph Graph(const std::string& body) {
  return BuildProjectGraph(LoadProject(Project(body), "/base/"));
}

// Nodes as "id kind label" (kind: F file, D database, S stream, O console,
// P step; the label's line ends as "|") and edges as "from->to" or
// "from->to [label]": the whole graph in a form a table can spell out.
std::vector<std::string> Outline(const TProjectGraph& graph) {
  std::vector<std::string> lines;
  for (const TGraphNode& node : graph.Nodes) {
    std::string label = node.Label;
    for (char& c : label) {
      if (c == '\n') c = '|';
    }
    lines.push_back(node.Id + " " + "FDSOP"[static_cast<int>(node.Kind)] + " " + label);
  }
  for (const TGraphEdge& edge : graph.Edges) {
    lines.push_back(edge.From + "->" + edge.To +
                    (edge.Label.empty() ? std::string() : " [" + edge.Label + "]"));
  }
  return lines;
}

struct TGraphCase {
  const char* Name;
  std::string Body;
  std::vector<std::string> Expected;
};

// What each step and endpoint becomes, and which nodes are shared between
// scripts: the chain of scripts is visible only when a stream, file or
// database two scripts name is one node.
TEST(ProjectGraphTest, NodesAndEdgesOfEachKindOfScript) {
  const std::vector<TGraphCase> cases = {
      {"a copy from file to file",
       "<script><source>in.xml</source><destination>out.xml</destination></script>",
       {"n1 F file|in.xml", "s1c P copy", "n2 F file|out.xml", "n1->s1c", "s1c->n2"}},
      {"streams match without regard to case and keep their first spelling",
       "<script><source> in.xml </source><destination kind='stream'>Städte</destination>"
       "</script><script><source kind='stream'>STÄDTE</source>"
       "<destination>out.xml</destination></script>",
       {"n1 F file|in.xml", "s1c P copy", "n2 S stream|Städte", "s2c P copy", "n3 F file|out.xml",
        "n1->s1c", "s1c->n2", "n2->s2c", "s2c->n3"}},
      {"a file source naming a stream an earlier script wrote reads that stream",
       "<script><source>in.xml</source><destination kind='stream'>mid</destination></script>"
       "<script><source>MID</source><destination>out.xml</destination></script>"
       "<script><source>mid.xml</source><destination>out.xml</destination></script>",
       {"n1 F file|in.xml", "s1c P copy", "n2 S stream|mid", "s2c P copy", "n3 F file|out.xml",
        "n4 F file|mid.xml", "s3c P copy", "n1->s1c", "s1c->n2", "n2->s2c", "s2c->n3", "n4->s3c",
        "s3c->n3"}},
      {"standard input in all its spellings is one node, standard output another",
       "<script><source>-</source><destination>-</destination></script>"
       "<script><source kind='stream'>stdin</source><destination>-</destination></script>"
       "<script><source>StdIn</source><destination>x.txt</destination></script>",
       {"n1 S standard input", "s1c P copy", "n2 O standard output", "s2c P copy", "s3c P copy",
        "n3 F file|x.txt", "n1->s1c", "s1c->n2", "n1->s2c", "s2c->n2", "n1->s3c", "s3c->n3"}},
      {"a query and a transformation chain from source to destination, the test on the way in",
       "<script name='q' test=':day = 1'><source kind='oledb'><connection-string>"
       "Data Source=shop.db</connection-string></source>"
       "<lsql kind='inline'><r>select 1</r></lsql><transform kind='xslt'>t.xsl</transform>"
       "<destination>out.html</destination></script>",
       {"n1 D database|Data Source=shop.db", "s1q P SQL|inline", "s1t P xslt|t.xsl",
        "n2 F file|out.html", "n1->s1q [test: :day = 1]", "s1q->s1t", "s1t->n2"}},
      {"passwords are masked, and one masked string is one database",
       "<script><source kind='oledb'><connection-string>Provider=PostgreSQL;Password=secret;"
       "Host=h</connection-string></source><lsql>q.sql</lsql></script>"
       "<script><source>in.csv</source><transform kind='csv/xml'/><destination kind='oledb'>"
       "<connection-string>Provider=PostgreSQL;Password=secret;Host=h</connection-string>"
       "</destination></script>",
       {"n1 D database|Provider=PostgreSQL;Password=********;Host=h", "s1q P SQL|q.sql",
        "n2 F file|in.csv", "s2t P csv/xml", "n1->s1q", "n2->s2t", "s2t->n1"}},
      {"a query read from a stream has the stream as a second input",
       "<script><source>q.txt</source><destination kind='stream'>sql</destination></script>"
       "<script><source kind='oledb'><connection-string>Data Source=a.db</connection-string>"
       "</source><lsql kind='stream'>SQL</lsql><destination>out.xml</destination></script>",
       {"n1 F file|q.txt", "s1c P copy", "n2 S stream|sql", "n3 D database|Data Source=a.db",
        "s2q P SQL|stream SQL", "n4 F file|out.xml", "n1->s1c", "s1c->n2", "n2->s2q", "n3->s2q",
        "s2q->n4"}},
      {"transform content: inline sections, expressions line by line, an empty kind is xml",
       "<script><source>a.xml</source><transform kind='xpath'>\n  //a\n\n  //b  \n</transform>"
       "</script><script><source>a.xml</source><transform kind='JScript'><![CDATA[x]]>"
       "</transform></script><script><source>a.csv</source><transform/></script>",
       {"n1 F file|a.xml", "s1t P xpath|//a|//b", "s2t P JScript (inline)", "n2 F file|a.csv",
        "s3t P xml", "n1->s1t", "n1->s2t", "n2->s3t"}},
      {"without a usable source the chain starts at the first step",
       "<script test='1'><destination>o.xml</destination></script>"
       "<script><source kind='ftp'>x</source><lsql kind='file'/></script>"
       "<script test='2'><lsql kind='inline'><q/></lsql><transform kind='xslt'>t.xsl</transform>"
       "</script>",
       {"s1c P copy", "n1 F file|o.xml", "s2c P copy", "s3q P SQL|inline", "s3t P xslt|t.xsl",
        "s1c->n1", "s3q->s3t"}},
  };
  for (const TGraphCase& test : cases) {
    EXPECT_EQ(Outline(Graph(test.Body)), test.Expected) << test.Name;
  }
}

TEST(ProjectGraphTest, ClustersFollowRunOrderAndNameTheirScripts) {
  const TProjectGraph graph = Graph(
      "<script name='first'><source>a</source></script><script><source>b</source>"
      "</script><script test=':x = 1'><destination>c</destination></script>");
  ASSERT_EQ(graph.Clusters.size(), 3u);
  EXPECT_EQ(graph.Clusters[0].Label, "script 1: first");
  EXPECT_EQ(graph.Clusters[1].Label, "script 2");
  // No edge enters a script without a source: its box shows the test.
  EXPECT_EQ(graph.Clusters[2].Label, "script 3\ntest: :x = 1");
  for (const TGraphNode& node : graph.Nodes) {
    EXPECT_EQ(node.Script, node.Kind == TGraphNodeKind::Step ? node.Id[1] - '0' : 0) << node.Id;
  }
}

// A body whose every label holds what the two languages read as syntax.
const std::string kAwkwardBody =
    "<script name='say &quot;hi&quot; &lt;b&gt; &amp; \\n back\\slash # `tick` | pipe'"
    " test=':a &lt; 2 &amp;&amp; :b = &quot;x&quot;'>"
    "<source>Žluťoučký kůň\n  ďábel.csv</source>"
    "<transform kind='xpath'>//r[@a=\"1\"]\n//x[. &lt; 3]</transform>"
    "<destination kind='stream'>end</destination></script>";

TEST(ProjectGraphTest, DotLabelsStayQuotedStrings) {
  TProjectGraph graph = Graph(kAwkwardBody);
  graph.Title = "bad \xff byte\r\nand \x01 control";
  const std::string dot = GraphToDot(graph);
  EXPECT_NE(
      dot.find("label=\"script 1: say \\\"hi\\\" <b> & \\\\n back\\\\slash # `tick` | pipe\""),
      std::string::npos)
      << dot;
  EXPECT_NE(dot.find("label=\"file\\nŽluťoučký kůň\\n  ďábel.csv\""), std::string::npos) << dot;
  EXPECT_NE(dot.find("[label=\"test: :a < 2 && :b = \\\"x\\\"\"]"), std::string::npos) << dot;
  EXPECT_NE(dot.find("label=\"bad \xEF\xBF\xBD byte\\nand   control\""), std::string::npos) << dot;
  // Only statements end lines: no label carries a raw line end.
  for (size_t at = dot.find('\n'); at != std::string::npos; at = dot.find('\n', at + 1)) {
    const size_t start = dot.rfind('\n', at - 1);
    const std::string line = dot.substr(start == std::string::npos ? 0 : start + 1,
                                        at - (start == std::string::npos ? 0 : start + 1));
    EXPECT_TRUE(line.ends_with(";") || line.ends_with("{") || line.ends_with("}")) << line;
  }
}

// Graphviz itself reads the text when it is installed (it is optional).
TEST(ProjectGraphTest, GraphvizParsesTheDot) {
  if (std::system("dot -V > /dev/null 2>&1") != 0) GTEST_SKIP() << "Graphviz is not installed";
  const TTempDir dir;
  TProjectGraph graph = Graph(kAwkwardBody +
                              "<script><source kind='stream'>END</source><lsql kind='inline'>"
                              "<q>select 1</q></lsql><destination>-</destination></script>");
  graph.Title = "bad \xff byte";
  const std::string dotFile = dir.Write("graph.dot", GraphToDot(graph));
  const std::string plainFile = dir.File("graph.plain");
  const std::string command = "dot -Tplain -o'" + plainFile + "' '" + dotFile + "' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(plainFile);
  const std::string plain((std::istreambuf_iterator<char>(in)), {});
  // Every node and edge arrives, the escaped quote back as a quote.
  size_t nodes = 0;
  size_t edges = 0;
  for (size_t at = 0; at < plain.size(); at = plain.find('\n', at) + 1) {
    nodes += plain.compare(at, 5, "node ") == 0;
    edges += plain.compare(at, 5, "edge ") == 0;
    if (plain.find('\n', at) == std::string::npos) break;
  }
  EXPECT_EQ(nodes, graph.Nodes.size()) << plain;
  EXPECT_EQ(edges, graph.Edges.size()) << plain;
  EXPECT_NE(plain.find("test: :a < 2 && :b = \\\"x\\\""), std::string::npos) << plain;
}

// Mermaid has no parser here: the shape of every line is checked instead.
TEST(ProjectGraphTest, MermaidLinesKeepTheirShape) {
  TProjectGraph graph = Graph(kAwkwardBody +
                              "<script><source kind='oledb'><connection-string>Data Source=x.db"
                              "</connection-string></source><lsql kind='inline'><q>select 1</q>"
                              "</lsql><destination>-</destination></script>");
  graph.Title = "two\nlines";
  const std::string text = GraphToMermaid(graph);
  // A quoted label holds no quote, "<" only in "<br>", and no entity text a
  // reader would take for syntax ("#" starts an entity code).
  const std::string label = R"("(?:[^"<>&#`|]|<br>|#(?:quot|lt|gt|amp|35|96|124);)*")";
  const std::regex node("  (?:  )?(?:n|s)[0-9]+[a-z]?(?:\\[" + label + "\\]|\\[\\(" + label +
                        "\\)\\]|\\(\\[" + label + "\\]\\)|>" + label + "\\]|\\(" + label + "\\))");
  const std::regex edge("  (?:n|s)[0-9]+[a-z]? -->(?:\\|" + label + "\\|)? (?:n|s)[0-9]+[a-z]?");
  const std::regex subgraph("  subgraph script[0-9]+\\[" + label + "\\]");
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "flowchart LR");
  EXPECT_EQ(lines[1], "  %% two lines");
  size_t nodes = 0;
  size_t edges = 0;
  for (size_t i = 2; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (std::regex_match(line, node)) {
      ++nodes;
    } else if (std::regex_match(line, edge)) {
      ++edges;
    } else {
      EXPECT_TRUE(std::regex_match(line, subgraph) || line == "  end") << line;
    }
  }
  EXPECT_EQ(nodes, graph.Nodes.size()) << text;
  EXPECT_EQ(edges, graph.Edges.size()) << text;
  EXPECT_NE(text.find("s1t(\"xpath<br>//r[@a=#quot;1#quot;]<br>//x[. #lt; 3]\")"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("script1[\"script 1: say #quot;hi#quot; #lt;b#gt; #amp; \\n back\\slash #35; "
                      "#96;tick#96; "
                      "#124; pipe\"]"),
            std::string::npos)
      << text;
}

TEST(ProjectGraphTest, SameProjectSameText) {
  const std::string body = kAwkwardBody +
                           "<script><source kind='stream'>end</source><destination>x</destination>"
                           "</script>";
  EXPECT_EQ(GraphToDot(Graph(body)), GraphToDot(Graph(body)));
  EXPECT_EQ(GraphToMermaid(Graph(body)), GraphToMermaid(Graph(body)));
}

TEST(ProjectGraphTest, FormatNames) {
  EXPECT_EQ(GraphFormatOf("dot"), TGraphFormat::Dot);
  EXPECT_EQ(GraphFormatOf("DOT"), TGraphFormat::Dot);
  EXPECT_EQ(GraphFormatOf("Mermaid"), TGraphFormat::Mermaid);
  EXPECT_EQ(GraphFormatOf(""), std::nullopt);
  EXPECT_EQ(GraphFormatOf("svg"), std::nullopt);
  EXPECT_EQ(GraphFormatOf("dot "), std::nullopt);
}

// A project that cannot be drawn is reported with what --check says of it.
TEST(ProjectGraphTest, ProblemsAreTheChecksProblems) {
  const TTempDir dir;
  const std::string base = dir.File("");
  const std::vector<std::string> projects = {
      "missing.morvex",
      "<?xml version=\"1.0\"?>\n<morvex>\n<script>\n</morvex>",
      dir.Write("broken.morvex", "<morvex><script></morvex>"),
      dir.Write("empty.morvex", ""),
  };
  for (const std::string& project : projects) {
    TProjectProblem problem;
    EXPECT_EQ(DrawProject(project, base, TGraphFormat::Dot, problem), std::nullopt) << project;
    const std::vector<TProjectProblem> checked = CheckProject(project, {}, base);
    ASSERT_EQ(checked.size(), 1u) << project;
    EXPECT_EQ(problem.Line, checked[0].Line) << project;
    EXPECT_EQ(problem.Message, checked[0].Message) << project;
  }
  TProjectProblem problem;
  const std::string project = dir.Write("p.morvex", Project("<script><source>a</source></script>"));
  EXPECT_EQ(DrawProject("p.morvex", base, TGraphFormat::Mermaid, problem),
            GraphToMermaid(BuildProjectGraph(LoadProject(project, base))));
}

// The picture the manual shows is the example project as it is today:
// `make graphs` writes it again after the project changes.
TEST(ProjectGraphTest, TheManualsPictureMatchesItsProject) {
  const std::string root = MORVEX_SOURCE_DIR;
  std::ifstream in(root + "/docs/streams-graph.dot", std::ios::binary);
  const std::string committed((std::istreambuf_iterator<char>(in)), {});
  TProjectProblem problem;
  const std::optional<std::string> drawn =
      DrawProject("streams/streams.morvex", root + "/examples/", TGraphFormat::Dot, problem);
  ASSERT_TRUE(drawn) << problem.Message;
  EXPECT_EQ(committed, *drawn) << "run `make graphs` and commit docs/streams-graph.*";
}

}  // namespace
}  // namespace morvex
