#include "engine/ImportFile.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "base/Text.h"
#include "plan/DataFileReading.h"
#include "plan/Errors.h"

namespace tarvolen {
namespace {

// One version as it crosses from the reading thread to the taking one.
struct HandedRow {
    size_t version = 0;
    uint8_t status = 0;
    bool visible = true;
    std::vector<FieldValue> values;
};

// Versions handed over together, and the layout with the first of them.
struct HandedBatch {
    std::optional<DataPacket> layout;
    std::optional<TextEncodingNote> encoding;
    std::vector<HandedRow> rows;  // kept allocated between uses; `count` of them hold a version
    size_t count = 0;
};

// Thrown on the reading thread once the taking one has given up.
struct ReadingAbandoned {};

// A few batches going round between the two threads: filled by the reader, emptied by the
// taker. The reader waits when all are full, so the file is read no further ahead than they
// hold.
class Handover {
  public:
    static constexpr size_t kBatches = 4;
    static constexpr size_t kRowsPerBatch = 256;

    Handover() : m_batches(kBatches) {
        for (HandedBatch& b : m_batches) {
            b.rows.resize(kRowsPerBatch);
            m_empty.push_back(&b);
        }
    }

    // The reader's side. Throws ReadingAbandoned once the taker has given up.
    HandedBatch& emptyBatch() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_abandoned || !m_empty.empty(); });
        if (m_abandoned) throw ReadingAbandoned{};
        HandedBatch* batch = m_empty.front();
        m_empty.pop_front();
        return *batch;
    }
    void deliver(HandedBatch& batch) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_full.push_back(&batch);
        m_changed.notify_all();
    }
    // The reading ended, with `error` when it failed.
    void finish(std::exception_ptr error) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_ended = true;
        m_error = std::move(error);
        m_changed.notify_all();
    }

    // The taker's side: the next full batch, or nullptr once the reading ended (throwing what
    // it failed with); `whileWaiting` every kWaitTurn spent waiting, without the lock held.
    template <class Wait>
    HandedBatch* nextFull(Wait&& whileWaiting) {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (m_full.empty() && !m_ended) {
            if (!m_changed.wait_for(lock, kWaitTurn,
                                    [this] { return !m_full.empty() || m_ended; })) {
                lock.unlock();
                whileWaiting();
                lock.lock();
            }
        }
        if (m_full.empty()) {
            if (m_error) std::rethrow_exception(m_error);
            return nullptr;
        }
        HandedBatch* batch = m_full.front();
        m_full.pop_front();
        return batch;
    }
    void recycle(HandedBatch& batch) {
        batch.layout.reset();
        batch.count = 0;
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_empty.push_back(&batch);
        m_changed.notify_all();
    }
    void abandon() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_abandoned = true;
        m_changed.notify_all();
    }

  private:
    static constexpr auto kWaitTurn = std::chrono::milliseconds(20);

    std::vector<HandedBatch> m_batches;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<HandedBatch*> m_empty;
    std::deque<HandedBatch*> m_full;
    bool m_ended = false;
    bool m_abandoned = false;
    std::exception_ptr m_error;
};

// The reading thread's consumer: copies what the stream hands over into batches.
class HandingOver final : public PacketRowConsumer {
  public:
    explicit HandingOver(Handover& handover) : m_handover(handover) {}

    void layout(const DataPacket& packet,
                const std::optional<TextEncodingNote>& encoding) override {
        HandedBatch& batch = m_handover.emptyBatch();
        batch.layout.emplace();
        batch.layout->fields = packet.fields;
        batch.layout->attributes = packet.attributes;
        batch.layout->changeLog = packet.changeLog;
        batch.encoding = encoding;
        // Delivered at once: the taker opens its table while the rows are read.
        m_handover.deliver(batch);
    }

    void row(const StreamedRow& row) override {
        if (m_batch == nullptr) m_batch = &m_handover.emptyBatch();
        HandedRow& handed = m_batch->rows[m_batch->count++];
        handed.version = row.version;
        handed.status = row.status;
        handed.visible = row.visible;
        handed.values = *row.values;  // reuses the room of the values it replaces
        if (m_batch->count == Handover::kRowsPerBatch) flush();
    }

    void flush() {
        if (m_batch == nullptr) return;
        m_handover.deliver(*m_batch);
        m_batch = nullptr;
    }

  private:
    Handover& m_handover;
    HandedBatch* m_batch = nullptr;
};

}  // namespace

std::optional<TextEncodingNote> LoadImportFile(TClientDataSet& reader,
                                               const std::string& fileName) {
    if (fileName.empty()) throw EFOpenError("Cannot open file \"\". No file name given");
    std::optional<TextEncodingNote> encoding;
    reader.LoadFile(fileName, [&encoding](std::string_view bytes) {
        return decodeImportData(bytes, &encoding);
    });
    return encoding;
}

void StreamImportFile(const std::string& fileName, PacketRowConsumer& consumer) {
    if (fileName.empty()) throw EFOpenError("Cannot open file \"\". No file name given");
    PacketFileSource source(fileName);
    // As the reader the whole file used to be loaded into, named cds, refuses an empty file.
    if (source.size() == 0) throw EDatabaseError("cds: Missing data provider or data packet");
    streamImportData(source, consumer);
}

void StreamImportFileAside(const std::string& fileName, PacketRowConsumer& consumer,
                           const std::function<void()>& whileWaiting) {
    Handover handover;
    HandingOver handingOver(handover);
    std::thread reader([&] {
        std::exception_ptr error;
        try {
            StreamImportFile(fileName, handingOver);
            handingOver.flush();
        } catch (const ReadingAbandoned&) {
            // The taker gave up and is not listening.
        } catch (...) {
            error = std::current_exception();
        }
        handover.finish(std::move(error));
    });
    // Whatever the taker throws, the reader stops and is waited for: it uses this frame.
    struct Join {
        Handover& handover;
        std::thread& reader;
        ~Join() {
            handover.abandon();
            reader.join();
        }
    } join{handover, reader};
    while (HandedBatch* batch = handover.nextFull(whileWaiting)) {
        if (batch->layout) consumer.layout(*batch->layout, batch->encoding);
        for (size_t i = 0; i < batch->count; ++i) {
            const HandedRow& handed = batch->rows[i];
            StreamedRow row;
            row.version = handed.version;
            row.status = handed.status;
            row.visible = handed.visible;
            row.values = &handed.values;
            consumer.row(row);
        }
        handover.recycle(*batch);
    }
}

ImportEncodingText DescribeImportEncoding(const TextEncodingNote& encoding) {
    using Reason = TextEncodingNote::Reason;
    ImportEncodingText text;
    text.encoding =
        encoding.encoding == TextEncodingNote::Encoding::Utf8 ? "UTF-8" : "WINDOWS-1252";
    switch (encoding.reason) {
        case Reason::Undeclared:
            break;
        case Reason::Detected:
            text.reason = "NESSUNA CODIFICA DICHIARATA, TESTO UTF-8 VALIDO";
            break;
        case Reason::ByteOrderMark:
            text.reason = "BYTE ORDER MARK UTF-8";
            break;
        case Reason::Declared: {
            std::string declared = printableText(encoding.declared);
            for (char& c : declared) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
            text.reason = equalsNoCase(declared, text.encoding) ? "CODIFICA DICHIARATA"
                                                                : "DICHIARATA COME " + declared;
            break;
        }
    }
    return text;
}

}  // namespace tarvolen
