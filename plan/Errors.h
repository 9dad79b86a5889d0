#pragma once
// Exceptions of the plan store. Each carries the exact message text the user sees.

#include <cstddef>
#include <stdexcept>
#include <string>

namespace tarvolen {

// Table-level error of the plan store (the client-side table), never of the database: the
// database's own errors are database::DatabaseError (db/DatabaseError.h), which shares no base
// with this one but std::runtime_error. The message already carries the table's name as prefix
// ("cdsQuery: ...").
class EDatabaseError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Error of the client-side table's store, with its error number.
class EDBClient : public std::runtime_error {
  public:
    EDBClient(int errorCode, const std::string& message)
        : std::runtime_error(message), m_errorCode(errorCode) {}
    int errorCode() const { return m_errorCode; }

  private:
    int m_errorCode;
};

// "Cannot open file \"<full path>\". <system text>"
class EFOpenError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// "Cannot create file \"<full path>\". <system text>"
class EFCreateError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// An import's data file that decodes, but not as it is written: its text is not in the encoding
// it declares, or holds a character Windows-1252 lacks, or a value would load other than as the
// file spells it. `record` names the row version at fault (1-based), 0 when none is.
class EDataFileRefused : public std::runtime_error {
  public:
    explicit EDataFileRefused(const std::string& message, size_t record = 0)
        : std::runtime_error(message), m_record(record) {}
    size_t record() const { return m_record; }

  private:
    size_t m_record;
};

// The decoding and store errors, with their numbers and exact texts.
namespace dberr {
inline EDBClient mismatch() {
    return EDBClient(16389, "Mismatch in datapacket.");
}
inline EDBClient noMetaData() {
    return EDBClient(16387, "Datapacket contains no meta data.");
}
inline EDBClient invalidFieldType() {
    return EDBClient(10000, "Invalid field type.");
}
inline EDBClient invalidParameter() {
    return EDBClient(9986, "Invalid parameter.");
}
inline EDBClient notSupportedForXml() {
    return EDBClient(16400, "Fieldtype not supported for XML.");
}
inline EDBClient nullFieldName() {
    return EDBClient(10038, "Field name can't be null, datapacket may be corrupted");
}
inline EDBClient fieldValueRequired() {
    return EDBClient(9729, "Field value required.");
}
}  // namespace dberr

}  // namespace tarvolen
