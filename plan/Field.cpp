#include "plan/Field.h"

#include "plan/ClientDataSet.h"
#include "plan/Errors.h"
#include "plan/FieldTypes.h"
#include "plan/ValueRules.h"
#include "plan/ValueText.h"

namespace tarvolen {
namespace {

const FieldValue kNull{};

// Text set through a field object must be integer text as a whole, without blanks.
bool isWholeInteger(std::string_view text, int64_t& out) {
    return !text.empty() && readIntegerPrefix(text, out) == text.size();
}

}  // namespace

TField::TField(TClientDataSet& table, std::string name, FieldKind kind, int size, bool required)
    : m_table(table),
      m_name(std::move(name)),
      m_kind(kind),
      m_declaredSize(size),
      m_size(size),
      m_required(required) {}

bool TField::IsNull() const {
    return isNull(AsVariant());
}

const FieldValue& TField::AsVariant() const {
    if (m_layoutIndex < 0) return kNull;
    return m_table.CurrentValue(static_cast<size_t>(m_layoutIndex));
}

void TField::requireBound() const {
    // A field object added after Open has no field of the layout behind it.
    if (m_layoutIndex < 0) m_table.throwTableError("Field '" + m_name + "' not found");
}

void TField::requireIntegerInRange(FieldType type, int64_t value, std::string_view text) const {
    // Refused now: the file could not hold it, and the table could then never be closed.
    if (!fitsIntegerType(type, value)) {
        throw EDatabaseError("'" + std::string(text) + "' is not a valid value for field '" +
                             m_name + "'");
    }
}

std::string TField::AsString() const {
    const FieldValue& v = AsVariant();
    if (isNull(v)) return {};
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    if (const auto* b = std::get_if<BlobData>(&v)) return **b;
    return valueToText(m_table.Packet().fields[static_cast<size_t>(m_layoutIndex)], v);
}

int64_t TField::AsInteger() const {
    const FieldValue& v = AsVariant();
    if (const auto* i = std::get_if<int64_t>(&v)) return *i;
    if (isNull(v)) return 0;
    const std::string text = AsString();
    int64_t out = 0;
    if (!isWholeInteger(text, out)) {
        throw EDatabaseError("'" + text + "' is not a valid integer value");
    }
    return out;
}

void TField::SetAsString(std::string_view text) {
    m_table.requireEditing();
    requireBound();
    const FieldDef& def = m_table.Packet().fields[static_cast<size_t>(m_layoutIndex)];
    switch (def.type) {
        case FieldType::String: {
            std::string value(text);
            if (m_size > 0 && value.size() > static_cast<size_t>(m_size))
                value.resize(static_cast<size_t>(m_size));
            SetValue(std::move(value));
            return;
        }
        case FieldType::Blob:
            SetValue(makeBlob(std::string(text)));
            return;
        case FieldType::Int16:
        case FieldType::Int32:
        case FieldType::Int64:
        case FieldType::UInt16:
        case FieldType::UInt32: {
            if (text.empty()) {
                Clear();
                return;
            }
            int64_t v = 0;
            if (!isWholeInteger(text, v)) {
                throw EDatabaseError("'" + std::string(text) + "' is not a valid integer value");
            }
            requireIntegerInRange(def.type, v, text);
            SetValue(v);
            return;
        }
        default: {
            FieldValue v = valueFromText(def, text);
            if (isNull(v) && !text.empty()) {
                throw EDatabaseError("'" + std::string(text) +
                                     "' is not a valid value for field '" + m_name + "'");
            }
            SetValue(std::move(v));
        }
    }
}

void TField::SetAsInteger(int64_t value) {
    m_table.requireEditing();
    requireBound();
    const FieldDef& def = m_table.Packet().fields[static_cast<size_t>(m_layoutIndex)];
    if (def.type == FieldType::String || def.type == FieldType::Blob) {
        SetAsString(std::to_string(value));
    } else {
        requireIntegerInRange(def.type, value, std::to_string(value));
        SetValue(value);
    }
}

void TField::SetValue(FieldValue value) {
    m_table.requireEditing();
    if (m_layoutIndex < 0) return;  // nothing of the layout to set
    const FieldDef& def = m_table.Packet().fields[static_cast<size_t>(m_layoutIndex)];
    // The writers rely on a blob never being a null pointer.
    if (const auto* blob = std::get_if<BlobData>(&value); blob != nullptr && *blob == nullptr) {
        value = FieldValue{};
    }
    // Kept as the field keeps values read from a file, and refused here when no file could
    // hold it, rather than when the table is written.
    value = fieldFormOf(def, std::move(value), m_size > 0 ? static_cast<size_t>(m_size) : 0);
    if (!fitsField(def, storedTypeWord(def), value)) {
        throw EDatabaseError("Invalid value for field '" + m_name + "'");
    }
    m_table.setPending(static_cast<size_t>(m_layoutIndex), std::move(value));
}

void TField::Clear() {
    SetValue(FieldValue{});
}

}  // namespace tarvolen
