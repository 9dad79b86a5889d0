#pragma once
// What the backup tests share: tarvolen-backup run as the administrator runs it, every table of
// a database as text to compare before and after, and the backups a folder holds.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "RunToolSupport.h"
#include "db/Connection.h"
#include "db/Query.h"
#include "engine/BackupFiles.h"
#include "tests/support/TempDatabase.h"

namespace tarvolen::testing {

// Every row of every user table and view-less relation, table by table in name order, each
// table's rows as text sorted (a restore need not keep the order rows are stored in).
inline std::string everyTable(database::Connection& connection) {
    std::vector<std::string> tables;
    {
        database::Query query(connection, "tables");
        query.setSql(
            "select trim(RDB$RELATION_NAME) as N from RDB$RELATIONS "
            "where coalesce(RDB$SYSTEM_FLAG, 0) = 0 and RDB$VIEW_BLR is null order by 1");
        for (query.open(); !query.eof(); query.next()) tables.push_back(query.asString("N"));
    }
    std::string dump;
    for (const std::string& table : tables) {
        std::vector<std::string> rows;
        for (const auto& row :
             database::testing::selectRows(connection, "select * from " + table)) {
            std::string text;
            for (const auto& value : row)
                text +=
                    (database::isNull(value) ? std::string("<null>") : database::valueText(value)) +
                    "|";
            rows.push_back(text);
        }
        std::sort(rows.begin(), rows.end());
        dump += "== " + table + " (" + std::to_string(rows.size()) + " rows)\n";
        for (const std::string& row : rows) dump += row + "\n";
    }
    return dump;
}

// The backups a folder holds under a backup's name, and every other file in it.
inline std::vector<std::string> backupsIn(const std::filesystem::path& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        if (ParseBackupFileName(entry.path().filename().string()))
            found.push_back(entry.path().string());
    std::sort(found.begin(), found.end());
    return found;
}
inline std::vector<std::string> filesIn(const std::filesystem::path& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        found.push_back(entry.path().filename().string());
    std::sort(found.begin(), found.end());
    return found;
}

// A command of the shell run to its end in `folder` under a hard time limit, with `input` on
// its standard input: its exit status and both outputs.
inline Result runInFolder(const std::filesystem::path& folder, const std::string& command,
                          const std::string& input = "") {
    const std::filesystem::path in = folder / "stdin.txt";
    std::ofstream(in, std::ios::binary) << input;
    return runShellCommand("cd '" + folder.string() + "' && exec timeout -s KILL 120 " + command +
                               " <'" + in.string() + "'",
                           folder / "stderr.txt");
}

}  // namespace tarvolen::testing
