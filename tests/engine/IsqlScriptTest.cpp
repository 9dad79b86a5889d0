// Firebird's own example script, employee.sql, unchanged, as one script phase with separator
// ";": the database it leaves must be the one isql leaves.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <sstream>

#include "EngineTestSupport.h"
#include "engine/ScriptSplitter.h"
#include "tests/support/IsqlRunner.h"
#include "tests/support/ShellCommand.h"

namespace tarvolen::testing {
namespace {

using database::testing::runIsql;
using database::testing::selectRows;
using database::testing::TempDatabase;

// Where the Debian package firebird3.0-examples puts it.
constexpr const char* kEmployeeScript =
    "/usr/share/doc/firebird3.0-common-doc/examples/employee.sql.gz";

constexpr const char* kVersionTable =
    "create table SYSDBVER (MAJOR_VERSION integer, MINOR_VERSION integer, RELEASE_VERSION "
    "integer, BUILD integer, APPID varchar(3))";

std::string commandOutput(const std::string& command) {
    return runShellCommand(command).out;
}

// isql's extract of the database's metadata, compared without comments and blank lines: our
// statements reach the server with their comments removed and the blank lines outside literals
// dropped, so the source text stored for procedures and triggers lacks them; the definitions
// themselves must be the same.
std::vector<std::string> metadata(const std::filesystem::path& database) {
    const std::string extract = commandOutput("timeout -s KILL 60 isql-fb -user SYSDBA -x '" +
                                              database.string() + "' 2>&1");
    std::vector<std::string> lines;
    std::istringstream in(StripComments(extract));
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && static_cast<unsigned char>(line.back()) <= 32) line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

// Every row of every user table but the version record a run writes, each as text, sorted:
// text blobs as their text, arrays as whether they hold one.
std::vector<std::string> contents(database::Connection& connection) {
    std::vector<std::string> all;
    for (const std::string& table : connection.tableNames()) {
        if (table == "SYSDBVER") continue;
        const auto columns = selectRows(
            connection,
            "select trim(rf.rdb$field_name), f.rdb$field_type, f.rdb$dimensions from "
            "rdb$relation_fields rf join rdb$fields f on f.rdb$field_name = rf.rdb$field_source "
            "where rf.rdb$relation_name = '" +
                table + "' order by rf.rdb$field_position");
        std::string select;
        for (const auto& column : columns) {
            const std::string name = "\"" + std::get<std::string>(column[0]) + "\"";
            std::string expression = name;
            if (!database::isNull(column[2]))
                expression = "iif(" + name + " is null, 'no array', 'array')";
            else if (std::get<int64_t>(column[1]) == 261)
                expression = "cast(" + name + " as varchar(8000))";
            select += (select.empty() ? "" : ", ") + expression;
        }
        for (const auto& row : selectRows(connection, "select " + select + " from " + table)) {
            std::string line = table + ":";
            for (const auto& value : row) line += " [" + database::valueText(value) + "]";
            all.push_back(line);
        }
    }
    std::sort(all.begin(), all.end());
    return all;
}

class IsqlScript : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(kEmployeeScript)) {
            const std::string why = std::string(kEmployeeScript) +
                                    " is missing (package firebird3.0-examples, which "
                                    "scripts/install-deps installs)";
            const char* ci = std::getenv("CI");
            if (ci != nullptr && std::string(ci) == "true") FAIL() << why;
            GTEST_SKIP() << why;
        }
        m_script = commandOutput(std::string("zcat '") + kEmployeeScript + "'");
        ASSERT_NE(m_script.find("SET TERM !! ;"), std::string::npos);
    }
    std::string m_script;
};

TEST_F(IsqlScript, employeeSqlAsOnePhaseLeavesTheDatabaseIsqlLeaves) {
    // Both databases without a default character set, as the script's own CREATE DATABASE
    // makes it, and both with the version table a run needs.
    TempDatabase ours("NONE");
    TempDatabase theirs("NONE");
    RecordingHost host;
    {
        TdmMain dm;
        dm.setHost(&host);
        dm.dbsagg().setAliasConfig(ours.config());
        dm.LoginUser = "SYSDBA";
        dm.Connect("test");
        dm.dbsagg().execute(kVersionTable);
        std::ofstream(ours.folder() / "dbquery.xml", std::ios::binary)
            << planXml({{.id = 1, .separatore = ";", .testo = m_script}});
        dm.cdsQuery().SetFileName((ours.folder() / "dbquery.xml").string());
        dm.ReloadPlan();
        dm.RunBatch();
        dm.DataModuleDestroy();
        dm.dbsagg().close();
    }
    // The one statement isql runs itself and the server cannot: CREATE DATABASE, failed and
    // logged; everything else ran.
    EXPECT_EQ(std::count(host.log.begin(), host.log.end(), "ERRORE:"), 1)
        << ::testing::PrintToString(host.log);
    const auto failed = std::find(host.log.begin(), host.log.end(), "ERRORE:");
    ASSERT_LT(failed + 3, host.log.end());
    EXPECT_NE(failed[3].find("create database 'employee.fdb'"), std::string::npos) << failed[3];

    // isql on a database made beforehand: its CREATE DATABASE would make another one.
    theirs.connect()->execute(kVersionTable);
    std::string script = m_script;
    const std::string create = "create database 'employee.fdb';\n";
    ASSERT_NE(script.find(create), std::string::npos);
    script.replace(script.find(create), create.size(),
                   "connect '" + theirs.file().string() + "' user 'SYSDBA';\n");
    const std::string isqlSaid = runIsql(theirs.folder(), script);
    EXPECT_EQ(isqlSaid, "") << "isql found fault with its own example";

    const auto ourMetadata = metadata(ours.file());
    EXPECT_GT(ourMetadata.size(), 300u);
    EXPECT_EQ(ourMetadata, metadata(theirs.file()));
    const auto ourRows = contents(*ours.connect());
    const auto theirRows = contents(*theirs.connect());
    EXPECT_GT(ourRows.size(), 200u);
    std::vector<std::string> onlyOurs;
    std::vector<std::string> onlyTheirs;
    std::set_difference(ourRows.begin(), ourRows.end(), theirRows.begin(), theirRows.end(),
                        std::back_inserter(onlyOurs));
    std::set_difference(theirRows.begin(), theirRows.end(), ourRows.begin(), ourRows.end(),
                        std::back_inserter(onlyTheirs));
    EXPECT_EQ(onlyOurs, std::vector<std::string>{});
    EXPECT_EQ(onlyTheirs, std::vector<std::string>{});
}

}  // namespace
}  // namespace tarvolen::testing
