// The database layer against Firebird's own tools, as ratios measured in one run:
//   1. N statements, each in its own transaction, through the layer versus the same
//      statements through isql with a commit after each (target: ours / isql <= 1.0);
//   2. M rows inserted by position in one transaction through Table versus a plain client
//      API loop with one prepared statement (target: our rate >= 0.8 x the plain rate).
// Every measurement runs on a fresh embedded database in a temporary folder.
//
//   db_bench [--statements N] [--rows M]     (defaults 10000 and 200000)
//
// Set FIREBIRD_LOCK to a writable folder when /tmp/firebird is not writable.

#include <firebird/Interface.h>

#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "BenchSupport.h"
#include "db/Aliases.h"
#include "db/Connection.h"
#include "db/DatabaseError.h"
#include "db/Table.h"

namespace {

namespace fs = std::filesystem;
using namespace tarvolen::database;
using tarvolen::bench::Clock;
using tarvolen::bench::Folder;
using tarvolen::bench::secondsSince;

// A fresh database holding `ddl`, reached through alias "bench"; connected on return.
std::unique_ptr<Connection> freshDatabase(const fs::path& file, const std::string& ddl) {
    auto connection = std::make_unique<Connection>("bench");
    connection->setAliasConfig(std::make_shared<AliasConfig>(AliasConfig::parse(
        "[bench]\nDatabase = " + file.string() + "\n", file.parent_path() / "x")));
    connection->setAliasName("bench");
    connection->params().setValue("USER NAME", "SYSDBA");
    connection->createDatabase();
    connection->execute(ddl);
    return connection;
}

std::string insertStatement(int i) {
    return "insert into T values (" + std::to_string(i) + ", 'riga " + std::to_string(i) + "')";
}

const char* const kStatementTable = "create table T (ID integer, TESTO varchar(40))";
const char* const kRowTable =
    "create table P (ID integer, NOME varchar(40), IMPORTO numeric(12,2), GIORNO date)";

double isqlStatements(const fs::path& folder, int count) {
    const fs::path file = folder / "isql.fdb";
    freshDatabase(file, kStatementTable)->close();
    const fs::path script = folder / "statements.sql";
    {
        std::ofstream out(script);
        out << "connect '" << file.string() << "' user 'SYSDBA';\n";
        for (int i = 0; i < count; ++i) out << insertStatement(i) << ";\ncommit;\n";
    }
    const std::string command =
        "timeout -s KILL 600 isql-fb -q -i '" + script.string() + "' > /dev/null 2>&1";
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) throw std::runtime_error("isql-fb failed");
    return secondsSince(start);
}

double ourStatements(const fs::path& folder, int count) {
    auto connection = freshDatabase(folder / "ours.fdb", kStatementTable);
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        connection->startTransaction();
        connection->execute(insertStatement(i));
        connection->commit();
    }
    return secondsSince(start);
}

double plainApiRows(const fs::path& folder, int rows) {
    using namespace Firebird;
    const fs::path file = folder / "plain.fdb";
    freshDatabase(file, kRowTable)->close();

    IMaster* master = fb_get_master_interface();
    ThrowStatusWrapper status(master->getStatus());
    IUtil* util = master->getUtilInterface();
    IXpbBuilder* dpb = util->getXpbBuilder(&status, IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(&status, isc_dpb_user_name, "SYSDBA");
    dpb->insertString(&status, isc_dpb_lc_ctype, "WIN1252");
    dpb->insertString(&status, isc_dpb_config, "Providers=Engine12");
    IProvider* provider = master->getDispatcher();
    IAttachment* attachment = provider->attachDatabase(
        &status, file.c_str(), dpb->getBufferLength(&status), dpb->getBuffer(&status));
    dpb->dispose();

    const auto start = Clock::now();
    ITransaction* transaction = attachment->startTransaction(&status, 0, nullptr);
    IStatement* statement =
        attachment->prepare(&status, transaction, 0, "insert into P values (?, ?, ?, ?)", 3,
                            IStatement::PREPARE_PREFETCH_METADATA);
    IMessageMetadata* metadata = statement->getInputMetadata(&status);
    std::string buffer(metadata->getMessageLength(&status), '\0');
    unsigned char* message = reinterpret_cast<unsigned char*>(buffer.data());
    unsigned offsets[4], nulls[4];
    for (unsigned i = 0; i < 4; ++i) {
        offsets[i] = metadata->getOffset(&status, i);
        nulls[i] = metadata->getNullOffset(&status, i);
        *reinterpret_cast<short*>(message + nulls[i]) = 0;
    }
    for (int i = 0; i < rows; ++i) {
        const int32_t id = i;
        std::memcpy(message + offsets[0], &id, sizeof id);
        const std::string name = "Nome " + std::to_string(i);
        const uint16_t length = static_cast<uint16_t>(name.size());
        std::memcpy(message + offsets[1], &length, sizeof length);
        std::memcpy(message + offsets[1] + 2, name.data(), name.size());
        const int64_t cents = static_cast<int64_t>(i) * 7 + 25;
        std::memcpy(message + offsets[2], &cents, sizeof cents);
        const ISC_DATE day = util->encodeDate(2024, 1 + static_cast<unsigned>(i % 12),
                                              1 + static_cast<unsigned>(i % 28));
        std::memcpy(message + offsets[3], &day, sizeof day);
        statement->execute(&status, transaction, metadata, message, nullptr, nullptr);
    }
    transaction->commit(&status);
    const double seconds = secondsSince(start);
    metadata->release();
    statement->free(&status);
    attachment->detach(&status);
    provider->release();
    status.dispose();
    return seconds;
}

double ourRows(const fs::path& folder, int rows) {
    auto connection = freshDatabase(folder / "rows.fdb", kRowTable);
    Table table(*connection, "Table");
    table.setTableName("P");
    const auto start = Clock::now();
    connection->startTransaction();
    table.open();
    for (int i = 0; i < rows; ++i) {
        table.insert();
        table.setValue(0, int64_t{i});
        table.setValue(1, "Nome " + std::to_string(i));
        table.setValue(2, (static_cast<double>(i) * 7 + 25) / 100.0);
        table.setValue(3, Date{2024, 1 + i % 12, 1 + i % 28});
        table.post();
    }
    connection->commit();
    return secondsSince(start);
}

}  // namespace

int main(int argc, char** argv) {
    int statements = 10000;
    int rows = 200000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--statements")
            statements = std::atoi(argv[i + 1]);
        else if (option == "--rows")
            rows = std::atoi(argv[i + 1]);
    }
    try {
        Folder folder;
        const double isql = isqlStatements(folder.path(), statements);
        const double ours = ourStatements(folder.path(), statements);
        std::printf("%d statements, one transaction each:\n", statements);
        std::printf("  isql-fb -i          %8.3f s\n", isql);
        std::printf("  database layer      %8.3f s\n", ours);
        std::printf("  ours / isql         %8.3f   (target <= 1.0)\n\n", ours / isql);

        const double plain = plainApiRows(folder.path(), rows);
        const double table = ourRows(folder.path(), rows);
        std::printf("%d rows inserted by position, one transaction:\n", rows);
        std::printf("  plain client API    %8.3f s  %9.0f rows/s\n", plain, rows / plain);
        std::printf("  Table insert/post   %8.3f s  %9.0f rows/s\n", table, rows / table);
        std::printf("  ours / plain rate   %8.3f   (target >= 0.8)\n", plain / table);
    } catch (const DatabaseError& e) {
        std::fprintf(stderr, "db_bench: %s\n", e.what());
        return 1;
    } catch (const Firebird::FbException& e) {
        char text[1024];
        Firebird::fb_get_master_interface()->getUtilInterface()->formatStatus(text, sizeof text,
                                                                              e.getStatus());
        std::fprintf(stderr, "db_bench: %s\n", text);
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "db_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
