// The cabinet through the system's cabinet API (FCI in cabinet.dll): one
// folder, one cabinet, the members in the order given.
#include <windows.h>

#include <fci.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "cabinet_writer.h"

namespace make_package {

namespace {

// FCI's callbacks: the C runtime's file calls, which take the _O_ flags FCI
// passes.
FNFCIALLOC(on_alloc) { return std::malloc(cb); }
FNFCIFREE(on_free) { std::free(memory); }
FNFCIOPEN(on_open) {
    const int fd = ::_open(pszFile, oflag | _O_BINARY, pmode);
    if (fd < 0) *err = errno;
    return fd;
}
FNFCIREAD(on_read) {
    const int n = ::_read(static_cast<int>(hf), memory, cb);
    if (n < 0) *err = errno;
    return static_cast<UINT>(n);
}
FNFCIWRITE(on_write) {
    const int n = ::_write(static_cast<int>(hf), memory, cb);
    if (n < 0) *err = errno;
    return static_cast<UINT>(n);
}
FNFCICLOSE(on_close) {
    const int r = ::_close(static_cast<int>(hf));
    if (r != 0) *err = errno;
    return r;
}
FNFCISEEK(on_seek) {
    const long r = ::_lseek(static_cast<int>(hf), dist, seektype);
    if (r < 0) *err = errno;
    return r;
}
FNFCIDELETE(on_delete) {
    const int r = ::_unlink(pszFile);
    if (r != 0) *err = errno;
    return r;
}
FNFCIGETTEMPFILE(on_temp_file) {
    char folder[MAX_PATH];
    char name[MAX_PATH];
    const DWORD n = ::GetTempPathA(sizeof folder, folder);
    if (n == 0 || n >= sizeof folder || ::GetTempFileNameA(folder, "cab", 0, name) == 0) return FALSE;
    ::DeleteFileA(name);  // FCI creates it itself
    if (std::strlen(name) >= static_cast<std::size_t>(cbTempName)) return FALSE;
    std::strcpy(pszTempName, name);
    return TRUE;
}
FNFCIFILEPLACED(on_placed) { return 0; }
FNFCIGETNEXTCABINET(on_next_cabinet) { return TRUE; }
FNFCISTATUS(on_status) { return 0; }
// A member's time and attributes, as gcab stores them (the archive bit).
FNFCIGETOPENINFO(on_open_info) {
    const HANDLE h = ::CreateFileA(pszName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *err = ENOENT;
        return -1;
    }
    FILETIME written{}, local{};
    const bool dated = ::GetFileTime(h, nullptr, nullptr, &written) && ::FileTimeToLocalFileTime(&written, &local) &&
                       ::FileTimeToDosDateTime(&local, pdate, ptime);
    ::CloseHandle(h);
    if (!dated) *pdate = *ptime = 0;
    *pattribs = _A_ARCH;
    return on_open(pszName, _O_RDONLY, 0, err, pv);
}

struct FciCloser {
    void operator()(void* h) const { ::FCIDestroy(h); }
};

const char* operation(int code) {
    switch (code) {
        case FCIERR_OPEN_SRC: return "cannot open a member";
        case FCIERR_READ_SRC: return "cannot read a member";
        case FCIERR_ALLOC_FAIL: return "out of memory";
        case FCIERR_TEMP_FILE: return "cannot write a temporary file";
        case FCIERR_BAD_COMPR_TYPE: return "the compression is not supported";
        case FCIERR_CAB_FILE: return "cannot write the cabinet";
        case FCIERR_MCI_FAIL: return "the compression failed";
        default: return "the cabinet API failed";
    }
}

}  // namespace

std::string write_cabinet(const std::filesystem::path& folder, const std::vector<std::string>& names,
                          const std::filesystem::path& output, bool compress) {
    CCAB cab{};
    cab.cb = 0x7fffffff;
    cab.cbFolderThresh = 0x7fffffff;
    const std::string where = output.parent_path().string() + "\\";
    const std::string file = output.filename().string();
    if (where.size() >= sizeof cab.szCabPath || file.size() >= sizeof cab.szCab) return "the package's path is too long";
    std::strcpy(cab.szCabPath, where.c_str());
    std::strcpy(cab.szCab, file.c_str());
    ERF error{};
    const std::unique_ptr<void, FciCloser> fci(::FCICreate(&error, on_placed, on_alloc, on_free, on_open, on_read,
                                                           on_write, on_close, on_seek, on_delete, on_temp_file,
                                                           &cab, nullptr));
    if (!fci) return operation(error.erfOper);
    const TCOMP type = compress ? tcompTYPE_MSZIP : tcompTYPE_NONE;
    for (const std::string& name : names) {
        std::string source = (folder / name).string();
        std::string stored = name;
        if (!::FCIAddFile(fci.get(), source.data(), stored.data(), FALSE, on_next_cabinet, on_status, on_open_info,
                          type))
            return std::string(operation(error.erfOper)) + ": " + name;
    }
    if (!::FCIFlushCabinet(fci.get(), FALSE, on_next_cabinet, on_status)) return operation(error.erfOper);
    return {};
}

}  // namespace make_package
