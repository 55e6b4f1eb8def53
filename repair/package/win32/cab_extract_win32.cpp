// Cabinets through the system's cabinet library (FDI in cabinet.dll). FDI
// opens files by name through our callbacks: the cabinet is given to it by a
// placeholder name that the open callback maps to the package, and the
// member is written to a file we open ourselves (never through a link),
// stopped when it writes more than the catalogue declared.
#include "cab_extract.h"

#include <windows.h>
#include <fcntl.h>
#include <fdi.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "cab_catalogue.h"

namespace pelorim {

namespace {

constexpr char kCabinetName[] = "package.cab";

struct File {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::uint64_t written = 0;
    std::uint64_t write_limit = 0;  // 0: reading
    ~File() {
        if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    }
};

// What one extraction's callbacks share (FDI passes no context to them).
struct Extraction {
    std::filesystem::path package;
    std::filesystem::path destination;
    CabCatalogue* catalogue = nullptr;
    bool extracting = false;   // second pass: write the wanted member
    bool over_limit = false;
    bool wanted_done = false;  // the wanted member was written whole
};
thread_local Extraction* g_extraction = nullptr;

INT_PTR to_handle(std::unique_ptr<File> file) { return reinterpret_cast<INT_PTR>(file.release()); }
File* file_of(INT_PTR hf) { return reinterpret_cast<File*>(hf); }

FNALLOC(fdi_alloc) { return std::malloc(cb); }
FNFREE(fdi_free) { std::free(pv); }

FNOPEN(fdi_open) {
    (void)pmode;
    // Only the package is ever read; FDI asks for nothing else here.
    if (g_extraction == nullptr || pszFile == nullptr || std::string_view(pszFile) != kCabinetName ||
        (oflag & (_O_WRONLY | _O_RDWR | _O_CREAT)) != 0) {
        return -1;
    }
    auto file = std::make_unique<File>();
    file->handle = ::CreateFileW(g_extraction->package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (file->handle == INVALID_HANDLE_VALUE || ::GetFileType(file->handle) != FILE_TYPE_DISK) return -1;
    return to_handle(std::move(file));
}

FNREAD(fdi_read) {
    DWORD got = 0;
    if (!::ReadFile(file_of(hf)->handle, pv, cb, &got, nullptr)) return static_cast<UINT>(-1);
    return got;
}

FNWRITE(fdi_write) {
    File* file = file_of(hf);
    if (file->written + cb > file->write_limit) {
        if (g_extraction != nullptr) g_extraction->over_limit = true;
        return static_cast<UINT>(-1);
    }
    DWORD wrote = 0;
    if (!::WriteFile(file->handle, pv, cb, &wrote, nullptr) || wrote != cb) return static_cast<UINT>(-1);
    file->written += wrote;
    return cb;
}

FNCLOSE(fdi_close) {
    std::unique_ptr<File> file(file_of(hf));
    return 0;
}

FNSEEK(fdi_seek) {
    DWORD method = FILE_BEGIN;
    switch (seektype) {
        case SEEK_SET: method = FILE_BEGIN; break;
        case SEEK_CUR: method = FILE_CURRENT; break;
        case SEEK_END: method = FILE_END; break;
        default: return -1;
    }
    LARGE_INTEGER to{}, now{};
    to.QuadPart = dist;
    if (!::SetFilePointerEx(file_of(hf)->handle, to, &now, method) || now.QuadPart > 0x7fffffff) return -1;
    return static_cast<__LONG32>(now.QuadPart);
}

INT_PTR open_destination(std::uint64_t size) {
    auto file = std::make_unique<File>();
    file->handle = ::CreateFileW(g_extraction->destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (file->handle == INVALID_HANDLE_VALUE || ::GetFileType(file->handle) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(file->handle, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return -1;
    }
    file->write_limit = size;
    return to_handle(std::move(file));
}

FNFDINOTIFY(fdi_notify) {
    Extraction& x = *g_extraction;
    switch (fdint) {
        case fdintCOPY_FILE: {
            const std::string_view name = pfdin->psz1 != nullptr ? pfdin->psz1 : "";
            const std::uint64_t size = static_cast<std::uint32_t>(pfdin->cb);
            if (!x.extracting) {
                // First pass: the catalogue only, nothing written.
                return x.catalogue->add(name, size) ? 0 : -1;
            }
            if (x.wanted_done || name != x.catalogue->wanted() || size != x.catalogue->wantedSize()) return 0;
            return open_destination(size);
        }
        case fdintCLOSE_FILE_INFO: {
            std::unique_ptr<File> file(file_of(pfdin->hf));
            x.wanted_done = file->written == file->write_limit && ::FlushFileBuffers(file->handle);
            return x.wanted_done ? TRUE : FALSE;
        }
        case fdintCABINET_INFO:
        case fdintENUMERATE: return 0;
        default: return -1;  // a member continued from or into another cabinet: not ours
    }
}

struct FdiDestroy {
    void operator()(void* hfdi) const { ::FDIDestroy(hfdi); }
};

bool run_pass(Extraction& x) {
    ERF error{};
    const std::unique_ptr<void, FdiDestroy> fdi(::FDICreate(fdi_alloc, fdi_free, fdi_open, fdi_read, fdi_write,
                                                            fdi_close, fdi_seek, cpuUNKNOWN, &error));
    if (!fdi) return false;
    char cabinet[sizeof kCabinetName];
    std::copy(std::begin(kCabinetName), std::end(kCabinetName), cabinet);
    char folder[] = "";
    g_extraction = &x;
    const BOOL ok = ::FDICopy(fdi.get(), cabinet, folder, 0, fdi_notify, nullptr, nullptr);
    g_extraction = nullptr;
    return ok != FALSE;
}

void remove_if_regular(const std::filesystem::path& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
        ::DeleteFileW(path.c_str());
    }
}

}  // namespace

bool ExtractFileFromCab(std::string_view package, std::string_view at_member,
                        std::string_view destination, int /*flags*/, std::string_view /*source_dir*/,
                        const CabLimits& limits) {
    const auto member = wantedMember(at_member);
    if (!member || package.empty() || destination.empty()) return false;

    CabCatalogue catalogue(*member, limits);
    Extraction x;
    x.package = std::filesystem::path(std::string(package));
    x.destination = std::filesystem::path(std::string(destination));
    x.catalogue = &catalogue;
    if (!run_pass(x) || !catalogue.wantedSize()) return false;
    x.extracting = true;
    if (!run_pass(x) || !x.wanted_done) {
        remove_if_regular(x.destination);
        return false;
    }
    return true;
}

}  // namespace pelorim
