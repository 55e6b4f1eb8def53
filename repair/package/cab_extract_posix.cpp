// Cabinets through libmspack.
#include "cab_extract.h"

#include <fcntl.h>
#include <mspack.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cab_catalogue.h"

namespace tq318::repair {

namespace {

// libmspack reads and writes through a table of functions; ours opens every
// output with O_NOFOLLOW and stops a member that writes more than it declared.
struct Handle {
    int fd = -1;
    std::uint64_t written = 0;
    std::uint64_t writeLimit = 0;  // 0: reading
};

struct System {
    mspack_system base{};  // first member: libmspack passes &base back to us
    std::uint64_t nextWriteLimit = 0;
};

mspack_file* sysOpen(mspack_system* self, const char* filename, int mode) {
    auto* system = reinterpret_cast<System*>(self);
    int flags = O_CLOEXEC | O_NOFOLLOW;
    switch (mode) {
        case MSPACK_SYS_OPEN_READ: flags |= O_RDONLY; break;
        case MSPACK_SYS_OPEN_WRITE: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
        default: return nullptr;  // the cabinet reader never needs update or append
    }
    const int fd = ::open(filename, flags, 0600);
    if (fd < 0) return nullptr;
    if (mode == MSPACK_SYS_OPEN_WRITE) {
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return nullptr;
        }
    }
    auto handle = std::make_unique<Handle>();
    handle->fd = fd;
    if (mode == MSPACK_SYS_OPEN_WRITE) handle->writeLimit = system->nextWriteLimit;
    return reinterpret_cast<mspack_file*>(handle.release());
}

void sysClose(mspack_file* file) {
    std::unique_ptr<Handle> handle(reinterpret_cast<Handle*>(file));
    if (handle && handle->fd >= 0) ::close(handle->fd);
}

int sysRead(mspack_file* file, void* buffer, int bytes) {
    auto* handle = reinterpret_cast<Handle*>(file);
    if (bytes < 0) return -1;
    ssize_t n;
    do {
        n = ::read(handle->fd, buffer, static_cast<std::size_t>(bytes));
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

int sysWrite(mspack_file* file, void* buffer, int bytes) {
    auto* handle = reinterpret_cast<Handle*>(file);
    if (bytes < 0) return -1;
    if (handle->written + static_cast<std::uint64_t>(bytes) > handle->writeLimit) return -1;
    std::size_t done = 0;
    while (done < static_cast<std::size_t>(bytes)) {
        const ssize_t n = ::write(handle->fd, static_cast<char*>(buffer) + done,
                                  static_cast<std::size_t>(bytes) - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        done += static_cast<std::size_t>(n);
    }
    handle->written += done;
    return bytes;
}

int sysSeek(mspack_file* file, off_t offset, int mode) {
    auto* handle = reinterpret_cast<Handle*>(file);
    int whence;
    switch (mode) {
        case MSPACK_SYS_SEEK_START: whence = SEEK_SET; break;
        case MSPACK_SYS_SEEK_CUR: whence = SEEK_CUR; break;
        case MSPACK_SYS_SEEK_END: whence = SEEK_END; break;
        default: return -1;
    }
    return ::lseek(handle->fd, offset, whence) < 0 ? -1 : 0;
}

off_t sysTell(mspack_file* file) {
    auto* handle = reinterpret_cast<Handle*>(file);
    return ::lseek(handle->fd, 0, SEEK_CUR);
}

void sysMessage(mspack_file*, const char*, ...) {}  // the caller reports failures itself

void* sysAlloc(mspack_system*, size_t bytes) { return std::malloc(bytes); }
void sysFree(void* ptr) { std::free(ptr); }
void sysCopy(void* src, void* dest, size_t bytes) { std::memmove(dest, src, bytes); }

System makeSystem() {
    System s;
    s.base.open = sysOpen;
    s.base.close = sysClose;
    s.base.read = sysRead;
    s.base.write = sysWrite;
    s.base.seek = sysSeek;
    s.base.tell = sysTell;
    s.base.message = sysMessage;
    s.base.alloc = sysAlloc;
    s.base.free = sysFree;
    s.base.copy = sysCopy;
    s.base.null_ptr = nullptr;
    return s;
}

struct DecompressorDeleter {
    void operator()(mscab_decompressor* d) const { mspack_destroy_cab_decompressor(d); }
};

}  // namespace

bool extractFileFromCab(std::string_view package, std::string_view atMember,
                        std::string_view destination, int /*flags*/, std::string_view /*sourceDir*/,
                        const CabLimits& limits) {
    const auto member = wantedMember(atMember);
    if (!member || package.empty() || destination.empty()) return false;

    System system = makeSystem();
    std::unique_ptr<mscab_decompressor, DecompressorDeleter> cabd(
        mspack_create_cab_decompressor(&system.base));
    if (!cabd) return false;
    // Damaged data is refused, not repaired.
    cabd->set_param(cabd.get(), MSCABD_PARAM_FIXMSZIP, 0);
    cabd->set_param(cabd.get(), MSCABD_PARAM_SALVAGE, 0);

    const std::string packagePath(package);
    mscabd_cabinet* cabinet = cabd->open(cabd.get(), packagePath.c_str());
    if (cabinet == nullptr) return false;
    auto closeCabinet = [&](mscabd_cabinet* c) { cabd->close(cabd.get(), c); };
    std::unique_ptr<mscabd_cabinet, decltype(closeCabinet)> cabinetGuard(cabinet, closeCabinet);

    CabCatalogue catalogue(*member, limits);
    mscabd_file* wanted = nullptr;
    for (mscabd_file* f = cabinet->files; f != nullptr; f = f->next) {
        const std::string_view name = f->filename != nullptr ? f->filename : "";
        const bool first = !catalogue.wantedSize();
        if (!catalogue.add(name, f->length)) return false;
        if (first && catalogue.wantedSize()) wanted = f;
    }
    if (wanted == nullptr) return false;

    const std::string destinationPath(destination);
    system.nextWriteLimit = wanted->length;
    if (cabd->extract(cabd.get(), wanted, destinationPath.c_str()) != MSPACK_ERR_OK) {
        // Leave nothing half-written behind, but never remove through a link.
        struct stat st {};
        if (::lstat(destinationPath.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            ::unlink(destinationPath.c_str());
        }
        return false;
    }
    return true;
}

}  // namespace tq318::repair
