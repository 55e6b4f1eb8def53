// Opening the file a transfer sends, on POSIX.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "transfer.h"

namespace tovrane {

SourceFile open_source(const char* path) {
    SourceFile source;
    if (path == nullptr || *path == '\0') return source;
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        source.state = (errno == ENOENT || errno == ENOTDIR) ? SourceFile::State::kMissing
                                                             : SourceFile::State::kUnusable;
        return source;
    }
    source.state = SourceFile::State::kUnusable;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uint64_t>(st.st_size) > kLargestFile) {
        ::close(fd);
        return source;
    }
    source.file.reset(::fdopen(fd, "rb"));
    if (!source.file) {
        ::close(fd);
        return source;
    }
    source.size = static_cast<std::uint64_t>(st.st_size);
    std::tm local{};
    const std::time_t written = st.st_mtim.tv_sec;
    if (localtime_r(&written, &local) != nullptr) source.written = local;
    source.state = SourceFile::State::kReady;
    return source;
}

}  // namespace tovrane
