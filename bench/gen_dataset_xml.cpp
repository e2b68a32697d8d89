// Writes a dataset XML file of about the given size for the reader
// benchmarks: <morvex_data><orders><r><id>..</id>...</r>...</orders></morvex_data>
// with escaped character data, CDATA sections, attributes-free records and
// some non-ASCII text, as the query step writes them.
//
//   gen_dataset_xml FILE SIZE     (SIZE in bytes, or with a K, M or G suffix)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

int64_t ParseSize(const std::string& text) {
  char* end = nullptr;
  const double n = std::strtod(text.c_str(), &end);
  int64_t unit = 1;
  switch (*end) {
    case 'k':
    case 'K':
      unit = int64_t{1} << 10;
      break;
    case 'm':
    case 'M':
      unit = int64_t{1} << 20;
      break;
    case 'g':
    case 'G':
      unit = int64_t{1} << 30;
      break;
    default:
      break;
  }
  return static_cast<int64_t>(n * static_cast<double>(unit));
}

struct FileCloser {
  void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FILE SIZE\n", argv[0]);
    return 1;
  }
  const int64_t target = ParseSize(argv[2]);
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(argv[1], "wb"));
  if (!file) {
    std::perror(argv[1]);
    return 1;
  }
  std::setvbuf(file.get(), nullptr, _IOFBF, 1 << 20);

  static const char* const kCities[] = {"Praha",
                                        "Brno",
                                        "\xC4\x8C"
                                        "esk\xC3\xA9 Bud\xC4\x9Bjovice",
                                        "Ostrava",
                                        "Plze\xC5\x88",
                                        "K\xC3\xB6ln",
                                        "M\xC3\xBCnchen"};
  const char header[] =
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<morvex_data><orders>\n";
  const char footer[] = "</orders></morvex_data>\n";
  int64_t written =
      std::fputs(header, file.get()) >= 0 ? static_cast<int64_t>(sizeof header - 1) : -1;
  char buf[1024];
  for (int64_t i = 1; written >= 0 && written < target; ++i) {
    const int n = std::snprintf(
        buf, sizeof buf,
        "<r><id>%lld</id><name>Customer %lld &amp; Sons</name><city>%s</city>"
        "<price>%lld.%02lld</price><created>20%02lld-%02lld-%02lldT%02lld:%02lld:%02lld</created>"
        "<note><![CDATA[Deliver <before> noon, order %lld]]></note></r>\n",
        static_cast<long long>(i), static_cast<long long>(i % 9973),
        kCities[i % (sizeof kCities / sizeof kCities[0])], static_cast<long long>(i * 37 % 100000),
        static_cast<long long>(i % 100), static_cast<long long>(i % 30),
        static_cast<long long>(i % 12 + 1), static_cast<long long>(i % 28 + 1),
        static_cast<long long>(i % 24), static_cast<long long>(i % 60),
        static_cast<long long>(i * 7 % 60), static_cast<long long>(i));
    if (std::fwrite(buf, 1, static_cast<size_t>(n), file.get()) != static_cast<size_t>(n))
      written = -1;
    else
      written += n;
  }
  if (written < 0 || std::fputs(footer, file.get()) < 0 || std::fflush(file.get()) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
