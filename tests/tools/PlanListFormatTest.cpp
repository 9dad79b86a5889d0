// How tarvolen-plan list prints a plan's phases, as columns and as JSON.

#include "tools/cli/PlanListFormat.h"

#include <gtest/gtest.h>

namespace tarvolen::cli {
namespace {

std::vector<PhaseSummary> samplePhases() {
    PhaseSummary script;
    script.id = 10;
    script.tipo = "S";
    script.stato = "S";
    script.versionText = script.version = "1.1.0.0";
    script.separator = ";";
    script.firstLine = "create table T (N integer);";
    script.scriptLines = 2;

    PhaseSummary import;
    import.id = 20;
    import.tipo = "I";
    import.stato = "N";
    import.versionText = "1.1";
    import.version = "1.0.1.1";
    import.versionClean = false;
    import.table = "T";
    import.file = "dati/t.xml";
    import.emptyTable = "S";

    PhaseSummary odd;  // no ID, an unknown type, no version, a quote and an accent
    odd.tipo = "x";
    odd.firstLine = "say \"caff\xE8\"";
    return {script, import, odd};
}

TEST(PlanListText, alignsOneLinePerPhaseUnderAHeader) {
    EXPECT_EQ(PlanListText(samplePhases()),
              "ID  TYPE    DONE  VERSION          SEPARATOR  TABLE <- FILE, OR SCRIPT\n"
              "10  script  S     1.1.0.0          ;          create table T (N integer);\n"
              "20  import  N     1.0.1.1 (\"1.1\")  -          T <- dati/t.xml (emptied first)\n"
              "-   'x'?    -     -                -          -\n");
}

TEST(PlanListText, cutsALongFirstLine) {
    PhaseSummary p;
    p.id = 1;
    p.tipo = "S";
    p.firstLine = std::string(100, 'a');
    const std::string text = PlanListText({p});
    EXPECT_NE(text.find(std::string(57, 'a') + "...\n"), std::string::npos) << text;
    EXPECT_EQ(text.find(std::string(58, 'a')), std::string::npos) << text;
}

TEST(PlanListJson, isOneObjectPerPhaseInUtf8) {
    EXPECT_EQ(PlanListJson(samplePhases()),
              "[\n"
              "  {\"id\":10,\"type\":\"script\",\"tipo\":\"S\",\"stato\":\"S\",\"done\":true,"
              "\"version\":\"1.1.0.0\",\"versionText\":\"1.1.0.0\",\"versionClean\":true,"
              "\"separator\":\";\",\"table\":\"\",\"file\":\"\",\"emptyTable\":false,"
              "\"scriptLines\":2,\"firstLine\":\"create table T (N integer);\"},\n"
              "  {\"id\":20,\"type\":\"import\",\"tipo\":\"I\",\"stato\":\"N\",\"done\":false,"
              "\"version\":\"1.0.1.1\",\"versionText\":\"1.1\",\"versionClean\":false,"
              "\"separator\":\"\",\"table\":\"T\",\"file\":\"dati/t.xml\",\"emptyTable\":true,"
              "\"scriptLines\":0,\"firstLine\":\"\"},\n"
              "  {\"id\":null,\"type\":\"unknown\",\"tipo\":\"x\",\"stato\":\"\",\"done\":false,"
              "\"version\":null,\"versionText\":\"\",\"versionClean\":true,"
              "\"separator\":\"\",\"table\":\"\",\"file\":\"\",\"emptyTable\":false,"
              "\"scriptLines\":0,\"firstLine\":\"say \\\"caff\xC3\xA8\\\"\"}\n"
              "]\n");
    EXPECT_EQ(PlanListJson({}), "[]\n");
}

TEST(PlanListJson, escapesControlCharacters) {
    PhaseSummary p;
    p.id = 1;
    p.separator = std::string("\t\x01", 2);
    EXPECT_NE(PlanListJson({p}).find("\"separator\":\"\\u0009\\u0001\""), std::string::npos);
}

}  // namespace
}  // namespace tarvolen::cli
