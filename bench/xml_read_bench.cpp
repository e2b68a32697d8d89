// Reads an XML file through TXMLParser's SAX reader and reports throughput
// and peak memory. The event slots count elements, attributes and character
// data so that every callback does real work.
//
//   xml_read_bench FILE
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

#include "bench/bench_util.h"
#include "text/stream.h"
#include "xml/sax_parser.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 1;
  }
  const std::string path = argv[1];
  try {
    int64_t elements = 0, attributes = 0, chars = 0, charEvents = 0;
    morvex::TXMLParser parser;
    parser.OnStartElement = [&](auto, auto, auto, const morvex::TXMLAttributes& list) {
      ++elements;
      attributes += list.Length();
    };
    parser.OnCharacters = [&](std::string_view text) {
      ++charEvents;
      chars += static_cast<int64_t>(text.size());
    };

    morvex::TFileStream input(path, morvex::TFileStream::Mode::Read);
    const int64_t bytes = input.Size();
    morvex::bench::TStopwatch clock;
    parser.Parse(input);
    const double seconds = clock.Seconds();

    std::printf("file         %s\n", path.c_str());
    std::printf("bytes        %lld\n", static_cast<long long>(bytes));
    std::printf("elements     %lld\n", static_cast<long long>(elements));
    std::printf("attributes   %lld\n", static_cast<long long>(attributes));
    std::printf("characters   %lld bytes in %lld events\n", static_cast<long long>(chars),
                static_cast<long long>(charEvents));
    std::printf("seconds      %.3f\n", seconds);
    std::printf("MB/s         %.1f\n", morvex::bench::MegabytesPerSecond(bytes, seconds));
    std::printf("peak RSS     %lld KB\n", static_cast<long long>(morvex::bench::PeakRssKb()));
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "xml_read_bench: %s\n", e.what());
    return 1;
  }
}
