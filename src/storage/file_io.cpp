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

std::string reason(int err) { return std::strerror(err); }

// A name next to the target that no other writer uses.
std::filesystem::path tempNameFor(const std::filesystem::path& file, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
    const unsigned n = counter.fetch_add(1, std::memory_order_relaxed);
    std::filesystem::path tmp = file;
    tmp += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(n) + "-" + std::to_string(attempt);
    return tmp;
}

}  // namespace

ReadStatus readWholeFile(const std::filesystem::path& file, std::size_t maxBytes, std::string* bytes,
                         std::string* error) {
    bytes->clear();
    error->clear();
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return ReadStatus::Missing;
        *error = "cannot read " + file.string() + ": " + reason(errno);
        return ReadStatus::Failed;
    }
    struct stat sb {};
    if (::fstat(fd, &sb) != 0 || !S_ISREG(sb.st_mode)) {
        *error = "cannot read " + file.string() + ": not a plain file";
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
    auto fail = [&](int err) {
        *error = "cannot write " + file.string() + ": " + reason(err);
        return false;
    };
    if (file.empty()) return fail(ENOENT);
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
    return true;
}

std::filesystem::path moveAside(const std::filesystem::path& file) {
    std::filesystem::path bad = file;
    bad += ".bad";
    if (std::rename(file.c_str(), bad.c_str()) != 0) return {};
    return bad;
}

}  // namespace miral::storage
