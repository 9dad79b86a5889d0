// Import phases: TdmMain::ImportTable copies a data file's rows into a table by position.

#include "db/DatabaseError.h"
#include "engine/ImportFile.h"
#include "engine/ImportValue.h"
#include "engine/dm_main.h"
#include "plan/Errors.h"

namespace tarvolen {
namespace {

constexpr size_t kRowsPerPump = 500;

}  // namespace

void TdmMain::ImportTable() {
    ImportFailed = false;
    const std::string tableName = cdsQuery.FieldByName("NOME_TABELLA").AsString();
    const std::string fileName = cdsQuery.FieldByName("NOME_FILE").AsString();
    const bool emptyFirst = cdsQuery.FieldByName("SVUOTA_TABELLA").AsString() == "S";
    try {
        // The data file is loaded and checked before anything in the database changes.
        Table.close();
        cds.Close();
        LoadImportFile(cds, fileName);
        Table.setTableName(tableName);
        Table.open();
        const auto& fields = cds.Packet().fields;
        const int columns = Table.columnCount();

        // The delete and every row go in one transaction: the table ends up with all of the
        // file or exactly as it was.
        dbsagg.startTransaction();
        if (emptyFirst) {
            Query.close();
            Query.setSql("delete from " + tableName);
            Query.execSql();
        }
        m_progress.unit = RunProgress::Unit::Rows;
        m_progress.done = 0;
        m_progress.total = static_cast<size_t>(cds.RecordCount());
        for (cds.First(); !cds.Eof(); cds.Next()) {
            // A long import keeps the window responsive and its progress visible.
            if (m_progress.done % kRowsPerPump == 0) Pump();
            ++m_progress.done;
            Table.insert();
            for (int i = 0; i < columns; ++i) {
                const auto position = static_cast<size_t>(i);
                if (position >= fields.size()) {
                    throw database::DatabaseError("The data file has no field for column " +
                                                  Table.column(i).name + " (position " +
                                                  std::to_string(i + 1) + ")");
                }
                Table.setValue(i, importValue(fields[position], cds.CurrentValue(position)));
            }
            Table.post();
        }
        dbsagg.commit();
    } catch (const std::runtime_error& e) {
        // Every failure of the import (the file, its decoding, the table, a row) is reported
        // the same way and undone as a whole.
        if (Table.isOpen()) Table.cancel();
        RollbackQuietly();
        ImportFailed = true;
        BatchHasErrors = true;
        LogError(e.what(), "IMPORT TABELLA " + tableName + " DAL FILE " + fileName);
    } catch (...) {
        // Not an import failure (out of memory, a broken invariant): it goes on to the
        // caller, but the transaction with the rows posted so far must not stay open.
        if (Table.isOpen()) Table.cancel();
        RollbackQuietly();
        throw;
    }
}

}  // namespace tarvolen
