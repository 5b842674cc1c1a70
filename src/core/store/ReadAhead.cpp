#include "core/store/ReadAhead.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <sqlcipher/sqlite3.h>
#include <vector>

namespace corvane {

namespace {

constexpr sqlite3_int64 kPiece = 128 * 1024;

sqlite3_vfs* Parent();

// The file as the layer keeps it: SQLite's own file follows this header in memory.
struct File {
    sqlite3_file base;
    std::vector<char>* piece; // what was fetched, from pieceStart on
    sqlite3_int64 pieceStart;
    sqlite3_int64 lastEnd; // where the last read ended
    bool readAhead;        // the library itself; journals are read as they are
    sqlite3_file* inner() { return reinterpret_cast<sqlite3_file*>(this + 1); }
    void drop() {
        if (piece) piece->clear();
    }
};

File* Of(sqlite3_file* f) {
    return reinterpret_cast<File*>(f);
}

int Close(sqlite3_file* f) {
    File* file = Of(f);
    const int rc =
        file->inner()->pMethods ? file->inner()->pMethods->xClose(file->inner()) : SQLITE_OK;
    delete file->piece;
    file->piece = nullptr;
    return rc;
}

// A read that lies inside what was fetched is copied from there; one that follows on
// from the last read fetches the next piece first.
int Read(sqlite3_file* f, void* out, int amount, sqlite3_int64 offset) {
    File* file = Of(f);
    sqlite3_file* inner = file->inner();
    const sqlite3_int64 end = offset + amount;
    const bool sequential = offset == file->lastEnd;
    file->lastEnd = end;
    std::vector<char>& piece = *file->piece;
    const auto inside = [&] {
        return offset >= file->pieceStart &&
               end <= file->pieceStart + static_cast<sqlite3_int64>(piece.size());
    };
    if (!file->readAhead) return inner->pMethods->xRead(inner, out, amount, offset);
    if (!inside() && sequential && amount <= kPiece / 4) {
        piece.resize(static_cast<std::size_t>(kPiece));
        int rc = inner->pMethods->xRead(inner, piece.data(), static_cast<int>(kPiece), offset);
        sqlite3_int64 got = kPiece;
        if (rc == SQLITE_IOERR_SHORT_READ) {
            // Only what the file holds counts; SQLite filled the rest with zeros.
            sqlite3_int64 size = 0;
            rc = inner->pMethods->xFileSize(inner, &size);
            got = std::clamp<sqlite3_int64>(size - offset, 0, kPiece);
        }
        if (rc != SQLITE_OK) got = 0;
        piece.resize(static_cast<std::size_t>(got));
        file->pieceStart = offset;
    }
    if (!inside()) return inner->pMethods->xRead(inner, out, amount, offset);
    std::memcpy(out, piece.data() + (offset - file->pieceStart), static_cast<std::size_t>(amount));
    return SQLITE_OK;
}

int Write(sqlite3_file* f, const void* data, int amount, sqlite3_int64 offset) {
    Of(f)->drop();
    return Of(f)->inner()->pMethods->xWrite(Of(f)->inner(), data, amount, offset);
}

int Truncate(sqlite3_file* f, sqlite3_int64 size) {
    Of(f)->drop();
    return Of(f)->inner()->pMethods->xTruncate(Of(f)->inner(), size);
}

int Sync(sqlite3_file* f, int flags) {
    return Of(f)->inner()->pMethods->xSync(Of(f)->inner(), flags);
}

int FileSize(sqlite3_file* f, sqlite3_int64* size) {
    return Of(f)->inner()->pMethods->xFileSize(Of(f)->inner(), size);
}

// Another connection may change the file between two transactions: what was fetched
// goes with every change of the lock.
int Lock(sqlite3_file* f, int level) {
    Of(f)->drop();
    return Of(f)->inner()->pMethods->xLock(Of(f)->inner(), level);
}

int Unlock(sqlite3_file* f, int level) {
    Of(f)->drop();
    return Of(f)->inner()->pMethods->xUnlock(Of(f)->inner(), level);
}

int CheckReservedLock(sqlite3_file* f, int* out) {
    return Of(f)->inner()->pMethods->xCheckReservedLock(Of(f)->inner(), out);
}

int FileControl(sqlite3_file* f, int op, void* arg) {
    return Of(f)->inner()->pMethods->xFileControl(Of(f)->inner(), op, arg);
}

int SectorSize(sqlite3_file* f) {
    return Of(f)->inner()->pMethods->xSectorSize(Of(f)->inner());
}

int DeviceCharacteristics(sqlite3_file* f) {
    return Of(f)->inner()->pMethods->xDeviceCharacteristics(Of(f)->inner());
}

// A file of SQLite's own layer without shared memory answers that it has none.
bool HasShm(sqlite3_file* f) {
    return Of(f)->inner()->pMethods->iVersion >= 2;
}

int ShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
    if (!HasShm(f)) return SQLITE_IOERR;
    return Of(f)->inner()->pMethods->xShmMap(Of(f)->inner(), region, size, extend, out);
}

int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
    Of(f)->drop();
    if (!HasShm(f)) return SQLITE_IOERR;
    return Of(f)->inner()->pMethods->xShmLock(Of(f)->inner(), offset, n, flags);
}

void ShmBarrier(sqlite3_file* f) {
    if (HasShm(f)) Of(f)->inner()->pMethods->xShmBarrier(Of(f)->inner());
}

int ShmUnmap(sqlite3_file* f, int deleteFlag) {
    if (!HasShm(f)) return SQLITE_OK;
    return Of(f)->inner()->pMethods->xShmUnmap(Of(f)->inner(), deleteFlag);
}

// Pages are never mapped: a read goes through Read.
int Fetch(sqlite3_file*, sqlite3_int64, int, void** out) {
    *out = nullptr;
    return SQLITE_OK;
}

int Unfetch(sqlite3_file*, sqlite3_int64, void*) {
    return SQLITE_OK;
}

const sqlite3_io_methods kMethods = {
    3,
    Close,
    Read,
    Write,
    Truncate,
    Sync,
    FileSize,
    Lock,
    Unlock,
    CheckReservedLock,
    FileControl,
    SectorSize,
    DeviceCharacteristics,
    ShmMap,
    ShmLock,
    ShmBarrier,
    ShmUnmap,
    Fetch,
    Unfetch,
};

// Only the library file itself is read ahead; journals and temporary files are read
// as SQLite reads them.
int Open(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* outFlags) {
    File* file = Of(f);
    file->base.pMethods = nullptr;
    file->piece = nullptr;
    sqlite3_file* inner = file->inner();
    inner->pMethods = nullptr;
    const int rc = Parent()->xOpen(Parent(), name, inner, flags, outFlags);
    if (rc != SQLITE_OK) {
        if (inner->pMethods) inner->pMethods->xClose(inner);
        return rc;
    }
    if (!inner->pMethods) return SQLITE_CANTOPEN;
    file->piece = new (std::nothrow) std::vector<char>();
    if (!file->piece) {
        inner->pMethods->xClose(inner);
        return SQLITE_NOMEM;
    }
    file->pieceStart = 0;
    file->lastEnd = -1;
    file->readAhead = (flags & SQLITE_OPEN_MAIN_DB) != 0;
    file->base.pMethods = &kMethods;
    return SQLITE_OK;
}

int Delete(sqlite3_vfs*, const char* name, int syncDir) {
    return Parent()->xDelete(Parent(), name, syncDir);
}
int Access(sqlite3_vfs*, const char* name, int flags, int* out) {
    return Parent()->xAccess(Parent(), name, flags, out);
}
int FullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
    return Parent()->xFullPathname(Parent(), name, size, out);
}
void* DlOpen(sqlite3_vfs*, const char* name) {
    return Parent()->xDlOpen(Parent(), name);
}
void DlError(sqlite3_vfs*, int size, char* out) {
    Parent()->xDlError(Parent(), size, out);
}
void (*DlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) {
    return Parent()->xDlSym(Parent(), handle, symbol);
}
void DlClose(sqlite3_vfs*, void* handle) {
    Parent()->xDlClose(Parent(), handle);
}
int Randomness(sqlite3_vfs*, int size, char* out) {
    return Parent()->xRandomness(Parent(), size, out);
}
int Sleep(sqlite3_vfs*, int microseconds) {
    return Parent()->xSleep(Parent(), microseconds);
}
int CurrentTime(sqlite3_vfs*, double* out) {
    return Parent()->xCurrentTime(Parent(), out);
}
int GetLastError(sqlite3_vfs*, int size, char* out) {
    return Parent()->xGetLastError ? Parent()->xGetLastError(Parent(), size, out) : 0;
}
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) {
    return Parent()->xCurrentTimeInt64(Parent(), out);
}

sqlite3_vfs* parent = nullptr;

sqlite3_vfs* Parent() {
    return parent;
}

} // namespace

const char* ReadAheadVfsName() {
    static sqlite3_vfs vfs{};
    static bool registered = false;
    static std::once_flag once;
    std::call_once(once, [] {
        parent = sqlite3_vfs_find(nullptr);
        if (!parent || parent->iVersion < 2) return;
        vfs.iVersion = 2;
        vfs.szOsFile = static_cast<int>(sizeof(File)) + parent->szOsFile;
        vfs.mxPathname = parent->mxPathname;
        vfs.zName = "corvane-read-ahead";
        vfs.xOpen = Open;
        vfs.xDelete = Delete;
        vfs.xAccess = Access;
        vfs.xFullPathname = FullPathname;
        vfs.xDlOpen = DlOpen;
        vfs.xDlError = DlError;
        vfs.xDlSym = DlSym;
        vfs.xDlClose = DlClose;
        vfs.xRandomness = Randomness;
        vfs.xSleep = Sleep;
        vfs.xCurrentTime = CurrentTime;
        vfs.xGetLastError = GetLastError;
        vfs.xCurrentTimeInt64 = CurrentTimeInt64;
        registered = sqlite3_vfs_register(&vfs, 0) == SQLITE_OK;
    });
    return registered ? vfs.zName : nullptr;
}

} // namespace corvane
