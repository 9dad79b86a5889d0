// Script splitting and comment removal alone, without a database: bytes of script per second.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "engine/ScriptSplitter.h"

namespace {

using namespace tarvolen;

// About 32 MB of script in the shapes real update scripts have: header comments holding
// separators and apostrophes, multi-line statements, literals with separators and braces.
const std::string& script() {
    static const std::string text = [] {
        static const char* kPieces[] = {
            "/* Aggiornamento anagrafe; versione 1.0.4 -- don't edit */\r\n",
            "update ANAGRAFE set NOTE = 'trasferito; {vedi} pratica' where COD_INDIVIDUO = "
            "1024;\r\n",
            "insert into AFCOMUNI (CODICE, NOME)\r\n    values ('F205', 'Milano');\r\n",
            "-- ricalcolo dei totali; l'ordine conta\r\n",
            "\r\n",
            "create index IDX_ANAG_COGNOME on ANAGRAFE (COGNOME, NOME);\r\n",
            "  select \"Nome;Strano\" from T where X = 'it''s';\r\n",
        };
        std::string out;
        out.reserve(33u << 20);
        for (size_t i = 0; out.size() < (32u << 20); ++i) out += kPieces[i % 7];
        return out;
    }();
    return text;
}

void BM_SplitAndStrip(benchmark::State& state) {
    const std::string& text = script();
    size_t statements = 0;
    for (auto _ : state) {
        ScriptSplitter splitter(";");
        std::vector<std::string_view> lines;
        for (const auto& line : SplitScriptLines(text)) {
            splitter.WalkLine(line, lines, [&](std::vector<std::string_view>& statement) {
                std::string sql;
                for (const auto& l : statement) {
                    sql += l;
                    sql += "\r\n";
                }
                benchmark::DoNotOptimize(StripComments(sql));
                ++statements;
            });
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
    state.counters["statements"] =
        static_cast<double>(statements) / static_cast<double>(state.iterations());
}

BENCHMARK(BM_SplitAndStrip)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
