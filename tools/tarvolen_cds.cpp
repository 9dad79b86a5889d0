// tarvolen-cds: converts client-dataset files between the XML and the binary form, and shows
// what a file holds.
//
//   tarvolen-cds convert IN OUT   IN in either form; OUT is XML when its name ends in ".xml"
//                                 (any letter case), binary otherwise
//   tarvolen-cds dump IN          layout, dataset attributes, row versions and change log
//   tarvolen-cds check IN         how IN's text is read, then one line per value that loads
//                                 other than as IN holds it (a null, another value, a string
//                                 cut to its field's width), naming the row version and the
//                                 field; exit 1 when there is any
//
// IN's text is read as an import reads a data file: an XML file that declares no encoding and
// is valid UTF-8 is read as UTF-8, and one whose UTF-8 is broken is refused. `convert` refuses a
// file holding a value that would load other than as written, as an import does.
//   tarvolen-cds --help | --version
//
// Exit status: 0 done, 1 the file could not be read, decoded or written (or check found
// values), 2 usage error.

#include <cstdio>
#include <exception>
#include <iostream>
#include <optional>
#include <string>

#include "base/os/Process.h"
#include "plan/DataFileReading.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"
#include "plan/PacketCodec.h"
#include "plan/PacketDump.h"
#include "plan/PacketFile.h"
#include "tools/cli/UsageError.h"

namespace tarvolen {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "usage: tarvolen-cds convert IN OUT\n"
    "       tarvolen-cds dump IN\n"
    "       tarvolen-cds check IN\n"
    "       tarvolen-cds --help | --version\n";

const char* const kHelp =
    "Works on client-dataset files (data packets), the form of plan files and of the data\n"
    "files that import phases read.\n"
    "\n"
    "commands:\n"
    "  convert IN OUT  read IN, XML or binary, and write it to OUT: as XML when OUT's name\n"
    "                  ends in .xml (any letter case), binary otherwise. OUT is replaced\n"
    "                  through a temporary file, so a failure leaves it as it was. IN is\n"
    "                  refused when a value would load other than as written (see check)\n"
    "  dump IN         print the layout, the dataset attributes, every row version and the\n"
    "                  change log\n"
    "  check IN        say how IN's text is read, then list every value that loads other\n"
    "                  than as IN holds it: text that reads as null or as another value,\n"
    "                  a string cut to its field's width; each naming the row version and\n"
    "                  the field\n"
    "\n"
    "IN is read as an import reads a data file: XML that declares no encoding and is valid\n"
    "UTF-8 is read as UTF-8; XML taken as UTF-8 that is not is refused naming the byte, and\n"
    "a value holding a character Windows-1252 lacks is one that check lists.\n"
    "\n"
    "exit status:\n"
    "  0    done\n"
    "  1    a file could not be read, decoded or written (the error on standard error),\n"
    "       or check found values\n"
    "  2    a wrong command line\n"
    "\n"
    "See tarvolen-cds(1) and plan/FORMAT.md (installed as data-packet-format.md).\n";

// The lines of `check`, kept until the file has decoded whole. Texts are escaped
// (printableText), so that each finding stays one line.
class CheckReport : public DecodeDiagnostics {
  public:
    void note(const ValueNote& note) override {
        m_lines += "row " + std::to_string(note.row) + ", field " + std::string(note.field) + ": ";
        switch (note.kind) {
            case ValueNote::Kind::TextReadAsNull:
                m_lines += "\"" + printableText(note.text) + "\" reads as null\n";
                break;
            case ValueNote::Kind::TextReadOtherwise:
                m_lines += "\"" + printableText(note.text) + "\" reads as " +
                           printableText(note.readAs) + "\n";
                break;
            case ValueNote::Kind::CharacterNotInCp1252:
                if (note.byteOffset != std::string_view::npos) {
                    m_lines += "the file's character " + codePointName(note.character) +
                               " at byte offset " + std::to_string(note.byteOffset) +
                               " has no Windows-1252 form: reads as \"" +
                               printableText(note.readAs) + "\"\n";
                } else {
                    m_lines += "\"" + printableText(note.text) + "\" reads as \"" +
                               printableText(note.readAs) + "\" (" + codePointName(note.character) +
                               ", which Windows-1252 lacks)\n";
                }
                break;
            case ValueNote::Kind::CutToWidth:
                m_lines += "cut from " + std::to_string(note.length) + " to its width " +
                           std::to_string(note.width) + "\n";
                break;
        }
        ++m_count;
    }
    // Said only of text beyond ASCII, which alone reads differently in one encoding or another.
    void textEncoding(const TextEncodingNote& encoding) override {
        if (encoding.beyondAscii)
            m_lines += "text read as " + describeTextEncoding(encoding) + "\n";
    }
    const std::string& lines() const { return m_lines; }
    bool empty() const { return m_count == 0; }

  private:
    std::string m_lines;
    size_t m_count = 0;
};

int run(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if ((command == "--help" || command == "-h") && argc == 2) {
        std::cout << kUsage << "\n" << kHelp;
        return 0;
    }
    if (command == "--version" && argc == 2) {
        std::cout << "tarvolen-cds " TARVOLEN_VERSION "\n";
        return 0;
    }
    if (command == "convert" && argc == 4) {
        std::optional<TextEncodingNote> encoding;
        writePacketFile(argv[3], decodeImportData(readWholeFile(argv[2]), &encoding));
        // Nothing in IN says it is UTF-8, so OUT's text may surprise: say how IN was read.
        if (encoding && encoding->reason == TextEncodingNote::Reason::Detected) {
            std::cerr << "tarvolen-cds: " << argv[2] << " read as "
                      << describeTextEncoding(*encoding) << "\n";
        }
        return 0;
    }
    if (command == "check" && argc == 3) {
        CheckReport report;
        decodePacket(readWholeFile(argv[2]), TextRules::DataFile, &report);
        std::cout << report.lines();
        std::cout.flush();
        return report.empty() && std::cout ? 0 : kExitFailure;
    }
    if (command == "dump" && argc == 3) {
        writePacketDump(decodePacket(readWholeFile(argv[2]), TextRules::DataFile, nullptr),
                        std::cout);
        std::cout.flush();
        return std::cout ? 0 : kExitFailure;
    }
    if (command.empty()) throw cli::UsageError("no command given");
    if (command.starts_with("-")) throw cli::UsageError("unknown option " + command);
    if (command != "convert" && command != "dump" && command != "check")
        throw cli::UsageError("unknown command " + command);
    throw cli::UsageError(command + (command == "convert" ? " needs IN and OUT" : " needs IN"));
}

}  // namespace
}  // namespace tarvolen

int main(int argc, char** argv) {
    // A file-size limit then fails the write with its own error instead of killing the process;
    // what goes to standard output is the same bytes on every platform.
    tarvolen::os::prepareCommandLineProcess();
    try {
        return tarvolen::run(argc, argv);
    } catch (const tarvolen::cli::UsageError& e) {
        std::cerr << "tarvolen-cds: " << e.what() << "\n" << tarvolen::kUsage;
        return tarvolen::kExitUsage;
    } catch (const tarvolen::EDBClient& e) {
        // The decoder's message alone, so scripts can compare it.
        std::cerr << e.what() << "\n";
    } catch (const tarvolen::EFOpenError& e) {
        std::cerr << e.what() << "\n";
    } catch (const tarvolen::EFCreateError& e) {
        std::cerr << e.what() << "\n";
    } catch (const tarvolen::EDataFileRefused& e) {
        std::cerr << e.what() << "\n";
    } catch (const std::exception& e) {
        std::cerr << "tarvolen-cds: " << e.what() << "\n";
    }
    return tarvolen::kExitFailure;
}
