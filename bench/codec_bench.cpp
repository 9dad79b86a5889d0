// Data-packet codec throughput, measured against libexpat parsing the same bytes in the same run.
//
//   bench_codec [google-benchmark flags]
//
// After the benchmarks it prints the ratios the project tracks and the memory a decoded plan
// takes, measured in this process. Rates are per second of processor time (the process's, the
// kernel's work for it included): one thread works, and on a machine shared with other work the
// wall clock also counts the time the thread waited for a processor. The table shows both.

#include <benchmark/benchmark.h>
#include <expat.h>
#include <malloc.h>

#include <cstdio>
#include <map>
#include <string>

#include "ImportGenerator.h"
#include "PlanGenerator.h"
#include "base/Cp1252.h"
#include "plan/DataFileReading.h"
#include "plan/PacketCodec.h"
#include "plan/PacketStream.h"

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

// The engine benchmark's import file of 200,000 rows, as an import reads it: ASCII, with an
// accented letter in every name (Windows-1252), and that in UTF-8 without a declaration.
constexpr int kImportRows = 200000;

struct ImportCorpus {
    std::string ascii;
    std::string accented;
    std::string utf8;
    std::string binary;
};

const ImportCorpus& importCorpus() {
    static const ImportCorpus c = [] {
        ImportCorpus out;
        out.ascii = encodeXmlPacket(bench::importPacket(kImportRows));
        out.accented = out.ascii;
        for (size_t at = out.accented.find("Cognome"); at != std::string::npos;
             at = out.accented.find("Cognome", at + 7))
            out.accented[at + 6] = '\xE8';  // "Cognom\xE8"
        out.utf8 = cp1252::toUtf8(out.accented);
        out.binary = encodeBinaryPacket(bench::importPacket(kImportRows));
        return out;
    }();
    return c;
}

// The import's decode before data files were read strictly: the plan's rules, no notes. Rates
// are rows per second of processor time (one thread decodes, and on a shared machine the wall
// clock moves too much for a ratio of a few per cent), so that the UTF-8 file (more bytes)
// compares with the others.
void decodeAsPlan(benchmark::State& state, const std::string& xml) {
    for (auto _ : state) {
        DataPacket p = decodeXmlPacket(xml);
        benchmark::DoNotOptimize(p.rows.size());
    }
    state.SetItemsProcessed(state.iterations() * kImportRows);
}

// The import's decode now: the data-file rules, every value checked.
void decodeAsDataFile(benchmark::State& state, const std::string& xml) {
    for (auto _ : state) {
        DataPacket p = decodeImportData(xml);
        benchmark::DoNotOptimize(p.rows.size());
    }
    state.SetItemsProcessed(state.iterations() * kImportRows);
}

void BM_ImportAsciiPlanRules(benchmark::State& s) {
    decodeAsPlan(s, importCorpus().ascii);
}
void BM_ImportAsciiDataFile(benchmark::State& s) {
    decodeAsDataFile(s, importCorpus().ascii);
}
void BM_ImportCp1252PlanRules(benchmark::State& s) {
    decodeAsPlan(s, importCorpus().accented);
}
void BM_ImportCp1252DataFile(benchmark::State& s) {
    decodeAsDataFile(s, importCorpus().accented);
}
void BM_ImportUtf8DataFile(benchmark::State& s) {
    decodeAsDataFile(s, importCorpus().utf8);
}

// How an import took its rows before it streamed them: the data file decoded whole into a table,
// then each row's values decoded in turn.
void decodeWholeThenWalk(benchmark::State& state, const std::string& bytes) {
    std::vector<FieldValue> values;
    for (auto _ : state) {
        DataPacket p = decodeImportData(bytes);
        for (size_t r = 0; r < p.rows.size(); ++r) {
            p.rows.decodeRow(r, values);
            benchmark::DoNotOptimize(values.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * kImportRows);
}

// How an import takes them now: handed over as they are decoded, the bytes read a piece at a
// time (copied out of memory here, as they would be read from the file's pages).
void decodeStreamed(benchmark::State& state, const std::string& bytes) {
    class Counter : public PacketRowConsumer {
      public:
        void layout(const DataPacket&, const std::optional<TextEncodingNote>&) override {}
        void row(const StreamedRow& row) override {
            benchmark::DoNotOptimize(row.values->data());
            rows += row.visible;
        }
        size_t rows = 0;
    };
    for (auto _ : state) {
        PacketBytesSource source(bytes);
        Counter counter;
        streamImportData(source, counter);
        benchmark::DoNotOptimize(counter.rows);
    }
    state.SetItemsProcessed(state.iterations() * kImportRows);
}

void BM_ImportXmlWholeThenWalk(benchmark::State& s) {
    decodeWholeThenWalk(s, importCorpus().ascii);
}
void BM_ImportXmlStreamed(benchmark::State& s) {
    decodeStreamed(s, importCorpus().ascii);
}
void BM_ImportBinaryWholeThenWalk(benchmark::State& s) {
    decodeWholeThenWalk(s, importCorpus().binary);
}
void BM_ImportBinaryStreamed(benchmark::State& s) {
    decodeStreamed(s, importCorpus().binary);
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

BENCHMARK(BM_DecodeXml)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ExpatParseOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_EncodeXml)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DecodeBinary)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ImportAsciiPlanRules)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ImportAsciiDataFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ImportCp1252PlanRules)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ImportCp1252DataFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ImportUtf8DataFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ImportXmlWholeThenWalk)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ImportXmlStreamed)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ImportBinaryWholeThenWalk)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ImportBinaryStreamed)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Keeps each benchmark's throughput so the ratios can be printed at the end.
class RecordingReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            // Bytes per second, or rows per second for the import file.
            for (const char* counter : {"bytes_per_second", "items_per_second"}) {
                const auto it = run.counters.find(counter);
                if (it != run.counters.end()) rates[run.run_name.function_name] = it->second.value;
            }
        }
    }
    std::map<std::string, double> rates;
};

// The heap's figure and the large arenas the heap does not see.
size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd + RowStore::largeArenaBytes();
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
            "5.0)\n",
            ours / 1e6, expat / 1e6, ours / expat);
    }
    if (rate("BM_EncodeXml") > 0) {
        std::printf("XML encode: %.0f MB/s (goal >= 700)\n", rate("BM_EncodeXml") / 1e6);
    }
    if (rate("BM_DecodeBinary") > 0) {
        std::printf("binary decode: %.0f MB/s (goal >= 2000)\n", rate("BM_DecodeBinary") / 1e6);
    }

    // An import's data file read strictly, against the plan's lenient reading of the same bytes.
    const double asciiPlan = rate("BM_ImportAsciiPlanRules");
    const double cp1252Plan = rate("BM_ImportCp1252PlanRules");
    if (asciiPlan > 0 && cp1252Plan > 0) {
        std::printf(
            "import file (%.1f MB): rows/s read strictly against leniently, ASCII %.2f, "
            "Windows-1252 %.2f, UTF-8 against Windows-1252 lenient %.2f\n",
            static_cast<double>(importCorpus().ascii.size()) / 1e6,
            rate("BM_ImportAsciiDataFile") / asciiPlan,
            rate("BM_ImportCp1252DataFile") / cp1252Plan,
            rate("BM_ImportUtf8DataFile") / cp1252Plan);
    }

    // An import's rows streamed, against the file decoded whole and its rows walked.
    const double xmlWhole = rate("BM_ImportXmlWholeThenWalk");
    const double binaryWhole = rate("BM_ImportBinaryWholeThenWalk");
    if (xmlWhole > 0 && binaryWhole > 0) {
        std::printf(
            "import file (%.1f MB XML, %.1f MB binary): rows/s streamed against decoded whole and "
            "walked, XML %.2f, binary %.2f\n",
            static_cast<double>(importCorpus().ascii.size()) / 1e6,
            static_cast<double>(importCorpus().binary.size()) / 1e6,
            rate("BM_ImportXmlStreamed") / xmlWhole, rate("BM_ImportBinaryStreamed") / binaryWhole);
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
