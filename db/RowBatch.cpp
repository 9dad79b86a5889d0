#include "db/RowBatch.h"

#include <firebird/Interface.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "ConnectionImpl.h"
#include "MessageCodec.h"
#include "SqlText.h"
#include "Statement.h"
#include "TableImpl.h"

namespace tarvolen::database {

using namespace Firebird;

namespace {

// Limits every server version takes, whatever more a newer one allows: statement text and
// message of at most 64 KB, at most 32,767 parameters.
constexpr size_t kMostTextBytes = 65535;
constexpr size_t kMostMessageBytes = 65535;
constexpr size_t kMostParameters = 32767;
// Each insert of a block is a context of the statement, and a statement has at most 256; but
// blocks of more than 64 rows measured slower, embedded and over the server (bench_engine).
constexpr size_t kMostRowsPerBlock = 64;
// The widths, in characters, that a block gives a long value passed as text. Every row takes
// the narrowest that holds all its long values: a wide one leaves room for fewer rows.
constexpr size_t kTextWidths[] = {256, 1024, 4096, 16384, 32765};
constexpr size_t kWidthCount = std::size(kTextWidths);
constexpr size_t kLongestVarChar = 32765;  // bytes
// A message aligns each row's first parameter, and each value after a text that replaces a
// blob id, by at most this many bytes.
constexpr size_t kAlignment = 8;
constexpr unsigned kOctets = 1;  // character set id

size_t storageBytes(const fb::Column& c) {
    return c.kind == fb::Kind::VarChar ? c.length + 2 : c.length;
}

// The parameter of a block takes the bytes of the one-row insert's parameter as they are. (A
// numeric's sub-type, NUMERIC or DECIMAL, changes nothing in them.)
bool sameType(const fb::Column& block, const fb::Column& single) {
    return block.sqlType == single.sqlType && block.length == single.length &&
           block.scale == single.scale && block.charSet == single.charSet;
}

}  // namespace

RowFailed::RowFailed(const DatabaseError& cause, size_t row)
    : DatabaseError(cause.what(), cause.serverCode()), m_row(row) {}

struct RowBatch::Impl {
    // A posted row: the one-row insert's message, filled, and its blobs' bytes.
    struct Row {
        size_t ordinal = 0;
        std::vector<unsigned char> message;
        std::vector<std::pair<int, std::string>> blobs;
    };
    // A blob parameter, passed in blocks as text.
    struct LongValue {
        std::string characterSet;  // of the text: the blob's own, octets for binary blobs
        size_t bytesPerCharacter = 1;
        size_t longest = 0;  // bytes: the most that fits a text parameter
        size_t width(size_t widthClass) const { return std::min(kTextWidths[widthClass], longest); }
    };
    struct Block {
        std::optional<fb::PreparedStatement> prepared;
        std::vector<unsigned char> buffer;
    };

    Impl(Table& table, Table::Impl& t, Connection::Impl& conn) : table(table), t(t), conn(conn) {}

    void plan();
    std::string blockText(size_t rows, size_t widthClass) const;
    size_t rowMessageBytes(size_t widthClass) const;
    size_t fittingRows(size_t widthClass) const;
    // The narrowest width class that holds the row's long values; none when it must go alone.
    std::optional<size_t> widthClassOf(const Row& row) const;
    Block* blockFor(size_t rows, size_t widthClass);
    bool matchesPlan(const Block& block, size_t rows, size_t widthClass) const;
    void fill(Block& block, size_t first, size_t rows);
    void sendBlock(size_t first, size_t rows, size_t widthClass);
    void sendAlone(Row& row);
    void sendQueue();

    Table& table;
    Table::Impl& t;
    Connection::Impl& conn;
    size_t parameters = 0;                  // per row
    std::vector<std::string> declarations;  // per parameter; for a long value, without width
    std::vector<std::optional<LongValue>> longValues;  // per parameter
    std::string insertHead;                            // "INSERT INTO "T" ("A", "B") VALUES ("
    bool blocksUsable = false;
    size_t capacity[kWidthCount] = {};                  // rows per block of each width class
    std::map<std::pair<size_t, size_t>, Block> blocks;  // (rows, width class) -> block
    std::vector<Row> queue;
    size_t queueWidth = 0;
    size_t posted = 0;
    Counts counts;
};

void RowBatch::Impl::plan() {
    parameters = t.parameters.size();
    declarations.assign(parameters, {});
    longValues.assign(parameters, std::nullopt);
    std::vector<std::string> names(parameters);
    for (size_t i = 0; i < t.columns.size(); ++i)
        if (t.parameterOf[i] >= 0) names[static_cast<size_t>(t.parameterOf[i])] = t.columns[i].name;

    const std::string quotedTable = fb::quoteName(t.catalogueName);
    for (size_t p = 0; p < parameters; ++p) {
        const fb::Column& c = t.parameters[p];
        switch (c.kind) {
            case fb::Kind::Blob: {
                LongValue value;
                if (c.subType != 1 || c.charSet == kOctets) {
                    value.characterSet = "OCTETS";
                } else if (c.charSet == 0) {
                    value.characterSet = "NONE";
                } else {
                    const auto rows =
                        conn.catalogue(table.connection().connectionName(),
                                       "select rdb$character_set_name, rdb$bytes_per_character "
                                       "from rdb$character_sets where rdb$character_set_id = ?",
                                       {std::to_string(c.charSet)});
                    if (rows.empty()) return;  // an unknown character set: rows go alone
                    value.characterSet = valueText(rows[0][0]);
                    value.characterSet.erase(value.characterSet.find_last_not_of(' ') + 1);
                    const auto* bytes = std::get_if<int64_t>(&rows[0][1]);
                    value.bytesPerCharacter =
                        bytes != nullptr && *bytes > 1 ? static_cast<size_t>(*bytes) : 1;
                }
                value.longest = kLongestVarChar / value.bytesPerCharacter;
                declarations[p] = "VARCHAR(";  // the width follows, per block
                longValues[p] = std::move(value);
                break;
            }
            case fb::Kind::Char:
            case fb::Kind::VarChar:
            case fb::Kind::Other:
                // The column's own type, character set and length included.
                declarations[p] = "TYPE OF COLUMN " + quotedTable + "." + fb::quoteName(names[p]);
                break;
            default:
                declarations[p] = fb::typeName(c);
                break;
        }
    }
    insertHead = "INSERT INTO " + quotedTable + " (";
    for (size_t p = 0; p < parameters; ++p)
        insertHead += (p > 0 ? ", " : "") + fb::quoteName(names[p]);
    insertHead += ") VALUES (";

    if (parameters == 0) return;
    for (size_t w = 0; w < kWidthCount; ++w) capacity[w] = fittingRows(w);
    blocksUsable = capacity[0] > 0;
}

std::string RowBatch::Impl::blockText(size_t rows, size_t widthClass) const {
    std::string text = "EXECUTE BLOCK (";
    for (size_t r = 0; r < rows; ++r) {
        for (size_t p = 0; p < parameters; ++p) {
            if (r + p > 0) text += ", ";
            text += "P" + std::to_string(r * parameters + p) + " " + declarations[p];
            if (const auto& value = longValues[p])
                text += std::to_string(value->width(widthClass)) + ") CHARACTER SET " +
                        value->characterSet;
            text += " = ?";
        }
    }
    text += ")\nAS BEGIN\n";
    for (size_t r = 0; r < rows; ++r) {
        text += insertHead;
        for (size_t p = 0; p < parameters; ++p)
            text += (p > 0 ? ", :P" : ":P") + std::to_string(r * parameters + p);
        text += ");\n";
    }
    text += "END";
    return text;
}

size_t RowBatch::Impl::rowMessageBytes(size_t widthClass) const {
    size_t bytes = t.buffer.size() + kAlignment;
    for (const auto& value : longValues)
        if (value) bytes += value->width(widthClass) * value->bytesPerCharacter + 2 + kAlignment;
    return bytes;
}

size_t RowBatch::Impl::fittingRows(size_t widthClass) const {
    size_t rows = std::min({kMostRowsPerBlock, kMostMessageBytes / rowMessageBytes(widthClass),
                            kMostParameters / parameters});
    // Text grows with the rows a little faster than in proportion (longer parameter names).
    for (size_t length = 0;
         rows > 0 && (length = blockText(rows, widthClass).size()) > kMostTextBytes;)
        rows = std::min(rows - 1, rows * kMostTextBytes / length);
    return rows;
}

std::optional<size_t> RowBatch::Impl::widthClassOf(const Row& row) const {
    if (!blocksUsable) return std::nullopt;
    size_t widthClass = 0;
    for (const auto& [parameter, bytes] : row.blobs) {
        const LongValue& value = *longValues[static_cast<size_t>(parameter)];
        if (bytes.size() > value.longest) return std::nullopt;
        // Counting bytes as characters: a text that fits in bytes fits in characters.
        while (value.width(widthClass) < bytes.size()) ++widthClass;
    }
    if (capacity[widthClass] == 0) return std::nullopt;
    return widthClass;
}

RowBatch::Impl::Block* RowBatch::Impl::blockFor(size_t rows, size_t widthClass) {
    const auto key = std::make_pair(rows, widthClass);
    if (const auto it = blocks.find(key); it != blocks.end()) return &it->second;
    Block block;
    try {
        fb::guard([&] {
            block.prepared.emplace(conn.attached(table.connection().connectionName()),
                                   conn.current(), blockText(rows, widthClass));
        });
    } catch (const ConnectionLost&) {
        throw;
    } catch (const DatabaseError&) {
        // A table whose column types a block cannot declare: its rows go alone, as they would
        // without blocks.
        blocksUsable = false;
        return nullptr;
    }
    if (!matchesPlan(block, rows, widthClass)) {
        blocksUsable = false;
        return nullptr;
    }
    block.buffer = std::move(block.prepared->inBuffer);
    return &blocks.emplace(key, std::move(block)).first->second;
}

bool RowBatch::Impl::matchesPlan(const Block& block, size_t rows, size_t widthClass) const {
    const auto& inputs = block.prepared->inputs;
    if (inputs.size() != rows * parameters || block.prepared->inBuffer.size() > kMostMessageBytes)
        return false;
    for (size_t i = 0; i < inputs.size(); ++i) {
        const size_t p = i % parameters;
        const fb::Column& single = t.parameters[p];
        if (const auto& value = longValues[p]) {
            if (inputs[i].kind != fb::Kind::VarChar || inputs[i].length < value->width(widthClass))
                return false;
        } else if (!sameType(inputs[i], single)) {
            return false;
        }
    }
    return true;
}

void RowBatch::Impl::fill(Block& block, size_t first, size_t rows) {
    const auto& inputs = block.prepared->inputs;
    unsigned char* message = block.buffer.data();
    for (size_t r = 0; r < rows; ++r) {
        const Row& row = queue[first + r];
        for (size_t p = 0; p < parameters; ++p) {
            const fb::Column& single = t.parameters[p];
            const fb::Column& target = inputs[r * parameters + p];
            if (fb::isNullIn(single, row.message.data())) {
                fb::setNullIn(target, message);
                continue;
            }
            if (longValues[p]) {
                const auto blob =
                    std::find_if(row.blobs.begin(), row.blobs.end(),
                                 [&](const auto& b) { return b.first == static_cast<int>(p); });
                const std::string& bytes = blob->second;  // a value that is not null has them
                const auto length = static_cast<uint16_t>(bytes.size());
                std::memcpy(message + target.offset, &length, sizeof length);
                std::copy(bytes.begin(), bytes.end(), message + target.offset + 2);
            } else {
                std::memcpy(message + target.offset, row.message.data() + single.offset,
                            storageBytes(single));
            }
            fb::setNullIn(target, message, false);
        }
    }
}

void RowBatch::Impl::sendBlock(size_t first, size_t rows, size_t widthClass) {
    Block* block = blockFor(rows, widthClass);
    if (block == nullptr) {
        for (size_t r = 0; r < rows; ++r) sendAlone(queue[first + r]);
        return;
    }
    fill(*block, first, rows);
    try {
        fb::guard([&] {
            fb::Status status;
            block->prepared->statement->execute(&status, conn.current(), block->prepared->in.get(),
                                                block->buffer.data(), nullptr, nullptr);
        });
    } catch (const ConnectionLost&) {
        throw;
    } catch (const DatabaseError&) {
        // The block is undone as a whole. Sent alone, each row meets exactly the checks and
        // errors of a one-row insert: the rows the server takes stay, and the first it refuses
        // is the one to name.
        for (size_t r = 0; r < rows; ++r) sendAlone(queue[first + r]);
        return;
    }
    ++counts.statements;
    counts.rowsInBlocks += rows;
}

void RowBatch::Impl::sendAlone(Row& row) {
    t.buffer = std::move(row.message);
    t.blobs = std::move(row.blobs);
    t.inserting = true;
    try {
        table.post();
    } catch (const ConnectionLost&) {
        table.cancel();
        throw;
    } catch (const DatabaseError& e) {
        table.cancel();
        throw RowFailed(e, row.ordinal);
    }
    ++counts.statements;
    ++counts.rowsAlone;
}

void RowBatch::Impl::sendQueue() {
    // Emptied however the sending ends: after a failure the caller rolls back.
    struct Emptied {
        Impl& impl;
        ~Emptied() {
            impl.queue.clear();
            impl.queueWidth = 0;
        }
    } emptied{*this};
    for (size_t first = 0; first < queue.size();) {
        const size_t left = queue.size() - first;
        // Fewer rows than fill a block go in blocks of powers of two, so that however the
        // queue ends, few block sizes are ever prepared.
        const size_t rows =
            left >= capacity[queueWidth] ? capacity[queueWidth] : std::bit_floor(left);
        sendBlock(first, rows, queueWidth);
        first += rows;
    }
}

RowBatch::RowBatch(Table& table) {
    if (!table.isOpen()) throw DatabaseError(table.name() + ": table is not open");
    if (!table.connection().inTransaction())
        throw DatabaseError(table.name() + ": rows are sent in blocks only inside a transaction");
    m_impl = std::make_unique<Impl>(table, *table.m_impl, table.impl());
    fb::guard([&] { m_impl->plan(); });
}

RowBatch::~RowBatch() = default;

void RowBatch::insert() {
    m_impl->table.insert();
}

void RowBatch::setValue(int position, const Value& value) {
    m_impl->table.setValue(position, value);
}

void RowBatch::cancel() {
    m_impl->table.cancel();
}

void RowBatch::post() {
    Impl& b = *m_impl;
    if (!b.t.inserting) return;
    Impl::Row row{++b.posted, b.t.buffer, std::move(b.t.blobs)};
    b.t.blobs.clear();
    b.t.inserting = false;

    const std::optional<size_t> widthClass = b.widthClassOf(row);
    if (!widthClass) {
        send();
        b.sendAlone(row);
        return;
    }
    size_t joined = std::max(b.queueWidth, *widthClass);
    if (b.queue.size() + 1 > b.capacity[joined]) {
        send();
        joined = *widthClass;
    }
    b.queue.push_back(std::move(row));
    b.queueWidth = joined;
    if (b.queue.size() == b.capacity[b.queueWidth]) send();
}

void RowBatch::send() {
    m_impl->sendQueue();
}

const RowBatch::Counts& RowBatch::counts() const {
    return m_impl->counts;
}

size_t RowBatch::rowsPerStatement() const {
    return m_impl->blocksUsable ? m_impl->capacity[0] : 1;
}

}  // namespace tarvolen::database
