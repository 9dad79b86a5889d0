#pragma once
// A data module on a database of its own, with a plan written for the test, and a host that
// records what the engine showed.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "../plan/PlanFileSupport.h"
#include "engine/dm_main.h"
#include "tests/support/RecordingHost.h"
#include "tests/support/TempDatabase.h"

namespace tarvolen::testing {

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dm.setHost(&m_host);
        m_dm.dbsagg().setAliasConfig(m_db.config());
        m_dm.LoginUser = "SYSDBA";
        m_dm.Connect("test");
        m_dm.dbsagg().execute(
            "create table SYSDBVER (MAJOR_VERSION integer, MINOR_VERSION integer, "
            "RELEASE_VERSION integer, BUILD integer, APPID varchar(3))");
    }
    void TearDown() override {
        m_dm.cdsQuery().SetFileName("");
        m_dm.cdsQuery().Close();
        m_dm.cds().Close();
        m_dm.dbsagg().close();
    }

    std::string path(const std::string& name) const { return (m_db.folder() / name).string(); }
    void writeFile(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    // Writes the plan file and loads it as the plan table, dropping the table loaded before.
    void loadPlan(const std::vector<Phase>& phases) {
        m_dm.cdsQuery().SetFileName("");
        m_dm.cdsQuery().Close();
        writeFile("dbquery.xml", planXml(phases));
        m_dm.cdsQuery().SetFileName(path("dbquery.xml"));
        m_dm.ReloadPlan();
    }
    void setDatabaseVersion(const std::string& values) {
        m_dm.dbsagg().execute("insert into SYSDBVER values (" + values + ", 'QLM')");
    }
    std::string databaseVersion() { return m_dm.ReadDatabaseVersion()->AsText(); }
    std::string stato(int id) {
        for (m_dm.cdsQuery().First(); !m_dm.cdsQuery().Eof(); m_dm.cdsQuery().Next()) {
            if (m_dm.cdsQuery().FieldByName("ID").AsInteger() == id)
                return m_dm.cdsQuery().FieldByName("STATO").AsString();
        }
        return "(no phase)";
    }
    int64_t count(const std::string& sql) {
        return database::testing::selectCount(m_dm.dbsagg(), sql);
    }

    database::testing::TempDatabase m_db;
    RecordingHost m_host;
    TdmMain m_dm;
};

}  // namespace tarvolen::testing
