#pragma once
// The error types of the database layer. Server failures carry the server's own text,
// unchanged; the layer's own failures (aliases, conversions, misuse) carry a message that names
// the alias, connection, dataset or column concerned.

#include <stdexcept>
#include <string>

namespace tarvolen::database {

// Every failure of the database layer. Not the plan store's table error (EDatabaseError in
// plan/Errors.h), which shares no base with this one but std::runtime_error.
class DatabaseError : public std::runtime_error {
  public:
    explicit DatabaseError(const std::string& message, long serverCode = 0)
        : std::runtime_error(message), m_serverCode(serverCode) {}

    // The server's first error code (335544345 for a lock conflict, ...); 0 for errors the
    // layer raises itself.
    long serverCode() const { return m_serverCode; }

  private:
    long m_serverCode;
};

// The connection is gone: the network failed, the server or the database was shut down, or the
// attachment was shut down under the program. Nothing more can run on the connection, so this
// is no failure of the statement that met it.
class ConnectionLost : public DatabaseError {
  public:
    using DatabaseError::DatabaseError;
};

// The database client library is not on this machine (or is no client library): the message
// names the library and what to install.
class ClientLibraryMissing : public DatabaseError {
  public:
    using DatabaseError::DatabaseError;
};

// The database file is open in another program that opened it without a server, and an engine
// that is not that program's cannot open it meanwhile.
class DatabaseInUse : public DatabaseError {
  public:
    using DatabaseError::DatabaseError;
};

}  // namespace tarvolen::database
