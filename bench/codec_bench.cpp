// Data-packet codec throughput, measured against libexpat parsing the same bytes in the same run.
//
//   bench_codec [google-benchmark flags]
//
// After the benchmarks it prints the ratios the project tracks and the memory a decoded plan
// takes, measured in this process.

#include <benchmark/benchmark.h>
#include <expat.h>
#include <malloc.h>

#include <cstdio>
#include <map>
#include <string>

#include "PlanGenerator.h"
#include "plan/PacketCodec.h"

namespace {

using namespace tarvolen;

// 20,000 phases of about 2.5 KB of script each, all marked done: about 70 MB of XML.
constexpr size_t kPhases = 20000;
constexpr size_t kScriptBytes = 2500;

struct Corpus {
    DataPacket packet;
    std::string xml;
    std::string binary;
};

const Corpus& corpus() {
    static const Corpus c = [] {
        Corpus out;
        out.packet = bench::generatePlan(kPhases, kScriptBytes, true);
        out.xml = encodeXmlPacket(out.packet);
        out.binary = encodeBinaryPacket(out.packet);
        return out;
    }();
    return c;
}

void BM_DecodeXml(benchmark::State& state) {
    const std::string& xml = corpus().xml;
    for (auto _ : state) {
        DataPacket p = decodeXmlPacket(xml);
        benchmark::DoNotOptimize(p.rows.size());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(xml.size()));
}

void startElement(void*, const XML_Char*, const XML_Char**) {}
void endElement(void*, const XML_Char*) {}

// The peer: libexpat only tokenising the same bytes, with empty element handlers.
void BM_ExpatParseOnly(benchmark::State& state) {
    const std::string& xml = corpus().xml;
    for (auto _ : state) {
        XML_Parser parser = XML_ParserCreate("ISO-8859-1");
        XML_SetElementHandler(parser, startElement, endElement);
        const auto status = XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), 1);
        if (status != XML_STATUS_OK) state.SkipWithError(XML_ErrorString(XML_GetErrorCode(parser)));
        XML_ParserFree(parser);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(xml.size()));
}

void BM_EncodeXml(benchmark::State& state) {
    const DataPacket& packet = corpus().packet;
    size_t bytes = 0;
    for (auto _ : state) {
        std::string out = encodeXmlPacket(packet);
        bytes += out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_DecodeBinary(benchmark::State& state) {
    const std::string& binary = corpus().binary;
    for (auto _ : state) {
        DataPacket p = decodeBinaryPacket(binary);
        benchmark::DoNotOptimize(p.rows.size());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(binary.size()));
}

BENCHMARK(BM_DecodeXml)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_ExpatParseOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_EncodeXml)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_DecodeBinary)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// Keeps each benchmark's throughput so the ratios can be printed at the end.
class RecordingReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            const auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end()) rates[run.run_name.function_name] = it->second.value;
        }
    }
    std::map<std::string, double> rates;
};

size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const Corpus& c = corpus();
    std::printf("plan: %zu row versions, XML %.1f MB, binary %.1f MB\n", c.packet.rows.size(),
                static_cast<double>(c.xml.size()) / 1e6,
                static_cast<double>(c.binary.size()) / 1e6);
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    auto rate = [&](const char* name) {
        const auto it = reporter.rates.find(name);
        return it == reporter.rates.end() ? 0.0 : it->second;
    };
    const double ours = rate("BM_DecodeXml");
    const double expat = rate("BM_ExpatParseOnly");
    if (ours > 0 && expat > 0) {
        std::printf(
            "XML decode: %.0f MB/s, expat parse only: %.0f MB/s, ratio ours/expat = %.2f (goal >= "
            "3.0)\n",
            ours / 1e6, expat / 1e6, ours / expat);
    }
    if (rate("BM_EncodeXml") > 0) {
        std::printf("XML encode: %.0f MB/s (goal >= 500)\n", rate("BM_EncodeXml") / 1e6);
    }
    if (rate("BM_DecodeBinary") > 0) {
        std::printf("binary decode: %.0f MB/s (goal >= 1000)\n", rate("BM_DecodeBinary") / 1e6);
    }

    // Memory of a decoded table against the size of its file.
    const size_t before = heapInUse();
    {
        DataPacket decoded = decodeXmlPacket(c.xml);
        const size_t table = heapInUse() - before;
        std::printf("decoded table: %.1f MB for a %.1f MB file, ratio %.2f (goal <= 2.0)\n",
                    static_cast<double>(table) / 1e6, static_cast<double>(c.xml.size()) / 1e6,
                    static_cast<double>(table) / static_cast<double>(c.xml.size()));
    }
    benchmark::Shutdown();
    return 0;
}
