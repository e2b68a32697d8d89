// Writes a dataset document of N records with six typed fields through the
// streaming writer onto a file and reports throughput and peak memory.
//
//   xml_write_bench OUTPUT [RECORDS=5000000] [ENCODING=utf-8] [TYPE_ATTRIBUTES=0]
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "text/stream.h"
#include "xml/xml_options.h"
#include "xml/xml_types.h"
#include "xml/xml_writer.h"

namespace {

// Value texts are prepared once, so that the run measures the writer and not
// the making of test data.
struct TValuePool {
  static constexpr int kSize = 1000;
  std::vector<std::string> Names, Floats, Dates, DateTimes, Texts;

  TValuePool() {
    char buf[160];
    for (int i = 0; i < kSize; ++i) {
      std::snprintf(buf, sizeof buf, "Customer %d & Sons <%s>", i, i % 3 ? "retail" : "trade");
      Names.emplace_back(buf);
      std::snprintf(buf, sizeof buf, "%d.%02d", i * 37 % 100000, i % 100);
      Floats.emplace_back(buf);
      std::snprintf(buf, sizeof buf, "20%02d-%02d-%02d", i % 30, i % 12 + 1, i % 28 + 1);
      Dates.emplace_back(buf);
      std::snprintf(buf, sizeof buf, "20%02d-%02d-%02d %02d:%02d:%02d", i % 30, i % 12 + 1,
                    i % 28 + 1, i % 24, i % 60, (i * 7) % 60);
      DateTimes.emplace_back(buf);
      std::snprintf(buf, sizeof buf,
                    "Order note %d: deliver before noon, ring twice; fragile \xE2\x80\x93 glass.",
                    i);
      Texts.emplace_back(buf);
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 5) {
    std::fprintf(stderr,
                 "usage: %s OUTPUT [RECORDS=5000000] [ENCODING=utf-8] [TYPE_ATTRIBUTES=0]\n",
                 argv[0]);
    return 1;
  }
  const std::string path = argv[1];
  const int64_t records = argc > 2 ? std::atoll(argv[2]) : 5000000;
  const std::string encoding = argc > 3 ? argv[3] : "utf-8";
  const bool typeAttributes = argc > 4 && std::string(argv[4]) == "1";
  try {
    using namespace morvex;
    const TValuePool pool;
    TXmlOptions options = DefaultXmlOptions();
    options.Encoding = encoding;
    options.Indent = false;

    TFileStream out(path, TFileStream::Mode::Create);
    bench::TStopwatch clock;
    auto writer = BeginXmlWriter(out, &options, nullptr, "morvex_data");
    WriteStartTag(*writer, "orders");
    char id[24];
    for (int64_t i = 0; i < records; ++i) {
      const auto k = static_cast<size_t>(i % TValuePool::kSize);
      const std::string_view idText(
          id, static_cast<size_t>(std::to_chars(id, id + sizeof id, i + 1).ptr - id));
      WriteStartTag(*writer, "r");
      WriteXmlField(*writer, "id", xtInteger, typeAttributes, false, idText, false);
      WriteXmlField(*writer, "name", xtString, typeAttributes, false, pool.Names[k], false);
      WriteXmlField(*writer, "price", xtFloat, typeAttributes, false, pool.Floats[k], false);
      WriteXmlField(*writer, "shipped", xtDate, typeAttributes, false, pool.Dates[k], false);
      WriteXmlField(*writer, "created", xtDateTime, typeAttributes, false, pool.DateTimes[k],
                    false);
      WriteXmlField(*writer, "note", xtText, typeAttributes, false, pool.Texts[k], k % 10 == 0);
      WriteEndTag(*writer, "r");
    }
    WriteEndTag(*writer, "orders");
    EndXmlWriter(std::move(writer), "morvex_data");
    out.Close();
    const double seconds = clock.Seconds();

    const int64_t bytes = TFileStream(path, TFileStream::Mode::Read).Size();
    std::printf("file         %s\n", path.c_str());
    std::printf("encoding     %s\n", encoding.c_str());
    std::printf("records      %lld\n", static_cast<long long>(records));
    std::printf("bytes        %lld\n", static_cast<long long>(bytes));
    std::printf("seconds      %.3f\n", seconds);
    std::printf("MB/s         %.1f\n", bench::MegabytesPerSecond(bytes, seconds));
    std::printf("records/s    %.0f\n", seconds > 0 ? static_cast<double>(records) / seconds : 0);
    std::printf("peak RSS     %lld KB\n", static_cast<long long>(bench::PeakRssKb()));
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "xml_write_bench: %s\n", e.what());
    return 1;
  }
}
