// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace miral::storage {

namespace {

std::string reason(int err) {
    return std::strerror(err);
}

// Why a write failed, in the words of a user at the bench: a full disk is
// the usual case and is named as such.
std::string writeReason(int err) {
    switch (err) {
        case ENOSPC:
            return "the disk is full (" + reason(err) + ")";
        case EDQUOT:
            return "the disk quota is used up (" + reason(err) + ")";
        case EFBIG:
            return "the file size limit is reached (" + reason(err) + ")";
        default:
            return reason(err);
    }
}

// A name next to the target that no other writer uses.
std::filesystem::path tempNameFor(const std::filesystem::path& file, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
    const unsigned n = counter.fetch_add(1, std::memory_order_relaxed);
    std::filesystem::path tmp = file;
    tmp += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(n) + "-" + std::to_string(attempt);
    return tmp;
}

// What is in the place of a file, when it is not a plain file.
std::string notAFile(mode_t mode) {
    if (S_ISDIR(mode)) return "it is a folder, not a plain file";
    if (S_ISFIFO(mode)) return "it is a FIFO (named pipe), not a plain file";
    if (S_ISSOCK(mode)) return "it is a socket, not a plain file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a plain file";
    return "it is not a plain file";
}

}  // namespace

int openPlainFile(const std::filesystem::path& file, ReadStatus* status, std::string* error) {
    error->clear();
    const std::string cannot = "cannot read " + file.string() + ": ";
    // A look first, so that a device is never opened; the descriptor is
    // checked again below, so a file swapped in between is caught too.
    struct stat sb {};
    if (::stat(file.c_str(), &sb) != 0) {
        if (errno == ENOENT) {
            *status = ReadStatus::Missing;
            return -1;
        }
        *error = cannot + reason(errno);
        *status = ReadStatus::Failed;
        return -1;
    }
    if (!S_ISREG(sb.st_mode)) {
        *error = cannot + notAFile(sb.st_mode);
        *status = ReadStatus::NotAFile;
        return -1;
    }
    // Non-blocking: a FIFO put in its place since the look opens at once
    // instead of waiting for a writer that never comes.
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        *status = err == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
        if (err != ENOENT) *error = cannot + reason(err);
        return -1;
    }
    if (::fstat(fd, &sb) != 0) {
        *error = cannot + reason(errno);
        *status = ReadStatus::Failed;
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(sb.st_mode)) {
        *error = cannot + notAFile(sb.st_mode);
        *status = ReadStatus::NotAFile;
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    *status = ReadStatus::Ok;
    return fd;
}

ReadStatus readWholeFile(const std::filesystem::path& file, std::size_t maxBytes, std::string* bytes,
                         std::string* error) {
    bytes->clear();
    ReadStatus status = ReadStatus::Ok;
    const int fd = openPlainFile(file, &status, error);
    if (fd < 0) return status;
    struct stat sb {};
    if (::fstat(fd, &sb) != 0) {
        *error = "cannot read " + file.string() + ": " + reason(errno);
        ::close(fd);
        return ReadStatus::Failed;
    }
    if (static_cast<unsigned long long>(sb.st_size) > maxBytes) {
        *error = file.string() + " is too large (" + std::to_string(sb.st_size) + " bytes)";
        ::close(fd);
        return ReadStatus::TooLarge;
    }
    bytes->reserve(static_cast<std::size_t>(sb.st_size));
    char buf[16384];
    while (true) {
        const ssize_t r = ::read(fd, buf, sizeof buf);
        if (r < 0) {
            if (errno == EINTR) continue;
            *error = "cannot read " + file.string() + ": " + reason(errno);
            ::close(fd);
            bytes->clear();
            return ReadStatus::Failed;
        }
        if (r == 0) break;
        if (bytes->size() + static_cast<std::size_t>(r) > maxBytes) {  // it grew since fstat
            *error = file.string() + " is too large";
            ::close(fd);
            bytes->clear();
            return ReadStatus::TooLarge;
        }
        bytes->append(buf, static_cast<std::size_t>(r));
    }
    ::close(fd);
    return ReadStatus::Ok;
}

bool writeFileAtomically(const std::filesystem::path& file, std::string_view bytes, std::string* error) {
    struct stat old {};
    const bool existed = !file.empty() && ::stat(file.c_str(), &old) == 0;
    auto fail = [&](int err) {
        *error = "cannot write " + file.string() + ": " + writeReason(err);
        if (existed) *error += "; the file already there is unchanged";
        return false;
    };
    if (file.empty()) return fail(ENOENT);
    // A folder, a FIFO or a device where the file belongs is someone's, not
    // ours to replace.
    if (existed && !S_ISREG(old.st_mode)) {
        *error = "cannot write " + file.string() + ": " + notAFile(old.st_mode);
        return false;
    }
    std::filesystem::path tmp;
    int fd = -1;
    for (unsigned attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = tempNameFor(file, attempt);
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return fail(errno);
    }
    if (fd < 0) return fail(EEXIST);
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            ::unlink(tmp.c_str());
            return fail(err);
        }
        done += static_cast<std::size_t>(w);
    }
    if (::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        ::unlink(tmp.c_str());
        return fail(err);
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        return fail(err);
    }
    if (std::rename(tmp.c_str(), file.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        return fail(err);
    }
    // The rename itself reaches the disk with its folder.
    std::filesystem::path folder = file.parent_path();
    if (folder.empty()) folder = ".";
    if (const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

std::filesystem::path moveAside(const std::filesystem::path& file) {
    std::filesystem::path bad = file;
    bad += ".bad";
    if (std::rename(file.c_str(), bad.c_str()) != 0) return {};
    return bad;
}

}  // namespace miral::storage
