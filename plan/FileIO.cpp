#include "plan/FileIO.h"

#include <filesystem>

#include "base/os/Files.h"
#include "base/os/SystemError.h"
#include "plan/Errors.h"

namespace tarvolen {
namespace {

namespace fs = std::filesystem;

std::string openError(const std::string& path, const std::string& why) {
    return "Cannot open file \"" + fullPath(path) + "\". " + why;
}

std::string createError(const std::string& path, const std::error_code& error) {
    return "Cannot create file \"" + fullPath(path) + "\". " + os::errorText(error);
}

std::string isDirectoryText() {
    return os::errorText(std::make_error_code(std::errc::is_a_directory));
}

// Reads an open regular file to its end.
std::string readOpenFile(os::File& file, const std::string& path, size_t sizeHint) {
    auto readInto = [&](char* to, size_t room) {
        std::error_code error;
        const size_t n = file.read(to, room, error);
        if (error) throw EFOpenError(openError(path, os::errorText(error)));
        return n;
    };
    std::string data;
    data.resize(sizeHint);
    size_t done = 0;
    while (done < data.size()) {
        const size_t n = readInto(data.data() + done, data.size() - done);
        if (n == 0) break;
        done += n;
    }
    data.resize(done);
    // A file that grew since its size was taken: the rest goes on in pieces. Checked through a
    // small buffer, so a file of the size given is never copied into a larger string (twice its
    // size).
    char more[65536];
    for (size_t n = readInto(more, sizeof more); n > 0; n = readInto(more, sizeof more))
        data.append(more, n);
    return data;
}

std::string readRegularFile(const std::string& path, bool privateOnly,
                            FileIdentity* identity = nullptr) {
    os::File file = openFileToRead(path);
    if (privateOnly) {
        if (const std::string why = file.whyNotPrivate(); !why.empty())
            throw EFOpenError(openError(path, why));
    }
    std::string bytes = readOpenFile(file, path, static_cast<size_t>(file.size()));
    if (identity != nullptr) {
        // Taken after the read, so that a file written in place meanwhile shows as changed.
        const std::optional<os::FileStamp> stamp = file.stamp();
        if (!stamp) throw EFOpenError(openError(path, os::errorText(os::lastError())));
        *identity = *stamp;
    }
    return bytes;
}

}  // namespace

os::File openFileToRead(const std::string& path) {
    std::error_code error;
    os::File file = os::File::openToRead(path, error);
    if (error) throw EFOpenError(openError(path, os::errorText(error)));
    const os::FileKind kind = file.kind();
    if (kind == os::FileKind::Directory) throw EFOpenError(openError(path, isDirectoryText()));
    if (kind != os::FileKind::Regular) throw EFOpenError(openError(path, "Not a regular file"));
    return file;
}

EFOpenError fileReadError(const std::string& path, const std::string& why) {
    return EFOpenError(openError(path, why));
}

std::string fullPath(const std::string& path) {
    std::error_code ec;
    auto absolute = fs::absolute(path, ec);
    if (ec) return path;
    return absolute.lexically_normal().string();
}

bool fileExists(const std::string& path) {
    return os::kindOf(path) == os::FileKind::Regular;
}

std::string resolvedFile(const std::string& path) {
    std::error_code error;
    std::string final = os::finalPath(path, error);
    if (error) throw EFCreateError(createError(path, error));
    return final;
}

std::optional<FileIdentity> fileIdentity(const std::string& path) {
    return os::stampOf(path);
}

std::string readWholeFile(const std::string& path) {
    return readRegularFile(path, false);
}

std::string readWholeFile(const std::string& path, FileIdentity& identity) {
    return readRegularFile(path, false, &identity);
}

std::string readPrivateFile(const std::string& path) {
    return readRegularFile(path, true);
}

void writeFileAtomically(const std::string& path, std::string_view bytes,
                         const WriteOptions& options) {
    const std::string target = resolvedFile(path);
    os::removeStaleTemporaries(target);
    // A write whose bytes equal the file's present contents keeps the backup of the state
    // before; nothing there to keep is no error (the write itself says what is wrong).
    std::string backup;
    if (options.keepBackup) {
        try {
            if (readWholeFile(target) != bytes) backup = target + ".bak";
        } catch (const EFOpenError&) {
        }
    }
    std::string failed;
    if (const std::error_code error =
            os::replaceFile(target, bytes, {backup, options.newFileLike}, failed))
        throw EFCreateError(createError(failed == target ? path : failed, error));
}

std::string TemporaryNameBeside(const std::string& path) {
    return os::temporaryNameBeside(path);
}

void RemoveAbandonedTemporaries(const std::string& folder, std::string_view suffix) {
    os::removeStaleTemporariesIn(folder, suffix);
}

void checkReplaceable(const std::string& path, uint64_t bytes) {
    const std::string target = resolvedFile(path);
    auto fail = [&](const std::error_code& error) {
        throw EFCreateError(createError(path, error));
    };
    if (os::kindOf(target) == os::FileKind::Directory)
        fail(std::make_error_code(std::errc::is_a_directory));
    // A write killed at the wrong moment left one; the next write would remove it, but a run
    // that finds nothing to write never makes one.
    os::removeStaleTemporaries(target);
    if (const std::error_code error = os::checkRoomFor(target, bytes)) fail(error);
}

}  // namespace tarvolen
