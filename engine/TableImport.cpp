// Import phases: TdmMain::ImportTable copies a data file's rows into a table by position.

#include <algorithm>
#include <cmath>

#include "base/Calendar.h"
#include "base/Cp1252.h"
#include "db/DatabaseError.h"
#include "engine/dm_main.h"
#include "plan/Errors.h"
#include "plan/FieldTypes.h"
#include "plan/ValueText.h"

namespace tarvolen {
namespace {

constexpr int64_t kMsPerDay = 86400000;
constexpr size_t kRowsPerPump = 500;

database::Date dateOf(int64_t dayNumber) {
    database::Date d;
    dateFromDayNumber(dayNumber, d.year, d.month, d.day);
    return d;
}

database::Time timeOf(int64_t ms) {
    database::Time t;
    t.hour = static_cast<int>(ms / 3600000);
    t.minute = static_cast<int>(ms / 60000 % 60);
    t.second = static_cast<int>(ms / 1000 % 60);
    t.fraction = static_cast<int>(ms % 1000) * 10;
    return t;
}

// A data file's value as the database layer takes it; the layer converts it to the column's
// type, or refuses it.
database::Value toDatabaseValue(const FieldDef& field, const FieldValue& value) {
    if (isNull(value)) return std::monostate{};
    switch (field.type) {
        case FieldType::Date:
            return dateOf(std::get<int64_t>(value));
        case FieldType::Time:
            return timeOf(std::get<int64_t>(value));
        case FieldType::DateTime: {
            // Milliseconds held as a double: rounded, as the plan shows them, and checked
            // before the cast, since NaN or a huge value from a damaged file has no int64.
            const double stored = std::round(std::get<double>(value));
            if (!(stored >= -9.2233720368547758e18 && stored < 9.2233720368547758e18)) {
                throw database::DatabaseError("The data file's field " + field.name + " holds " +
                                              database::valueText(stored) +
                                              ", not a date and time");
            }
            const auto total = static_cast<int64_t>(stored);
            int64_t days = total / kMsPerDay;
            int64_t ms = total % kMsPerDay;
            if (ms < 0) {
                ms += kMsPerDay;
                --days;
            }
            return database::Timestamp{dateOf(days), timeOf(ms)};
        }
        case FieldType::SqlTimeStamp: {
            const auto& ts = std::get<SqlTimeStamp>(value);
            return database::Timestamp{
                {ts.year, ts.month, ts.day},
                // Past 999 ms the time is refused anyway; capped so the product cannot overflow.
                {ts.hour, ts.minute, ts.second,
                 static_cast<int>(std::min<uint32_t>(ts.millisecond, 1000) * 10)}};
        }
        case FieldType::WideString:
            return valueToText(field, value);  // to Windows-1252
        case FieldType::Blob:
            return *std::get<BlobData>(value);
        default:
            break;
    }
    return std::visit(
        [](const auto& v) -> database::Value {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, int64_t> || std::is_same_v<T, double> ||
                          std::is_same_v<T, bool> || std::is_same_v<T, std::string>) {
                return v;  // integers, floats, booleans, strings, bytes, decimal text
            } else {
                return std::monostate{};
            }
        },
        value);
}

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
        if (fileName.empty()) throw EFOpenError("Cannot open file \"\". No file name given");
        cds.LoadFile(fileName);
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
                Table.setValue(i, toDatabaseValue(fields[position], cds.CurrentValue(position)));
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
