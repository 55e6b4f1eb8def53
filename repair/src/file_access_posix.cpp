#include "file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace tq318::repair {

std::optional<FileReader> FileReader::open(const std::filesystem::path& path, bool no_follow) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (no_follow ? O_NOFOLLOW : 0));
    if (fd < 0) return std::nullopt;
    FileReader reader(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return reader;
}

FileReader::FileReader(FileReader&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

FileReader& FileReader::operator=(FileReader&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
}

FileReader::~FileReader() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::optional<std::uint64_t> FileReader::size() const {
    struct stat info {};
    if (::fstat(static_cast<int>(handle_), &info) != 0 || info.st_size < 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
}

long FileReader::read(std::span<std::uint8_t> into) {
    ssize_t n;
    do {
        n = ::read(static_cast<int>(handle_), into.data(), into.size());
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

PathKind pathKind(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return PathKind::Missing;
    if (S_ISDIR(st.st_mode)) return PathKind::Folder;
    return S_ISREG(st.st_mode) ? PathKind::Regular : PathKind::Other;
}

std::string writeNewFile(const std::filesystem::path& path, std::string_view bytes) {
    const auto why = [&] { return path.string() + ": " + std::strerror(errno); };
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return why();
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const bool written = done == bytes.size() && ::fsync(fd) == 0;
    const std::string failure = written ? std::string() : why();
    ::close(fd);
    return failure;
}

std::string replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) return to.string() + ": " + std::strerror(errno);
    return {};
}

unsigned long processNumber() { return static_cast<unsigned long>(::getpid()); }

std::tm utcCalendar(std::time_t seconds) {
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    return tm;
}

namespace {

std::string errnoText(const std::filesystem::path& p) { return p.string() + ": " + std::strerror(errno); }

// A symbolic link or something else than a folder where our folder (or its
// parent) should be; a missing one is fine unless `mustExist`.
std::optional<std::string> notOurFolder(const std::filesystem::path& folder, bool mustExist) {
    for (const std::filesystem::path& p : {folder.parent_path(), folder}) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0) {
            if (errno == ENOENT && !mustExist) continue;
            return errnoText(p);
        }
        if (S_ISLNK(st.st_mode)) return p.string() + ": is a symbolic link, not our own folder; no record written";
        if (!S_ISDIR(st.st_mode)) return p.string() + ": not a folder";
    }
    return std::nullopt;
}

}  // namespace

std::string writeIntoOwnFolder(const std::filesystem::path& folder, const std::string& name, std::string_view bytes) {
    if (auto why = notOurFolder(folder, false)) return *why;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return folder.string() + ": " + ec.message();
    if (auto why = notOurFolder(folder, true)) return *why;
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) return errnoText(folder);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{dir};
    struct stat st {};
    if (::fstat(dir, &st) != 0) return errnoText(folder);
    if (st.st_uid != ::geteuid()) return folder.string() + ": belongs to another user; no record written";
    if ((st.st_mode & 07777) != 0700 && ::fchmod(dir, 0700) != 0) return errnoText(folder);

    const std::string temp = "." + name + ".tmp";
    const int fd = ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return errnoText(folder / temp);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const bool written = done == bytes.size() && ::fsync(fd) == 0;
    std::string why = written ? std::string() : errnoText(folder / temp);
    ::close(fd);
    if (written && ::renameat(dir, temp.c_str(), dir, name.c_str()) != 0) why = errnoText(folder / name);
    if (!why.empty()) ::unlinkat(dir, temp.c_str(), 0);
    return why;
}

}  // namespace tq318::repair
