// Memory that decoding a data packet takes, against the size of its file.
//
//   bench_memory [--quick]
//
// Every case runs in a child process of its own, so that one case's freed memory cannot serve
// the next; the child gives back the free memory it inherits before it measures. The child reads the file into memory first (one exact allocation), then measures:
//   decode peak   the highest resident memory while decodePacket runs, above what the process
//                 held before (so the file's bytes themselves are not counted), from VmHWM after
//                 resetting it through /proc/self/clear_refs;
//   decode held   heap still in use by the decoded packet once decodePacket returned (mallinfo2);
//   open peak     the same as "decode peak" for a table without fixed fields opening from the
//                 file (TClientDataSet::LoadFile: reading the file, decoding, building the view
//                 of its visible rows), file bytes included;
//   open held     heap in use by the open table.
// Each figure is printed in MB and as a ratio to the file's size.

#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "ImportGenerator.h"
#include "PlanGenerator.h"
#include "plan/ClientDataSet.h"
#include "plan/PacketCodec.h"

namespace {

using namespace tarvolen;

constexpr size_t kMB = 1000 * 1000;

// Little-endian writer for hand-made binary packets.
class Bytes {
  public:
    Bytes& u8(uint8_t v) {
        m_bytes.push_back(static_cast<char>(v));
        return *this;
    }
    Bytes& u16(uint16_t v) { return u8(static_cast<uint8_t>(v)).u8(static_cast<uint8_t>(v >> 8)); }
    Bytes& u32(uint32_t v) {
        return u16(static_cast<uint16_t>(v)).u16(static_cast<uint16_t>(v >> 16));
    }
    Bytes& name(const std::string& s) {
        u8(static_cast<uint8_t>(s.size()));
        m_bytes += s;
        return *this;
    }
    std::string& str() { return m_bytes; }

  private:
    std::string m_bytes;
};

// A binary packet of `rows` rows of 2 bytes each: the status byte and one byte of field bits
// marking the one field null. Every `hiddenEvery`-th row (0: none) is a superseded version.
std::string twoByteRows(uint32_t rows, uint32_t hiddenEvery) {
    Bytes b;
    b.u32(0xBDE01996u).u16(1).u16(0).u32(24).u16(1).u32(rows).u32(1).u16(0);
    b.name("A").u32(0x00010004u).u16(0).u16(0);
    b.u16(0);
    b.str().reserve(b.str().size() + size_t{rows} * 2);
    for (uint32_t r = 0; r < rows; ++r) {
        const bool hidden = hiddenEvery != 0 && r % hiddenEvery == 0;
        b.u8(hidden ? rowstate::kSuperseded : 0).u8(0x01);
    }
    return std::move(b.str());
}

// A binary packet of the widest layout: 65535 i2 fields of one-letter names, each descriptor
// the smallest there is, and no rows.
std::string widestLayout() {
    Bytes b;
    b.u32(0xBDE01996u).u16(1).u16(0).u32(24).u16(0xFFFF).u32(0).u32(1).u16(0);
    for (uint32_t f = 0; f < 0xFFFF; ++f) b.name("A").u32(0x00010002u).u16(0).u16(0);
    b.u16(0);
    return std::move(b.str());
}

// A binary packet of one field carrying the most attributes a layout may hold, each the
// smallest there is: a one-letter name and a 1-byte integer.
std::string mostAttributes() {
    Bytes b;
    b.u32(0xBDE01996u).u16(1).u16(0).u32(24).u16(1).u32(0).u32(1).u16(0);
    b.name("A").u32(0x00010002u).u16(0).u16(0xFFFF);
    for (uint32_t a = 0; a < 0xFFFF; ++a) b.name("X").u32(0x00010001u).u8(1);
    b.u16(0);
    return std::move(b.str());
}

// An XML packet of one string field and `rows` empty ROW elements.
std::string emptyXmlRows(size_t rows) {
    std::string xml =
        "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"A\" fieldtype=\"string\" "
        "WIDTH=\"10\"/></FIELDS><PARAMS/></METADATA><ROWDATA>";
    xml.reserve(xml.size() + rows * 6 + 32);
    for (size_t r = 0; r < rows; ++r) xml += "<ROW/>";
    xml += "</ROWDATA></DATAPACKET>";
    return xml;
}

// Rows of many small values: six short fields of integers, flags, a date and a short text.
DataPacket smallValues(size_t rows) {
    DataPacket p = decodeXmlPacket(
        "<DATAPACKET><METADATA><FIELDS>"
        "<FIELD attrname=\"A\" fieldtype=\"i2\"/><FIELD attrname=\"B\" fieldtype=\"i4\"/>"
        "<FIELD attrname=\"C\" fieldtype=\"boolean\"/><FIELD attrname=\"D\" fieldtype=\"date\"/>"
        "<FIELD attrname=\"E\" fieldtype=\"string\" WIDTH=\"4\"/>"
        "<FIELD attrname=\"F\" fieldtype=\"ui2\"/>"
        "</FIELDS><PARAMS/></METADATA><ROWDATA></ROWDATA></DATAPACKET>");
    for (size_t r = 0; r < rows; ++r) {
        const auto i = static_cast<int64_t>(r);
        p.rows.push_back({0,
                          {i % 30000, i, r % 3 == 0, int64_t{730000} + i % 5000,
                           std::string(1 + r % 3, static_cast<char>('a' + r % 26)), i % 60000}});
    }
    return p;
}

// Rows of 32 small integer fields, every other one null.
DataPacket halfNullRows(size_t rows) {
    std::string xml = "<DATAPACKET><METADATA><FIELDS>";
    for (int f = 0; f < 32; ++f) {
        xml += "<FIELD attrname=\"F" + std::to_string(f) + "\" fieldtype=\"i2\"/>";
    }
    DataPacket p = decodeXmlPacket(xml + "</FIELDS><PARAMS/></METADATA><ROWDATA/></DATAPACKET>");
    std::vector<FieldValue> values(32);
    for (size_t r = 0; r < rows; ++r) {
        for (size_t f = 0; f < 32; f += 2) values[f] = static_cast<int64_t>((r + f) % 20000);
        p.rows.append(0, values);
    }
    return p;
}

struct Case {
    std::string name;
    std::function<std::string()> make;
};

struct Figures {
    double fileMB = 0;
    double decodePeakMB = 0;
    double decodeHeldMB = 0;
    double openPeakMB = 0;
    double openHeldMB = 0;
    int ok = 0;
};

size_t statusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(key);
    while (std::getline(in, line)) {
        if (line.compare(0, n, key) == 0) return std::stoul(line.substr(n + 1)) * 1024;
    }
    return 0;
}

void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// The heap's figure and the large arenas the heap does not see.
size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd + RowStore::largeArenaBytes();
}

// Free memory the process holds (the heap's, and the spare arena the row store keeps for the
// next decode, which the parent left when it made the packets) goes back, so that it cannot
// serve the measured decode.
void giveBackFreeMemory() {
    malloc_trim(0);
    RowStore::releaseSpareArena();
}

std::string readExactly(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::string bytes(static_cast<size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

Figures measure(const std::string& path) {
    Figures f;
    {
        const std::string bytes = readExactly(path);
        f.fileMB = static_cast<double>(bytes.size()) / kMB;
        giveBackFreeMemory();
        const size_t heap = heapInUse();
        const size_t rss = statusKb("VmRSS:");
        resetPeak();
        const DataPacket packet = decodePacket(bytes);
        f.decodePeakMB = static_cast<double>(statusKb("VmHWM:") - rss) / kMB;
        f.decodeHeldMB = static_cast<double>(heapInUse() - heap) / kMB;
    }
    giveBackFreeMemory();
    const size_t heap = heapInUse();
    const size_t rss = statusKb("VmRSS:");
    resetPeak();
    TClientDataSet table("cds");
    table.LoadFile(path);
    f.openPeakMB = static_cast<double>(statusKb("VmHWM:") - rss) / kMB;
    f.openHeldMB = static_cast<double>(heapInUse() - heap) / kMB;
    f.ok = table.RecordCount() >= 0 ? 1 : 0;
    return f;
}

// Runs `measure` in a child so that each case starts from a clean heap.
Figures measureInChild(const std::string& path) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        Figures f;
        try {
            f = measure(path);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), e.what());
        }
        const ssize_t n = write(fds[1], &f, sizeof f);
        _exit(n == static_cast<ssize_t>(sizeof f) ? 0 : 1);
    }
    close(fds[1]);
    Figures f;
    const ssize_t n = read(fds[0], &f, sizeof f);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (n != static_cast<ssize_t>(sizeof f)) f.ok = 0;
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const size_t scale = quick ? 8 : 1;
    const std::vector<Case> cases = {
        {"binary, many small values (16 MB)",
         [&] { return encodeBinaryPacket(smallValues(800000 / scale)); }},
        {"binary, 32 small fields, every other one null",
         [&] { return encodeBinaryPacket(halfNullRows(400000 / scale)); }},
        {"binary, rows of 2 bytes, all visible (16 MB)",
         [&] { return twoByteRows(static_cast<uint32_t>(8000000 / scale), 0); }},
        {"binary, rows of 2 bytes, every 2nd superseded",
         [&] { return twoByteRows(static_cast<uint32_t>(8000000 / scale), 2); }},
        {"binary, 65535 fields, no rows", [] { return widestLayout(); }},
        {"binary, 65535 attributes, no rows", [] { return mostAttributes(); }},
        {"XML, empty <ROW/> elements (16 MB)", [&] { return emptyXmlRows(2800000 / scale); }},
        {"XML, import file of 200,000 rows",
         [&] { return encodeXmlPacket(bench::importPacket(static_cast<int>(200000 / scale))); }},
        {"binary, import file of 200,000 rows",
         [&] { return encodeBinaryPacket(bench::importPacket(static_cast<int>(200000 / scale))); }},
        {"XML, plan of 20,000 phases marked done",
         [&] { return encodeXmlPacket(bench::generatePlan(20000 / scale, 2500, true)); }},
    };
    bench::Folder folder;
    std::printf("%-48s %8s %17s %17s %17s %17s\n", "case", "file MB", "decode peak", "decode held",
                "open peak", "open held");
    for (const Case& c : cases) {
        const std::string path = (folder.path() / "packet").string();
        { std::ofstream(path, std::ios::binary | std::ios::trunc) << c.make(); }
        const Figures f = measureInChild(path);
        if (f.ok == 0) {
            std::printf("%-48s failed\n", c.name.c_str());
            continue;
        }
        auto cell = [&](double mb) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%7.1f (%5.2fx)", mb, mb / f.fileMB);
            return std::string(buf);
        };
        std::printf("%-48s %8.1f %17s %17s %17s %17s\n", c.name.c_str(), f.fileMB,
                    cell(f.decodePeakMB).c_str(), cell(f.decodeHeldMB).c_str(),
                    cell(f.openPeakMB).c_str(), cell(f.openHeldMB).c_str());
        std::fflush(stdout);
    }
    return 0;
}
