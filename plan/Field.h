#pragma once
// A field object of the client-side table: the typed view, by name, of one field of the table's
// current row. The table (ClientDataSet.h) makes and binds its field objects.

#include <cstdint>
#include <string>
#include <string_view>

#include "plan/DataPacket.h"

namespace tarvolen {

class TClientDataSet;

// What a field object expects of the field it binds to.
enum class FieldKind {
    Integer,  // accepts i2, i4, ui2, ui4
    String,   // accepts string (also FixedChar, Guid)
    Memo,     // accepts bin.hex with any subtype
    Any,      // made from the file's layout, for tables without fixed fields
};

// A field object: the typed view of one field of the current row.
class TField {
  public:
    TField(TClientDataSet& table, std::string name, FieldKind kind, int size, bool required);

    const std::string& FieldName() const { return m_name; }
    FieldKind Kind() const { return m_kind; }
    // Characters kept when a string is set; 0 for no limit.
    int Size() const { return m_size; }
    // Position of the bound field in the file's layout; -1 while the table is closed.
    int LayoutIndex() const { return m_layoutIndex; }

    bool IsNull() const;
    // Null reads as empty text; integers as decimal text, memos as their text.
    std::string AsString() const;
    // Null reads as 0. REQUIRES: an integer field, or text that reads as an integer.
    int64_t AsInteger() const;
    const FieldValue& AsVariant() const;

    // Setting starts no edit by itself: the table must be in Edit or Insert state. A value is
    // kept as the field keeps values read from a file (texts cut to Size() and the file's
    // width, decimals in their one form, bytes padded), and one no file could hold (another
    // kind than the field's type, an integer out of range, a date the XML form cannot say, ...)
    // is refused with "Invalid value for field '<name>'".
    void SetAsString(std::string_view text);
    void SetAsInteger(int64_t value);
    void SetValue(FieldValue value);
    void Clear();

  private:
    friend class TClientDataSet;
    void requireBound() const;
    void requireIntegerInRange(FieldType type, int64_t value, std::string_view text) const;

    TClientDataSet& m_table;
    std::string m_name;
    FieldKind m_kind;
    int m_declaredSize;
    int m_size;
    bool m_required;
    int m_layoutIndex = -1;
};

}  // namespace tarvolen
