// tarvolen-cds: converts client-dataset files between the XML and the binary form, and shows
// what a file holds.
//
//   tarvolen-cds convert IN OUT   IN in either form; OUT is XML when its name ends in ".xml"
//                                 (any letter case), binary otherwise
//   tarvolen-cds dump IN          layout, dataset attributes, row versions and change log
//   tarvolen-cds check IN         one line per value that reads as null although IN holds text
//                                 for it, and per string cut to its field's width, naming the
//                                 row version and the field; exit 1 when there is any
//   tarvolen-cds --help | --version
//
// Exit status: 0 done, 1 the file could not be read, decoded or written (or check found
// values), 2 usage error.

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "base/os/Process.h"
#include "plan/Errors.h"
#include "plan/PacketDump.h"
#include "plan/PacketFile.h"

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
    "                  through a temporary file, so a failure leaves it as it was\n"
    "  dump IN         print the layout, the dataset attributes, every row version and the\n"
    "                  change log\n"
    "  check IN        list every value that reads as null although IN holds text for it,\n"
    "                  and every string cut to its field's width, naming the row version\n"
    "                  and the field\n"
    "\n"
    "exit status:\n"
    "  0    done\n"
    "  1    a file could not be read, decoded or written (the error on standard error),\n"
    "       or check found values\n"
    "  2    a wrong command line\n"
    "\n"
    "See tarvolen-cds(1) and plan/FORMAT.md (installed as data-packet-format.md).\n";

// The lines of `check`, kept until the file has decoded whole.
class CheckReport : public DecodeDiagnostics {
  public:
    void note(const ValueNote& note) override {
        m_lines += "row " + std::to_string(note.row) + ", field " + std::string(note.field) + ": ";
        if (note.kind == ValueNote::Kind::TextReadAsNull) {
            m_lines += "\"" + printable(note.text) + "\" reads as null\n";
        } else {
            m_lines += "cut from " + std::to_string(note.length) + " to its width " +
                       std::to_string(note.width) + "\n";
        }
        ++m_count;
    }
    const std::string& lines() const { return m_lines; }
    bool empty() const { return m_count == 0; }

  private:
    // Control characters, quotes and backslashes escaped, so that each finding stays one line.
    static std::string printable(std::string_view text) {
        std::string out;
        for (const char c : text) {
            const auto u = static_cast<unsigned char>(c);
            if (u < 0x20 || u == 0x7F || c == '"' || c == '\\') {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
                out += escaped;
            } else {
                out += c;
            }
        }
        return out;
    }

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
        writePacketFile(argv[3], readPacketFile(argv[2]));
        return 0;
    }
    if (command == "check" && argc == 3) {
        CheckReport report;
        readPacketFile(argv[2], report);
        std::cout << report.lines();
        std::cout.flush();
        return report.empty() && std::cout ? 0 : kExitFailure;
    }
    if (command == "dump" && argc == 3) {
        writePacketDump(readPacketFile(argv[2]), std::cout);
        std::cout.flush();
        return std::cout ? 0 : kExitFailure;
    }
    if (command.empty()) {
        std::cerr << "tarvolen-cds: no command given\n";
    } else if (command.starts_with("-")) {
        std::cerr << "tarvolen-cds: unknown option " << command << "\n";
    } else if (command != "convert" && command != "dump" && command != "check") {
        std::cerr << "tarvolen-cds: unknown command " << command << "\n";
    } else {
        std::cerr << "tarvolen-cds: " << command
                  << (command == "convert" ? " needs IN and OUT\n" : " needs IN\n");
    }
    std::cerr << kUsage;
    return kExitUsage;
}

}  // namespace
}  // namespace tarvolen

int main(int argc, char** argv) {
    // A file-size limit then fails the write with its own error instead of killing the process;
    // what goes to standard output is the same bytes on every platform.
    tarvolen::os::prepareCommandLineProcess();
    try {
        return tarvolen::run(argc, argv);
    } catch (const tarvolen::EDBClient& e) {
        // The decoder's message alone, so scripts can compare it.
        std::cerr << e.what() << "\n";
    } catch (const tarvolen::EFOpenError& e) {
        std::cerr << e.what() << "\n";
    } catch (const tarvolen::EFCreateError& e) {
        std::cerr << e.what() << "\n";
    } catch (const std::exception& e) {
        std::cerr << "tarvolen-cds: " << e.what() << "\n";
    }
    return tarvolen::kExitFailure;
}
