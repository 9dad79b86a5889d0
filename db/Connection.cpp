#include <firebird/Interface.h>

#include "ClientLibrary.h"
#include "ConnectionImpl.h"
#include "MessageCodec.h"
#include "SqlText.h"
#include "Statement.h"
#include "Xpb.h"
#include "base/Text.h"

#include <algorithm>
#include <cctype>

namespace tarvolen::database {

using namespace Firebird;

namespace {

using fb::Xpb;

std::vector<unsigned char> writeTpb(int lockTimeout) {
    Xpb tpb(IXpbBuilder::TPB);
    tpb.tag(isc_tpb_write).tag(isc_tpb_read_committed).tag(isc_tpb_rec_version);
    if (lockTimeout == 0)
        tpb.tag(isc_tpb_nowait);
    else
        tpb.tag(isc_tpb_wait).integer(isc_tpb_lock_timeout, lockTimeout);
    return tpb.bytes();
}

std::vector<unsigned char> readTpb() {
    Xpb tpb(IXpbBuilder::TPB);
    tpb.tag(isc_tpb_read).tag(isc_tpb_read_committed).tag(isc_tpb_rec_version);
    return tpb.bytes();
}

std::vector<unsigned char> attachDpb(const AliasSettings& settings, const LoginParams& params,
                                     bool creating) {
    Xpb dpb(IXpbBuilder::DPB);
    if (const auto user = params.value("USER NAME"); !user.empty())
        dpb.text(isc_dpb_user_name, user);
    if (const auto password = params.value("PASSWORD"); !password.empty())
        dpb.text(isc_dpb_password, password);
    dpb.text(isc_dpb_lc_ctype, settings.charset);
    if (!settings.role.empty()) dpb.text(isc_dpb_sql_role_name, settings.role);
    dpb.integer(isc_dpb_sql_dialect, SQL_DIALECT_V6);
    // A local file is opened by the engine inside this process, never through a server.
    dpb.text(isc_dpb_config, settings.isRemote() ? "Providers=Remote" : "Providers=Engine12");
    if (creating) dpb.text(isc_dpb_set_db_charset, settings.charset);
    return dpb.bytes();
}

std::string textOf(const Value& v) {
    const auto* s = std::get_if<std::string>(&v);
    return s != nullptr ? std::string(trimmedRight(*s)) : std::string{};
}

}  // namespace

// --- LoginParams ----------------------------------------------------------------------------

std::string LoginParams::value(std::string_view name) const {
    for (const auto& [key, value] : m_lines)
        if (equalsNoCase(key, name)) return value;
    return {};
}

void LoginParams::setValue(std::string_view name, std::string_view value) {
    const auto it = std::find_if(m_lines.begin(), m_lines.end(),
                                 [&](const auto& line) { return equalsNoCase(line.first, name); });
    if (value.empty()) {
        if (it != m_lines.end()) m_lines.erase(it);
    } else if (it != m_lines.end()) {
        it->second = std::string(value);
    } else {
        m_lines.emplace_back(std::string(name), std::string(value));
    }
}

// --- Connection::Impl -----------------------------------------------------------------------

IAttachment* Connection::Impl::attached(const std::string& connectionName) const {
    if (attachment == nullptr) throw DatabaseError(connectionName + ": not connected");
    return attachment;
}

ITransaction* Connection::Impl::reader() {
    if (readTransaction == nullptr) {
        static const std::vector<unsigned char> tpb = readTpb();
        fb::Status status;
        readTransaction =
            attachment->startTransaction(&status, static_cast<unsigned>(tpb.size()), tpb.data());
    }
    return readTransaction;
}

std::vector<std::vector<Value>> Connection::Impl::catalogue(const std::string& connection,
                                                            const char* sql,
                                                            const std::vector<std::string>& args) {
    IAttachment* attachment = attached(connection);
    ITransaction* transaction = reader();
    fb::Status status;
    fb::PreparedStatement prepared(attachment, transaction, sql);
    std::vector<std::vector<Value>> rows;
    for (size_t i = 0; i < prepared.inputs.size(); ++i)
        fb::encode(prepared.inputs[i], args.at(i), prepared.inBuffer.data(), connection);
    fb::Ref<IResultSet> cursor(prepared.statement->openCursor(
        &status, transaction, prepared.in.get(), prepared.inBuffer.data(), prepared.out.get(), 0));
    while (cursor->fetchNext(&status, prepared.outBuffer.data()) == IStatus::RESULT_OK) {
        auto& row = rows.emplace_back();
        for (const auto& column : prepared.outputs)
            row.push_back(fb::decode(column, prepared.outBuffer.data(), attachment, transaction));
    }
    cursor->close(&status);
    (void)cursor.release();  // close() has let the handle go
    return rows;
}

std::string Connection::Impl::resolveTable(const std::string& connectionName,
                                           std::string_view tableName) {
    std::string upper(tableName);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const auto rows = catalogue(connectionName,
                                "select rdb$relation_name from rdb$relations "
                                "where rdb$relation_name in (?, ?)",
                                {std::string(tableName), upper});
    for (const auto& row : rows)
        if (textOf(row[0]) == tableName) return std::string(tableName);
    if (!rows.empty()) return upper;
    throw DatabaseError(connectionName + ": table \"" + std::string(tableName) + "\" not found");
}

ITransaction* Connection::Impl::startWrite() {
    fb::Status status;
    return attachment->startTransaction(&status, static_cast<unsigned>(writeTpb.size()),
                                        writeTpb.data());
}

// --- Connection -----------------------------------------------------------------------------

Connection::Connection(std::string connectionName)
    : m_name(std::move(connectionName)), m_impl(std::make_unique<Impl>()) {}

Connection::~Connection() {
    close();
    for (Dataset* dataset : m_impl->datasets) dataset->m_connection = nullptr;
}

void Connection::setAliasName(std::string alias) {
    if (connected())
        throw DatabaseError(m_name + ": cannot change the alias of an open connection");
    m_alias = std::move(alias);
}

bool Connection::connected() const {
    return m_impl->attachment != nullptr;
}

namespace {

AliasSettings resolveAlias(const std::string& alias,
                           const std::shared_ptr<const AliasConfig>& config) {
    if (config) return config->find(alias);
    AliasConfig found;
    try {
        found = AliasConfig::loadDefault();
    } catch (const DatabaseError& e) {
        throw DatabaseError("Alias \"" + alias + "\": " + e.what());
    }
    return found.find(alias);
}

// What an operator can do about a database another program holds without a server: the text
// the server gives says only that the engines are incompatible.
std::string inUseExplanation(const AliasSettings& settings) {
    std::string text = "Database \"" + settings.database + "\" of alias \"" + settings.name +
                       "\" is open in another program that opened it without a server";
    if (settings.isRemote()) return text + ": close that program and try again.";
    return text +
           " (the tarvolen window, or another run): close that program and try again, or have "
           "every program reach the database through the server, with an alias whose "
           "Database is localhost:" +
           settings.database + ".";
}

}  // namespace

AliasSettings Connection::aliasSettings() const {
    return resolveAlias(m_alias, m_config);
}

void Connection::open() {
    if (connected()) return;
    attach(false);
}

void Connection::createDatabase() {
    if (connected()) throw DatabaseError(m_name + ": already connected");
    attach(true);
}

void Connection::attach(bool create) {
    const AliasSettings settings = resolveAlias(m_alias, m_config);
    if (m_onLogin) m_onLogin(*this, m_params);
    try {
        fb::guard([&] {
            auto tpb = writeTpb(settings.lockTimeout);
            const auto dpb = attachDpb(settings, m_params, create);
            const char* path = settings.database.c_str();
            const auto length = static_cast<unsigned>(dpb.size());
            fb::Status status;
            m_impl->attachment =
                create ? fb::provider()->createDatabase(&status, path, length, dpb.data())
                       : fb::provider()->attachDatabase(&status, path, length, dpb.data());
            m_impl->writeTpb = std::move(tpb);
        });
    } catch (const DatabaseInUse& e) {
        throw DatabaseInUse(inUseExplanation(settings) + "\n" + e.what(), e.serverCode());
    }
    m_characterSet = settings.charset;
}

void Connection::close() {
    for (Dataset* dataset : m_impl->datasets) dataset->close();
    if (m_impl->attachment == nullptr) return;
    fb::endQuietly(m_impl->explicitTransaction, false);
    fb::endQuietly(m_impl->readTransaction, true);
    fb::QuietStatus status;
    m_impl->attachment->detach(&status);
    // A connection the server has already lost only needs its handle released.
    if (status.failed()) m_impl->attachment->release();
    m_impl->attachment = nullptr;
    m_characterSet.clear();
}

void Connection::dropDatabase() {
    m_impl->attached(m_name);
    for (Dataset* dataset : m_impl->datasets) dataset->close();
    fb::endQuietly(m_impl->explicitTransaction, false);
    fb::endQuietly(m_impl->readTransaction, true);
    fb::guard([&] {
        fb::Status status;
        m_impl->attachment->dropDatabase(&status);
    });
    m_impl->attachment = nullptr;
    m_characterSet.clear();
}

std::vector<std::string> Connection::tableNames() {
    return fb::guard([&] {
        std::vector<std::string> names;
        for (const auto& row :
             m_impl->catalogue(m_name,
                               "select rdb$relation_name from rdb$relations "
                               "where coalesce(rdb$system_flag, 0) = 0 "
                               "and rdb$view_blr is null order by rdb$relation_name",
                               {}))
            names.push_back(textOf(row[0]));
        return names;
    });
}

std::vector<std::string> Connection::indexNames(std::string_view tableName) {
    return fb::guard([&] {
        const std::string table = m_impl->resolveTable(m_name, tableName);
        std::vector<std::string> names;
        for (const auto& row : m_impl->catalogue(m_name,
                                                 "select rdb$index_name from rdb$indices "
                                                 "where rdb$relation_name = ? "
                                                 "order by rdb$index_id, rdb$index_name",
                                                 {table}))
            names.push_back(textOf(row[0]));
        return names;
    });
}

std::vector<ColumnInfo> Connection::columns(std::string_view tableName) {
    return fb::guard([&] {
        const std::string table = m_impl->resolveTable(m_name, tableName);
        const auto rows = m_impl->catalogue(
            m_name,
            "select rf.rdb$field_name, "
            "coalesce(rf.rdb$null_flag, f.rdb$null_flag, 0) = 0, "
            "rf.rdb$default_value is not null or f.rdb$default_value is not null, "
            "f.rdb$computed_blr is not null "
            "from rdb$relation_fields rf "
            "join rdb$fields f on f.rdb$field_name = rf.rdb$field_source "
            "where rf.rdb$relation_name = ? order by rf.rdb$field_position",
            {table});

        // Type names come from the server's own description of the columns.
        const std::string select = "select * from " + fb::quoteName(table);
        // A temporary: the statement is freed as soon as its columns are taken.
        const std::vector<fb::Column> described =
            fb::PreparedStatement(m_impl->attachment, m_impl->reader(), select).outputs;

        std::vector<ColumnInfo> result;
        for (size_t i = 0; i < rows.size(); ++i) {
            ColumnInfo info;
            info.name = textOf(rows[i][0]);
            info.nullable = std::get<bool>(rows[i][1]);
            info.hasDefault = std::get<bool>(rows[i][2]);
            info.computed = std::get<bool>(rows[i][3]);
            if (i < described.size()) info.typeName = fb::typeName(described[i]);
            result.push_back(std::move(info));
        }
        return result;
    });
}

bool Connection::inTransaction() const {
    return m_impl->explicitTransaction != nullptr;
}

void Connection::startTransaction() {
    m_impl->attached(m_name);
    if (inTransaction()) throw DatabaseError(m_name + ": a transaction is already active");
    fb::guard([&] { m_impl->explicitTransaction = m_impl->startWrite(); });
}

void Connection::commit() {
    endTransaction(true);
}

void Connection::rollback() {
    endTransaction(false);
}

void Connection::endTransaction(bool commit) {
    m_impl->attached(m_name);
    if (!inTransaction()) throw DatabaseError(m_name + ": no transaction is active");
    // Cursors opened in the transaction end with it.
    for (Dataset* dataset : m_impl->datasets) dataset->transactionEnded();
    fb::guard([&] {
        fb::Status status;
        if (commit) {
            // A failed commit leaves the transaction active, for the caller to roll back.
            m_impl->explicitTransaction->commit(&status);
            m_impl->explicitTransaction = nullptr;
            return;
        }
        ITransaction* transaction = m_impl->explicitTransaction;
        m_impl->explicitTransaction = nullptr;
        try {
            transaction->rollback(&status);
        } catch (...) {
            transaction->release();
            throw;
        }
    });
}

void Connection::execute(std::string_view sql) {
    IAttachment* attachment = m_impl->attached(m_name);
    fb::guard([&] {
        m_impl->write([&](ITransaction* transaction) {
            fb::Status status;
            fb::PreparedStatement prepared(
                attachment, transaction, sql,
                IStatement::PREPARE_PREFETCH_TYPE | IStatement::PREPARE_PREFETCH_OUTPUT_PARAMETERS);
            IStatement* statement = prepared.statement.get();
            const unsigned type = statement->getType(&status);
            if (type == isc_info_sql_stmt_start_trans || type == isc_info_sql_stmt_commit ||
                type == isc_info_sql_stmt_rollback)
                throw DatabaseError(m_name +
                                    ": transaction statements are not run as statements; "
                                    "the connection starts and ends its own transactions");
            if (type == isc_info_sql_stmt_select || type == isc_info_sql_stmt_select_for_upd) {
                IResultSet* cursor = statement->openCursor(&status, transaction, nullptr, nullptr,
                                                           prepared.out.get(), 0);
                fb::QuietStatus quiet;
                cursor->close(&quiet);
                if (quiet.failed()) cursor->release();  // rows nobody asked for
            } else {
                statement->execute(&status, transaction, nullptr, nullptr, prepared.out.get(),
                                   prepared.outBuffer.data());
            }
        });
    });
}

// --- Signals ------------------------------------------------------------------------------

namespace {

// Asked by the client before it shuts down; a non-zero answer refuses.
int refuseShutdownOnSignal(const int reason, const int, void*) {
    return reason == fb_shutrsn_signal ? 1 : 0;
}

}  // namespace

void keepConnectionsOnInterrupt() {
    // Without the client there are no connections to keep; opening one will say what is missing.
    if (!fb::clientAvailable()) return;
    static const bool registered = [] {
        ISC_STATUS_ARRAY status{};
        fb::client().shutdownCallback(status, refuseShutdownOnSignal, fb_shut_confirmation,
                                      nullptr);
        return status[1] == 0;
    }();
    if (!registered)
        throw DatabaseError("The database client refused to leave its connections to the program");
}

// --- Dataset --------------------------------------------------------------------------------

Dataset::Dataset(Connection& connection, std::string name)
    : m_connection(&connection), m_name(std::move(name)) {
    connection.m_impl->datasets.push_back(this);
}

Dataset::~Dataset() {
    if (m_connection == nullptr) return;
    auto& list = m_connection->m_impl->datasets;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

}  // namespace tarvolen::database
