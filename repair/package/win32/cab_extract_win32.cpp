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

namespace tq318::repair {

namespace {

constexpr char kCabinetName[] = "package.cab";

struct File {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::uint64_t written = 0;
    std::uint64_t writeLimit = 0;  // 0: reading
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
    bool overLimit = false;
    bool wantedDone = false;  // the wanted member was written whole
};
thread_local Extraction* currentExtraction = nullptr;

INT_PTR toHandle(std::unique_ptr<File> file) { return reinterpret_cast<INT_PTR>(file.release()); }
File* fileOf(INT_PTR hf) { return reinterpret_cast<File*>(hf); }

FNALLOC(fdiAlloc) { return std::malloc(cb); }
FNFREE(fdiFree) { std::free(pv); }

FNOPEN(fdiOpen) {
    (void)pmode;
    // Only the package is ever read; FDI asks for nothing else here.
    if (currentExtraction == nullptr || pszFile == nullptr || std::string_view(pszFile) != kCabinetName ||
        (oflag & (_O_WRONLY | _O_RDWR | _O_CREAT)) != 0) {
        return -1;
    }
    auto file = std::make_unique<File>();
    file->handle = ::CreateFileW(currentExtraction->package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (file->handle == INVALID_HANDLE_VALUE || ::GetFileType(file->handle) != FILE_TYPE_DISK) return -1;
    return toHandle(std::move(file));
}

FNREAD(fdiRead) {
    DWORD got = 0;
    if (!::ReadFile(fileOf(hf)->handle, pv, cb, &got, nullptr)) return static_cast<UINT>(-1);
    return got;
}

FNWRITE(fdiWrite) {
    File* file = fileOf(hf);
    if (file->written + cb > file->writeLimit) {
        if (currentExtraction != nullptr) currentExtraction->overLimit = true;
        return static_cast<UINT>(-1);
    }
    DWORD wrote = 0;
    if (!::WriteFile(file->handle, pv, cb, &wrote, nullptr) || wrote != cb) return static_cast<UINT>(-1);
    file->written += wrote;
    return cb;
}

FNCLOSE(fdiClose) {
    std::unique_ptr<File> file(fileOf(hf));
    return 0;
}

FNSEEK(fdiSeek) {
    DWORD method = FILE_BEGIN;
    switch (seektype) {
        case SEEK_SET: method = FILE_BEGIN; break;
        case SEEK_CUR: method = FILE_CURRENT; break;
        case SEEK_END: method = FILE_END; break;
        default: return -1;
    }
    LARGE_INTEGER to{}, now{};
    to.QuadPart = dist;
    if (!::SetFilePointerEx(fileOf(hf)->handle, to, &now, method) || now.QuadPart > 0x7fffffff) return -1;
    return static_cast<__LONG32>(now.QuadPart);
}

INT_PTR openDestination(std::uint64_t size) {
    auto file = std::make_unique<File>();
    file->handle = ::CreateFileW(currentExtraction->destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (file->handle == INVALID_HANDLE_VALUE || ::GetFileType(file->handle) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(file->handle, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return -1;
    }
    file->writeLimit = size;
    return toHandle(std::move(file));
}

FNFDINOTIFY(fdiNotify) {
    Extraction& x = *currentExtraction;
    switch (fdint) {
        case fdintCOPY_FILE: {
            const std::string_view name = pfdin->psz1 != nullptr ? pfdin->psz1 : "";
            const std::uint64_t size = static_cast<std::uint32_t>(pfdin->cb);
            if (!x.extracting) {
                // First pass: the catalogue only, nothing written.
                return x.catalogue->add(name, size) ? 0 : -1;
            }
            if (x.wantedDone || name != x.catalogue->wanted() || size != x.catalogue->wantedSize()) return 0;
            return openDestination(size);
        }
        case fdintCLOSE_FILE_INFO: {
            std::unique_ptr<File> file(fileOf(pfdin->hf));
            x.wantedDone = file->written == file->writeLimit && ::FlushFileBuffers(file->handle);
            return x.wantedDone ? TRUE : FALSE;
        }
        case fdintCABINET_INFO:
        case fdintENUMERATE: return 0;
        default: return -1;  // a member continued from or into another cabinet: not ours
    }
}

struct FdiDestroy {
    void operator()(void* hfdi) const { ::FDIDestroy(hfdi); }
};

bool runPass(Extraction& x) {
    ERF error{};
    const std::unique_ptr<void, FdiDestroy> fdi(::FDICreate(fdiAlloc, fdiFree, fdiOpen, fdiRead, fdiWrite,
                                                            fdiClose, fdiSeek, cpuUNKNOWN, &error));
    if (!fdi) return false;
    char cabinet[sizeof kCabinetName];
    std::copy(std::begin(kCabinetName), std::end(kCabinetName), cabinet);
    char folder[] = "";
    currentExtraction = &x;
    const BOOL ok = ::FDICopy(fdi.get(), cabinet, folder, 0, fdiNotify, nullptr, nullptr);
    currentExtraction = nullptr;
    return ok != FALSE;
}

void removeIfRegular(const std::filesystem::path& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
        ::DeleteFileW(path.c_str());
    }
}

}  // namespace

bool extractFileFromCab(std::string_view package, std::string_view atMember,
                        std::string_view destination, int /*flags*/, std::string_view /*sourceDir*/,
                        const CabLimits& limits) {
    const auto member = wantedMember(atMember);
    if (!member || package.empty() || destination.empty()) return false;

    CabCatalogue catalogue(*member, limits);
    Extraction x;
    x.package = std::filesystem::path(std::string(package));
    x.destination = std::filesystem::path(std::string(destination));
    x.catalogue = &catalogue;
    if (!runPass(x) || !catalogue.wantedSize()) return false;
    x.extracting = true;
    if (!runPass(x) || !x.wantedDone) {
        removeIfRegular(x.destination);
        return false;
    }
    return true;
}

}  // namespace tq318::repair
