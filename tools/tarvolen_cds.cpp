// tarvolen-cds: converts client-dataset files between the XML and the binary form, and shows
// what a file holds.
//
//   tarvolen-cds convert IN OUT   IN in either form; OUT is XML when its name ends in ".xml"
//                                 (any letter case), binary otherwise
//   tarvolen-cds dump IN          layout, dataset attributes, row versions and change log
//
// Exit status: 0 done, 1 the file could not be read, decoded or written, 2 usage error.

#include <csignal>
#include <exception>
#include <iostream>
#include <string>

#include "plan/Errors.h"
#include "plan/PacketDump.h"
#include "plan/PacketFile.h"

namespace tarvolen {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "usage: tarvolen-cds convert IN OUT\n"
    "       tarvolen-cds dump IN\n";

int run(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "convert" && argc == 4) {
        writePacketFile(argv[3], readPacketFile(argv[2]));
        return 0;
    }
    if (command == "dump" && argc == 3) {
        writePacketDump(readPacketFile(argv[2]), std::cout);
        std::cout.flush();
        return std::cout ? 0 : kExitFailure;
    }
    std::cerr << kUsage;
    return kExitUsage;
}

}  // namespace
}  // namespace tarvolen

int main(int argc, char** argv) {
    // A file-size limit then fails the write with its own error instead of killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
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
