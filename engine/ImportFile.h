#pragma once
// Reading an import phase's data file, shared by the import, the dry run and validation so that
// all accept and refuse the same files with the same messages.

#include <functional>
#include <optional>
#include <string>

#include "plan/ClientDataSet.h"
#include "plan/DecodeDiagnostics.h"
#include "plan/PacketStream.h"

namespace tarvolen {

// Loads the data file into `reader`, which then holds its rows, as an import reads it
// (decodeImportData): a UTF-8 file that declares nothing is read as UTF-8, and a file whose
// text or values would load other than as written is refused with EDataFileRefused. Returns how
// an XML file's text was taken; nothing for the binary form. An empty name is refused with an
// EFOpenError: the reader would otherwise fall back to a file name of its own. Read and
// decoding errors go on as the reader raises them; `reader` then stays closed.
std::optional<TextEncodingNote> LoadImportFile(TClientDataSet& reader, const std::string& fileName);

// Reads the data file as LoadImportFile does, with the same refusals and messages, but a piece
// at a time: its layout and then its row versions go to `consumer` as they are decoded
// (streamImportData), so that neither the file's bytes nor its rows are ever all in memory.
void StreamImportFile(const std::string& fileName, PacketRowConsumer& consumer);

// The same, the file read and decoded on a thread of its own while this one takes the layout
// and the versions, in the same order, through `consumer`: the decoding and what the consumer
// does with the rows go on at once. `whileWaiting` is called at least every 20 ms that this
// thread waits for rows. The reading's errors come out here once the versions before them
// were taken; should the consumer throw, the reading stops, and its exception goes on.
void StreamImportFileAside(const std::string& fileName, PacketRowConsumer& consumer,
                           const std::function<void()>& whileWaiting);

// How a data file's text was taken, in the words of the run's log and the dry run: the
// encoding ("UTF-8", "WINDOWS-1252") and why, when something says so ("NESSUNA CODIFICA
// DICHIARATA, TESTO UTF-8 VALIDO", "CODIFICA DICHIARATA", ...; empty otherwise).
struct ImportEncodingText {
    std::string encoding;
    std::string reason;
};
ImportEncodingText DescribeImportEncoding(const TextEncodingNote& encoding);

}  // namespace tarvolen
