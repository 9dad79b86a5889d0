#pragma once
// A table held wholly in memory: typed field objects bound by name, a sort order, every row
// version and a change log. It reads itself from a data-packet file and writes itself back to
// its FileName when it closes after a change.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "plan/DataPacket.h"
#include "plan/Field.h"

namespace tarvolen {

class TClientDataSet;

// Reads and writes a table's own file (its FileName) in place of the table's plain read and
// write: for a file that other programs change too, whose writes must start from what it holds.
class TableFileKeeper {
  public:
    virtual ~TableFileKeeper() = default;
    // The bytes of the table's own file, for a load of it. Throws EFOpenError.
    virtual std::string ReadOwnFile(const std::string& path) = 0;
    // Called once a load of the own file has opened the table on its first row. Changes it
    // makes to the table count as part of the load, not as changes.
    virtual void OwnFileLoaded(TClientDataSet& table) = 0;
    // Writes the table to its own file, in `xml` form or binary. Afterwards the file holds what
    // the table holds (the keeper may have changed the table to get there) and the table counts
    // as unchanged.
    virtual void WriteOwnFile(TClientDataSet& table, bool xml) = 0;
};

class TClientDataSet {
  public:
    enum class State { Inactive, Browse, Edit, Insert };
    enum class Format { Binary, Xml };

    // `name` prefixes table-level errors ("cdsQuery: ...").
    explicit TClientDataSet(std::string name);
    TClientDataSet(const TClientDataSet&) = delete;
    TClientDataSet& operator=(const TClientDataSet&) = delete;
    // Closes with write-back; a failed write-back cannot be reported from here, so owners that
    // must report it call Close() themselves first.
    ~TClientDataSet();

    const std::string& Name() const { return m_name; }
    const std::string& FileName() const { return m_fileName; }
    void SetFileName(std::string fileName) { m_fileName = std::move(fileName); }
    // Whether each write of the table keeps the file it replaces as "<file>.bak" (off by
    // default; the plan table keeps one).
    void SetKeepBackup(bool keep) { m_keepBackup = keep; }
    // Every read and write of the table's own file goes through `keeper` from now on; the table
    // owns it.
    void SetFileKeeper(std::unique_ptr<TableFileKeeper> keeper) { m_keeper = std::move(keeper); }
    TableFileKeeper* FileKeeper() const { return m_keeper.get(); }
    // Semicolon-separated field names the rows are seen in, ascending.
    void SetIndexFieldNames(std::string names);

    // Declares a persistent field object. Without any, Open makes one per field of the file.
    TField& AddField(std::string name, FieldKind kind, int size = 0, bool required = false);

    // Reads FileName and opens on the first row.
    void Open();
    // Drops a pending edit, writes the table back to FileName when changed or when that file is
    // missing, then releases the contents. When the write-back fails the table stays open with
    // its changes and the EFCreateError is raised.
    void Close();
    // Closes (with write-back), reads the named file (FileName when empty), opens on the first row.
    void LoadFile(const std::string& fileName);
    // Turns a file's bytes into a packet, or throws as the decoders do.
    using PacketDecoder = std::function<DataPacket(std::string_view bytes)>;
    // The same, the bytes decoded by `decode` instead of by the plan's rules (decodePacket).
    void LoadFile(const std::string& fileName, const PacketDecoder& decode);
    // Writes the whole table; XML when asked for or when the name ends in ".xml". A write of
    // the own file through a keeper leaves the table unchanged (change count 0), since the
    // file then holds it; a plain write does not change the change count.
    void SaveFile(const std::string& fileName = {}, Format format = Format::Binary);
    // Writes the table to `path` as it is, as SaveFile writes a file other than its own: never
    // through the keeper, whatever the name.
    void WriteCopy(const std::string& path, Format format = Format::Binary) const;
    // Opens the table on a packet already decoded, as a load of a file holding it would:
    // binding, order, first row, change count 0. Whatever the table held goes.
    void AdoptPacket(DataPacket packet);
    // Closes the table without a write-back, handing over what it held.
    DataPacket TakePacket();
    // Removes every row and the whole history; the table counts as changed.
    void EmptyTable();
    // EmptyTable was called since the table was last loaded or adopted a packet.
    bool EmptiedSinceLoad() const { return m_emptied; }

    bool Active() const { return m_state != State::Inactive; }
    State GetState() const { return m_state; }
    int ChangeCount() const { return m_changeCount; }

    // Navigation over the visible rows in index order.
    void First();
    void Last();
    void Next();
    void Prior();
    void MoveTo(int recordIndex);
    bool Eof() const { return m_eof; }
    bool Bof() const { return m_bof; }
    int RecordCount() const { return static_cast<int>(viewSize()); }
    // 0-based position of the current row in index order; -1 when there is none.
    int RecordIndex() const;

    TField& FieldByName(std::string_view name);
    TField* FindField(std::string_view name);
    const std::vector<std::unique_ptr<TField>>& Fields() const { return m_fields; }

    void Edit();
    void Insert();
    // Stores the pending row. Fails with "Field value required." (the row stays in editing)
    // when a required field is empty.
    void Post();
    void Cancel();
    void Delete();

    // The value of a layout field in the current row (the pending one while editing). The
    // reference holds until the table moves to another row or changes.
    const FieldValue& CurrentValue(size_t layoutIndex) const;
    // The stored value of a layout field in the visible row at `recordIndex` (0-based, index
    // order), whatever the current row and state; a pending edit is not seen here. Null when
    // there is no such row. A copy: rows are stored packed and decoded on access.
    FieldValue RowValue(int recordIndex, size_t layoutIndex) const;
    // Every layout value of the visible row at `recordIndex`, stored (a pending edit is not
    // seen). REQUIRES: 0 <= recordIndex < RecordCount().
    void RowValues(int recordIndex, std::vector<FieldValue>& values) const;
    // Sets a layout field of the row being edited or inserted to `value` exactly, without the
    // conversions and cuts of the field objects (a value copied from another table of the same
    // layout). Throws when no row is being edited or inserted.
    void SetPendingValue(size_t layoutIndex, FieldValue value);
    // Whether a field of the row being edited or inserted was set since Edit or Insert.
    bool Modified() const { return m_pendingChanged; }
    // The layout, attributes, versions and change log, as the file will hold them.
    const DataPacket& Packet() const { return m_packet; }

  private:
    friend class TField;
    void openFrom(std::string bytes, const PacketDecoder& decode, bool ownFile);
    void openOn(DataPacket packet);
    bool isOwnFile(const std::string& fileName) const;
    // The own file's bytes, through the keeper when there is one.
    std::string readOwn(const std::string& path);
    // Writes the table to its own file, through the keeper when there is one.
    void writeOwn(Format format);
    void bindFields();
    void requireActive() const;
    void requireEditing() const;
    [[noreturn]] void throwTableError(const std::string& message) const;
    void setPending(size_t layoutIndex, FieldValue value);
    void postOrCancelPending();
    bool rowLess(size_t a, size_t b) const;
    size_t viewSize() const { return m_identityView ? m_packet.rows.size() : m_view.size(); }
    size_t viewRow(size_t position) const { return m_identityView ? position : m_view[position]; }
    void materializeView();
    // Where a row holding `values` goes in the view.
    size_t viewInsertPosition(const std::vector<FieldValue>& values) const;
    void rebuildView();
    void forgetCurrentRow() const { m_currentRow = SIZE_MAX; }
    void writeTo(const std::string& path, Format format) const;
    void release();

    std::string m_name;
    std::string m_fileName;
    bool m_keepBackup = false;
    std::unique_ptr<TableFileKeeper> m_keeper;
    std::string m_indexFieldNames;
    std::vector<int> m_indexFields;  // layout indexes of the index fields
    std::vector<std::unique_ptr<TField>> m_fields;
    bool m_dynamicFields = false;

    DataPacket m_packet;
    State m_state = State::Inactive;
    int m_changeCount = 0;
    bool m_emptied = false;
    // Storage indexes of the visible versions, in index order. Without an index order and with
    // every version visible, the view is the storage order itself and costs nothing.
    bool m_identityView = true;
    std::vector<uint32_t> m_view;
    size_t m_position = 0;
    bool m_eof = true;
    bool m_bof = true;
    std::vector<FieldValue> m_pending;  // the row being edited or inserted
    // The current row decoded, for CurrentValue; m_currentRow is its storage index.
    mutable std::vector<FieldValue> m_current;
    mutable size_t m_currentRow = SIZE_MAX;
    bool m_pendingChanged = false;
};

}  // namespace tarvolen
