// Writes the conversion benchmarks' data for N orders, the same orders in
// three forms: DIR/orders.csv (";" and double quotes, a header row),
// DIR/orders.json ({"orders":[{..., "items":[three items]}]}) and
// DIR/orders.xml (dataset XML: morvex_data/orders/r). FORMS (default
// "csv,json,xml") names the files to write; at ten million orders the JSON
// form alone is gigabytes that only some benchmarks read.
//
//   gen_orders DIR N [FORMS]
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File Open(const std::string& path) {
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) {
    std::perror(path.c_str());
    std::exit(1);
  }
  return file;
}

// A stream that drops what is written: a form not asked for still goes
// through the one loop.
File Discard() {
  cookie_io_functions_t functions{};
  functions.write = [](void*, const char*, size_t size) -> ssize_t {
    return static_cast<ssize_t>(size);
  };
  File file(fopencookie(nullptr, "wb", functions));
  if (!file) {
    std::perror("fopencookie");
    std::exit(1);
  }
  return file;
}

const char* const kCustomers[] = {"Novák", "Svoboda", "Dvořák", "Černá", "O'Neil \"Jr\""};
const char* const kCities[] = {"Prague", "Brno", "Ostrava", "Plzeň"};

std::string JsonEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

std::string XmlEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '<') {
      out += "&lt;";
    } else if (c == '&') {
      out += "&amp;";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: gen_orders DIR N [FORMS]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const long n = std::atol(argv[2]);
  const std::string forms = argc == 4 ? argv[3] : "csv,json,xml";
  const auto open_form = [&](const char* form) {
    return forms.find(form) != std::string::npos ? Open(dir + "/orders." + form) : Discard();
  };
  File csv = open_form("csv");
  File json = open_form("json");
  File xml = open_form("xml");
  std::fputs("id;date;customer;city;total;note\r\n", csv.get());
  std::fputs("{\"orders\":[\n", json.get());
  std::fputs("<?xml version=\"1.0\" encoding=\"utf-8\"?><morvex_data><orders>", xml.get());
  for (long i = 1; i <= n; ++i) {
    const std::string customer = kCustomers[i % 5];
    const std::string city = kCities[i % 4];
    const std::string note = (i % 3 == 0) ? "call first; leave at door" : "";
    char date[16], total[32];
    std::snprintf(date, sizeof date, "2026-%02ld-%02ld", i % 12 + 1, i % 28 + 1);
    std::snprintf(total, sizeof total, "%ld.%02ld", i % 1000, i % 100);
    std::string quoted;
    for (char c : customer) {
      if (c == '"') quoted += '"';
      quoted += c;
    }
    std::fprintf(csv.get(), "%ld;%s;\"%s\";%s;%s;\"%s\"\r\n", i, date, quoted.c_str(), city.c_str(),
                 total, note.c_str());
    std::fprintf(json.get(),
                 "%s{\"id\":%ld,\"date\":\"%s\",\"customer\":\"%s\",\"city\":\"%s\",\"total\":%s,"
                 "\"note\":\"%s\",\"items\":[",
                 i > 1 ? ",\n" : "", i, date, JsonEscaped(customer).c_str(), city.c_str(), total,
                 note.c_str());
    for (int k = 0; k < 3; ++k) {
      std::fprintf(json.get(), "%s{\"sku\":\"P-%ld\",\"qty\":%d,\"price\":%d.5}", k ? "," : "",
                   (i * 3 + k) % 997, k + 1, k * 7 + 1);
    }
    std::fputs("]}", json.get());
    std::fprintf(xml.get(),
                 "<r><id>%ld</id><date>%s</date><customer>%s</customer><city>%s</city>"
                 "<total>%s</total><note>%s</note></r>\n",
                 i, date, XmlEscaped(customer).c_str(), city.c_str(), total, note.c_str());
  }
  std::fputs("\n]}\n", json.get());
  std::fputs("</orders></morvex_data>\n", xml.get());
  return 0;
}
