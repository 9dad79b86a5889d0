// Script splitting and comment removal alone, without a database: bytes of script per second.
// After the benchmarks it prints what each of the splitter's features costs, as the rate of a
// script of the same size that uses it against the plain script's, and the plain script's rate
// against a peer that only cuts lines and looks for the separator with memchr.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/ScriptSplitter.h"

namespace {

using namespace tarvolen;

constexpr size_t kScriptSize = 32u << 20;

// About 32 MB of script made of `pieces` over and over; LF line ends instead of CR LF when asked.
std::string makeScript(const std::vector<const char*>& pieces, bool lf = false) {
    std::string out;
    out.reserve(kScriptSize + 4096);
    for (size_t i = 0; out.size() < kScriptSize; ++i) {
        for (const char* c = pieces[i % pieces.size()]; *c != '\0'; ++c) {
            if (!(lf && *c == '\r' && c[1] == '\n')) out += *c;
        }
    }
    return out;
}

// The shapes real update scripts have: header comments holding separators and apostrophes,
// multi-line statements, literals with separators and braces. None of the features below.
const std::vector<const char*> kPlainPieces = {
    "/* Aggiornamento anagrafe; versione 1.0.4 -- don't edit */\r\n",
    "update ANAGRAFE set NOTE = 'trasferito; {vedi} pratica' where COD_INDIVIDUO = 1024;\r\n",
    "insert into AFCOMUNI (CODICE, NOME)\r\n    values ('F205', 'Milano');\r\n",
    "-- ricalcolo dei totali; l'ordine conta\r\n",
    "\r\n",
    "create index IDX_ANAG_COGNOME on ANAGRAFE (COGNOME, NOME);\r\n",
    "  select \"Nome;Strano\" from T where X = 'it''s';\r\n",
};

const std::string& plainScript() {
    static const std::string text = makeScript(kPlainPieces);
    return text;
}

// Each feature in a script of the same size: the plain pieces with the feature's among them.
const std::string& setTermScript() {
    static const std::string text = [] {
        std::vector<const char*> pieces = kPlainPieces;
        pieces.insert(pieces.end(),
                      {"SET TERM ^ ;\r\n",
                       "create procedure P_TOTALI as begin\r\n  update T set X = 1;\r\n"
                       "  update T set Y = 2;\r\nend^\r\n",
                       "SET TERM ; ^\r\n"});
        return makeScript(pieces);
    }();
    return text;
}

const std::string& clientCommandScript() {
    static const std::string text = [] {
        std::vector<const char*> pieces = kPlainPieces;
        pieces.insert(pieces.end(), {"COMMIT WORK;\r\n", "SET NAMES WIN1252;\r\n",
                                     "SET AUTODDL ON;\r\n", "SET SQL DIALECT 3;\r\n"});
        return makeScript(pieces);
    }();
    return text;
}

const std::string& qLiteralScript() {
    static const std::string text = makeScript({
        "/* Aggiornamento anagrafe; versione 1.0.4 -- don't edit */\r\n",
        "update ANAGRAFE set NOTE = q'{trasferito; l'ufficio {vedi}}' where COD = 1024;\r\n",
        "insert into AFCOMUNI (CODICE, NOME)\r\n    values (q'[F205]', q'<Milano; l'area>');\r\n",
        "-- ricalcolo dei totali; l'ordine conta\r\n",
        "\r\n",
        "create index IDX_ANAG_COGNOME on ANAGRAFE (COGNOME, NOME);\r\n",
        "  select \"Nome;Strano\" from T where X = q'!it's!';\r\n",
    });
    return text;
}

const std::string& lfScript() {
    static const std::string text = makeScript(kPlainPieces, true);
    return text;
}

// The walk a script phase makes, without the database: each statement joined and its comments
// removed; with `classify`, also told from isql's own commands as the engine does.
size_t splitAndStrip(const std::string& text, bool classify) {
    size_t statements = 0;
    ScriptSplitter splitter(";");
    std::vector<std::string_view> lines;
    for (const auto& line : SplitScriptLines(text)) {
        splitter.WalkLine(line, lines, [&](std::vector<std::string_view>& statement) {
            std::string sql;  // joined as this benchmark always joined it, for comparable figures
            for (const auto& l : statement) {
                sql += l;
                sql += "\r\n";
            }
            if (classify && IsClientOnlyStatement(sql, "WIN1252")) return;
            benchmark::DoNotOptimize(StripComments(sql));
            ++statements;
        });
    }
    return statements;
}

void runSplit(benchmark::State& state, const std::string& text, bool classify) {
    size_t statements = 0;
    for (auto _ : state) statements = splitAndStrip(text, classify);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
    state.counters["statements"] = static_cast<double>(statements);
}

// The figure the project tracks (first in the output: scripts/performance-report reads it).
void BM_SplitAndStrip(benchmark::State& state) {
    runSplit(state, plainScript(), false);
}

// The same walk timed on the CPU, each script beside the others, for the ratios.
void BM_Plain(benchmark::State& state) {
    runSplit(state, plainScript(), false);
}
void BM_PlainClassified(benchmark::State& state) {
    runSplit(state, plainScript(), true);
}
void BM_SetTerm(benchmark::State& state) {
    runSplit(state, setTermScript(), false);
}
void BM_ClientCommands(benchmark::State& state) {
    runSplit(state, clientCommandScript(), true);
}
void BM_QLiterals(benchmark::State& state) {
    runSplit(state, qLiteralScript(), false);
}
void BM_LfLineEnds(benchmark::State& state) {
    runSplit(state, lfScript(), false);
}

// The peer: lines cut as the splitter cuts them, and each searched for the separator with memchr,
// knowing nothing of literals or comments.
void BM_PeerLineScan(benchmark::State& state) {
    const std::string& text = plainScript();
    size_t separators = 0;
    for (auto _ : state) {
        separators = 0;
        for (const auto& line : SplitScriptLines(text))
            separators += std::memchr(line.data(), ';', line.size()) != nullptr ? 1u : 0u;
        benchmark::DoNotOptimize(separators);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
    state.counters["separators"] = static_cast<double>(separators);
}

BENCHMARK(BM_SplitAndStrip)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_PeerLineScan)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Plain)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_PlainClassified)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_SetTerm)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ClientCommands)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_QLiterals)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_LfLineEnds)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Keeps each benchmark's throughput so the ratios can be printed at the end.
class RecordingReporter : public benchmark::ConsoleReporter {
  public:
    // Plain "bytes_per_second=..." counters, as scripts/performance-report reads them.
    RecordingReporter() : ConsoleReporter(OO_None) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            const auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end()) rates[run.run_name.function_name] = it->second.value;
        }
    }
    std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    auto rate = [&](const char* name) {
        const auto it = reporter.rates.find(name);
        return it == reporter.rates.end() ? 0.0 : it->second;
    };
    const double plain = rate("BM_Plain");
    const double peer = rate("BM_PeerLineScan");
    if (plain > 0 && peer > 0) {
        std::printf(
            "plain script (CPU time): %.0f MB/s, line scan with memchr: %.0f MB/s, "
            "ratio splitter/line scan = %.2f\n",
            plain / 1e6, peer / 1e6, plain / peer);
        const struct {
            const char* name;
            const char* what;
        } features[] = {
            {"BM_PlainClassified", "each statement told from isql's commands"},
            {"BM_SetTerm", "SET TERM blocks"},
            {"BM_ClientCommands", "isql's commands, each statement told from them"},
            {"BM_QLiterals", "q'...' literals"},
            {"BM_LfLineEnds", "LF line ends"},
        };
        for (const auto& f : features) {
            if (rate(f.name) > 0) {
                std::printf("  %-48s %4.0f MB/s, ratio to plain = %.2f\n", f.what,
                            rate(f.name) / 1e6, rate(f.name) / plain);
            }
        }
    }
    benchmark::Shutdown();
    return 0;
}
