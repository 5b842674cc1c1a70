#include "core/store/SQLiteTable3.h"

#include <charconv>
#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <sqlcipher/sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/platform/Utf.h"
#include "core/store/CipherKey.h"
#include "core/store/ReadAhead.h"
#include "core/store/SQLite3.h"
#include "core/store/TempFiles.h"

namespace corvane {

namespace fs = std::filesystem;

namespace {

struct Finalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalizer>;

// The cipher settings every library is written with, as SQLCipher 3 writes them, so
// that builds against SQLCipher 3 and 4 read each other's files. A setting a release
// does not know (SQLCipher 3.4 has no choice of algorithms) is ignored by it. The page
// size comes first and is set apart: a library is made with 4 KiB pages, where a rule
// item fits on its page, and one made before with SQLCipher 3's 1 KiB pages, where
// every item spilt over into pages of its own, opens with those.
constexpr std::string_view kCipherSettings[] = {
    "kdf_iter = 64000",
    "cipher_hmac_algorithm = HMAC_SHA1",
    "cipher_kdf_algorithm = PBKDF2_HMAC_SHA1",
};
constexpr int kNewPageSize = 4096;
constexpr int kPageSizes[] = {kNewPageSize, 1024};

std::string AsciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// A single-quoted SQL literal, every quote of the text doubled.
std::string Literal(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    out += '\'';
    return out;
}

// The column type of a declared type; the comparison is exact, as the type was
// written in the CREATE statement.
TSQLiteTable::ColumnType DeclaredType(const char* declared, int storageClass) {
    if (!declared) return static_cast<TSQLiteTable::ColumnType>(storageClass);
    const std::string_view type(declared);
    if (type == "INTEGER" || type == "BOOLEAN") return TSQLiteTable::Integer;
    if (type == "NUMERIC" || type == "FLOAT" || type == "DOUBLE" || type == "REAL")
        return TSQLiteTable::Numeric;
    if (type == "BLOB") return TSQLiteTable::Blob;
    return TSQLiteTable::Text;
}

// The names (upper-cased) and types of the columns of the statement's current row.
void ReadColumns(sqlite3_stmt* s, std::vector<std::string>& names,
                 std::vector<TSQLiteTable::ColumnType>& types) {
    const int count = sqlite3_column_count(s);
    names.reserve(static_cast<std::size_t>(count));
    types.reserve(static_cast<std::size_t>(count));
    for (int c = 0; c < count; ++c) {
        const char* name = sqlite3_column_name(s, c);
        names.push_back(AsciiUpper(name ? name : ""));
        types.push_back(DeclaredType(sqlite3_column_decltype(s, c), sqlite3_column_type(s, c)));
    }
}

TSQLiteTable::Cell ReadCell(sqlite3_stmt* s, int c, TSQLiteTable::ColumnType type) {
    if (sqlite3_column_type(s, c) == SQLITE_NULL) return {};
    switch (type) {
    case TSQLiteTable::Integer:
        return static_cast<std::int64_t>(sqlite3_column_int64(s, c));
    case TSQLiteTable::Numeric:
        return sqlite3_column_double(s, c);
    case TSQLiteTable::Blob: {
        const void* bytes = sqlite3_column_blob(s, c);
        const int size = sqlite3_column_bytes(s, c);
        if (size > 0 && bytes)
            return std::string(static_cast<const char*>(bytes), static_cast<std::size_t>(size));
        return {};
    }
    default: {
        // Up to the first zero byte, as a C text ends.
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, c));
        return std::string(text ? text : "");
    }
    }
}

std::int64_t CellInteger(const TSQLiteTable::Cell& cell) {
    if (std::holds_alternative<std::monostate>(cell)) return 0;
    if (const auto* value = std::get_if<std::int64_t>(&cell)) return *value;
    if (const auto* value = std::get_if<double>(&cell)) {
        // Truncated toward zero, held within the range of the type.
        constexpr double kLimit = 9223372036854775807.0;
        if (std::isnan(*value)) return 0;
        if (*value >= kLimit) return std::numeric_limits<std::int64_t>::max();
        if (*value <= -kLimit) return std::numeric_limits<std::int64_t>::min();
        return static_cast<std::int64_t>(*value);
    }
    throw ESQLiteException("Not an integer or numeric field");
}

std::string CellText(const TSQLiteTable::Cell& cell, TSQLiteTable::ColumnType type) {
    switch (type) {
    case TSQLiteTable::Integer:
        return std::to_string(CellInteger(cell));
    case TSQLiteTable::Numeric: {
        char buffer[64];
        const double value =
            std::holds_alternative<std::monostate>(cell) ? 0 : std::get<double>(cell);
        const auto end =
            std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15)
                .ptr;
        return std::string(buffer, end);
    }
    case TSQLiteTable::Blob:
    case TSQLiteTable::Text:
    case TSQLiteTable::Null:
        // A column without a declared type whose first value was null still holds the
        // texts of the later rows.
        if (const auto* text = std::get_if<std::string>(&cell)) return *text;
        return {};
    }
    return {};
}

// A connection that reads the library in large pieces (ReadAhead.h).
int OpenConnection(const std::string& fileName, sqlite3** raw) {
    // Once, before SQLite starts: a connection's pages are allocated as they are read,
    // not a hundred at once up front (400 KB that every short command touched).
    static const int pageCache = sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);
    (void)pageCache;
    return sqlite3_open_v2(fileName.c_str(), raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                           ReadAheadVfsName());
}

// Makes a rename inside `folder` durable.
bool FlushFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

void CheckResult(int code) {
    if (code != SQLITE_OK) throw ESQLiteException(ResultCodeText(code));
}

// ---- TSQLiteDatabase ------------------------------------------------------------------

void TSQLiteDatabase::Closer::operator()(sqlite3* handle) const {
    sqlite3_close(handle);
}

TSQLiteDatabase::TSQLiteDatabase(const std::string& fileName, const std::string& key,
                                 int busyTimeout) {
    inTransaction_ = false;
    PrepareCrypto();

    const fs::path folder = fs::path(fileName).parent_path();
    std::error_code ec;
    if (!folder.empty() && !fs::is_directory(folder, ec)) {
        // A folder that cannot be made shows as the open's own failure below.
        fs::create_directories(folder, ec);
    }

    if (!key.empty() && OpenWithRawKey(fileName, key, busyTimeout)) {
        Execute("PRAGMA temp_store = MEMORY;");
        return;
    }

    OpenHandle(fileName);
    SetBusyTimeout(busyTimeout);

    if (!key.empty()) {
        bool readsWithKey = false;
        for (const int pageSize : kPageSizes) {
            if (pageSize != kNewPageSize) {
                OpenHandle(fileName);
                SetBusyTimeout(busyTimeout);
            }
            Key(key, pageSize);
            try {
                Execute("PRAGMA SYNCHRONOUS=NORMAL;");
                readsWithKey = true;
                break;
            } catch (const ESQLiteException&) {
            }
        }
        // Not encrypted with this key: a plain file is encrypted now; anything else
        // fails in the attempt.
        if (!readsWithKey) EncryptPlainFile(fileName, key, busyTimeout);
    }

    Execute("PRAGMA SYNCHRONOUS=NORMAL;");
    Execute("PRAGMA temp_store = MEMORY;");
}

TSQLiteDatabase::~TSQLiteDatabase() {
    if (inTransaction_) {
        try {
            Execute("ROLLBACK;");
        } catch (...) {
            // Closing the connection rolls back what the statement could not.
        }
    }
}

void TSQLiteDatabase::OpenHandle(const std::string& fileName) {
    sqlite3* raw = nullptr;
    const int result = OpenConnection(fileName, &raw);
    handle_.reset(raw);
    if (result == SQLITE_OK) return;
    if (!raw)
        throw ESQLiteException("Failed to open database \"" + fileName + "\" : unknown error");
    throw ESQLiteException("Failed to open database \"" + fileName + "\" : " + sqlite3_errmsg(raw));
}

// A file with a salt opens with the key derived from it, from the cache when it holds
// one; a new file gets a salt of ours. False, with no connection, when the raw key
// does not read the file (a wrong passphrase, a plain or damaged file, a lock): the
// passphrase then takes the way it always took, with its own errors.
bool TSQLiteDatabase::OpenWithRawKey(const std::string& fileName, const std::string& key,
                                     int busyTimeout) {
    std::optional<CipherSalt> salt = FileSalt(fileName);
    const bool existing = salt.has_value();
    if (!salt) {
        std::error_code ec;
        const bool empty = !fs::exists(fileName, ec) || fs::file_size(fileName, ec) == 0;
        if (ec || !empty) return false;
        salt = NewSalt();
    }
    const auto opensWith = [&](const std::string& rawKey, int pageSize) {
        OpenHandle(fileName);
        SetBusyTimeout(busyTimeout);
        const std::string text = RawKeyText(rawKey, *salt);
        CheckResult(sqlite3_key(Handle(), text.data(), static_cast<int>(text.size())));
        PinCipherSettings("", pageSize);
        try {
            Execute("PRAGMA SYNCHRONOUS=NORMAL;");
            return true;
        } catch (const ESQLiteException&) {
            const bool notThisKey = sqlite3_errcode(Handle()) == SQLITE_NOTADB;
            handle_.reset();
            if (!notThisKey) throw;
            return false;
        }
    };
    // A file that is there may have been made with either page size; a new one gets
    // the new size.
    const auto opens = [&](const std::string& rawKey) {
        if (!existing) return opensWith(rawKey, kNewPageSize);
        for (const int pageSize : kPageSizes)
            if (opensWith(rawKey, pageSize)) return true;
        return false;
    };
    try {
        if (const auto cached = CachedRawKey(key, *salt); cached && opens(*cached)) return true;
        const std::string derived = DeriveRawKey(key, *salt);
        if (!opens(derived)) return false;
        KeepRawKey(key, *salt, derived);
        return true;
    } catch (const ESQLiteException&) {
        handle_.reset();
        return false;
    }
}

void TSQLiteDatabase::Key(const std::string& key, int pageSize) {
    CheckResult(sqlite3_key(Handle(), key.data(), static_cast<int>(key.size())));
    PinCipherSettings("", pageSize);
}

// Right after keying, before the first read derives the key from them.
void TSQLiteDatabase::PinCipherSettings(std::string_view schema, int pageSize) {
    Run("PRAGMA " + std::string(schema) + "cipher_page_size = " + std::to_string(pageSize) + ";");
    for (const std::string_view setting : kCipherSettings)
        Run("PRAGMA " + std::string(schema) + std::string(setting) + ";");
}

// SQLCipher cannot encrypt a plain file in place. The file is exported, encrypted, into
// a new file beside it, which is flushed and renamed over it: a crash at any point
// leaves either the plain library or the encrypted one, never a mix.
void TSQLiteDatabase::EncryptPlainFile(const std::string& fileName, const std::string& key,
                                       int busyTimeout) {
    handle_.reset();
    sqlite3* raw = nullptr;
    const int opened = OpenConnection(fileName, &raw);
    handle_.reset(raw);
    CheckResult(opened);
    SetBusyTimeout(busyTimeout);
    // Only a file that reads without a key is converted.
    Execute("PRAGMA SYNCHRONOUS=NORMAL;");

    // Replace the file a link points to, not the link.
    std::error_code ec;
    fs::path target = fs::canonical(fs::path(fileName), ec);
    if (ec) target = fs::path(fileName);

    // What killed conversions left beside it goes first.
    const fs::path stem = target.string() + ".encrypt-";
    (void)RemoveStaleTemporaries(stem);
    LockedTemporary tempFile(stem);
    if (!tempFile.ok()) CheckResult(SQLITE_CANTOPEN);
    const std::string& temp = tempFile.path();
    Run("ATTACH DATABASE " + Literal(temp) + " AS encrypted KEY " + Literal(key) + ";");
    PinCipherSettings("encrypted.", kNewPageSize);
    Run("SELECT sqlcipher_export('encrypted');");
    Run("DETACH DATABASE encrypted;");
    handle_.reset();

    // A journal or write-ahead log left beside the plain file belongs to another
    // connection's write; it would be played into the encrypted file after the rename.
    const fs::path journal = target.string() + "-journal";
    if (fs::exists(target.string() + "-wal", ec) ||
        (fs::exists(journal, ec) && fs::file_size(journal, ec) > 0))
        CheckResult(SQLITE_BUSY);

    // The original's permissions only now: a read-only library stays read-only, and
    // the export above could still write the copy.
    struct stat original {};
    if (::stat(target.c_str(), &original) == 0 &&
        ::fchmod(tempFile.fd(), original.st_mode & 07777) != 0)
        CheckResult(SQLITE_IOERR);
    if (::fsync(tempFile.fd()) != 0) CheckResult(SQLITE_IOERR);
    if (::rename(temp.c_str(), target.c_str()) != 0) CheckResult(SQLITE_IOERR);
    tempFile.keep();
    FlushFolder(target.parent_path().empty() ? std::string(".") : target.parent_path().string());

    raw = nullptr;
    const int reopened = OpenConnection(fileName, &raw);
    handle_.reset(raw);
    CheckResult(reopened);
    SetBusyTimeout(busyTimeout);
    Key(key, kNewPageSize);
}

void TSQLiteDatabase::SetBusyTimeout(int milliseconds) {
    sqlite3_busy_timeout(Handle(), milliseconds);
}

void TSQLiteDatabase::RaiseError(const std::string& text, const std::string& sql) const {
    sqlite3* handle = Handle();
    const char* message = handle ? sqlite3_errmsg(handle) : nullptr;
    if (handle && sqlite3_errcode(handle) != SQLITE_OK && message)
        throw ESQLiteException(text + " \"" + sql + "\" : " + message);
    throw ESQLiteException(text);
}

void TSQLiteDatabase::Execute(const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    const int prepared = sqlite3_prepare_v2(Handle(), sql.c_str(), -1, &raw, nullptr);
    const Statement statement(raw);
    if (prepared != SQLITE_OK) RaiseError(ResultCodeText(prepared), sql);
    if (!statement) RaiseError("Could not prepare SQL statement", sql);
    const int stepped = sqlite3_step(statement.get());
    if (stepped != SQLITE_DONE) RaiseError(ResultCodeText(stepped), sql);
}

void TSQLiteDatabase::Run(const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    const int prepared = sqlite3_prepare_v2(Handle(), sql.c_str(), -1, &raw, nullptr);
    const Statement statement(raw);
    if (prepared != SQLITE_OK) RaiseError(ResultCodeText(prepared), sql);
    if (!statement) RaiseError("Could not prepare SQL statement", sql);
    int stepped;
    while ((stepped = sqlite3_step(statement.get())) == SQLITE_ROW) {
    }
    if (stepped != SQLITE_DONE) RaiseError(ResultCodeText(stepped), sql);
}

std::unique_ptr<TSQLiteTable> TSQLiteDatabase::Query(const std::string& sql) {
    return std::make_unique<TSQLiteTable>(*this, sql);
}

bool TSQLiteDatabase::HasTable(std::string_view name) {
    // The name is quoted like any other text, so that no name can end the literal.
    const std::string literal = Literal(AsciiLower(name));
    const auto table = Query("select [sql] from sqlite_master where [type] = 'table' and "
                             "lower(name) = " +
                             literal + " ");
    return table->RowTotal() > 0;
}

void TSQLiteDatabase::OpenTransaction() {
    if (inTransaction_) throw ESQLiteException("Transaction already open");
    Execute("BEGIN TRANSACTION;");
    inTransaction_ = true;
}

void TSQLiteDatabase::CommitTransaction() {
    Execute("COMMIT;");
    inTransaction_ = false;
}

// ---- TSQLiteTable ---------------------------------------------------------------------

TSQLiteTable::TSQLiteTable(TSQLiteDatabase& db, const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    const int prepared = sqlite3_prepare_v2(db.Handle(), sql.c_str(), -1, &raw, nullptr);
    const Statement statement(raw);
    if (prepared != SQLITE_OK) db.RaiseError("Error executing SQL", sql);
    if (!statement) db.RaiseError("Could not prepare SQL statement", sql);

    sqlite3_stmt* const s = statement.get();
    for (;;) {
        const int stepped = sqlite3_step(s);
        if (stepped == SQLITE_DONE) break;
        if (stepped == SQLITE_BUSY) throw ESQLiteException("Could not prepare SQL statement");
        if (stepped != SQLITE_ROW) db.RaiseError("Could not retrieve data", sql);

        ++rowCount_;
        if (rowCount_ == 1) {
            ReadColumns(s, columnNames_, columnTypes_);
            columnCount_ = static_cast<int>(columnNames_.size());
        }
        for (int c = 0; c < columnCount_; ++c)
            cells_.push_back(ReadCell(s, c, columnTypes_[static_cast<std::size_t>(c)]));
    }
    currentRow_ = 0;
}

TSQLiteTable::~TSQLiteTable() = default;

bool TSQLiteTable::MoveNext() {
    if (AtEnd()) return false;
    ++currentRow_;
    return true;
}

TSQLiteTable::ColumnType TSQLiteTable::TypeAt(int column) const {
    if (column < 0 || column >= columnCount_)
        throw ESQLiteException("Column index out of range: " + std::to_string(column));
    return columnTypes_[static_cast<std::size_t>(column)];
}

const TSQLiteTable::Cell& TSQLiteTable::CellAt(int column) const {
    if (AtEnd()) throw ESQLiteException("Table is at End of File");
    TypeAt(column);
    return cells_[static_cast<std::size_t>(currentRow_) * static_cast<std::size_t>(columnCount_) +
                  static_cast<std::size_t>(column)];
}

int TSQLiteTable::ColumnIndex(std::string_view name) const {
    if (columnNames_.empty())
        throw ESQLiteException("Field " + std::string(name) + " Not found. Empty dataset");
    const std::string upper = AsciiUpper(name);
    for (std::size_t c = 0; c < columnNames_.size(); ++c)
        if (columnNames_[c] == upper) return static_cast<int>(c);
    throw ESQLiteException("Field not found in dataset: " + std::string(name));
}

std::string TSQLiteTable::TextAt(int column) const {
    const Cell& cell = CellAt(column);
    return CellText(cell, TypeAt(column));
}

std::int64_t TSQLiteTable::IntegerAt(int column) const {
    return CellInteger(CellAt(column));
}

double TSQLiteTable::RealAt(int column) const {
    const Cell& cell = CellAt(column);
    if (std::holds_alternative<std::monostate>(cell)) return 0;
    switch (TypeAt(column)) {
    case Integer:
        return static_cast<double>(std::get<std::int64_t>(cell));
    case Numeric:
        return std::get<double>(cell);
    default:
        throw ESQLiteException("Not an integer or numeric field");
    }
}

std::optional<std::string_view> TSQLiteTable::BlobAt(int column) const {
    const Cell& cell = CellAt(column);
    if (std::holds_alternative<std::monostate>(cell)) return std::nullopt;
    if (TypeAt(column) != Blob) throw ESQLiteException("Not a Blob field");
    return std::string_view(std::get<std::string>(cell));
}

std::string TSQLiteTable::BlobTextAt(int column) const {
    const auto bytes = BlobAt(column);
    if (!bytes || bytes->empty()) return {};
    return std::string(*bytes);
}

// ---- TSQLiteCursor --------------------------------------------------------------------

void TSQLiteCursor::Finalizer::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

TSQLiteCursor::TSQLiteCursor(TSQLiteDatabase& db, const std::string& sql) : db_(db), sql_(sql) {
    sqlite3_stmt* raw = nullptr;
    const int prepared = sqlite3_prepare_v2(db.Handle(), sql.c_str(), -1, &raw, nullptr);
    statement_.reset(raw);
    if (prepared != SQLITE_OK) db.RaiseError("Error executing SQL", sql);
    if (!statement_) db.RaiseError("Could not prepare SQL statement", sql);
}

TSQLiteCursor::~TSQLiteCursor() = default;

bool TSQLiteCursor::Next() {
    onRow_ = false;
    row_.clear();
    if (!statement_) return false;
    sqlite3_stmt* const s = statement_.get();
    const int stepped = sqlite3_step(s);
    if (stepped == SQLITE_DONE) {
        // Ends the read at once: the lock goes with the statement.
        statement_.reset();
        return false;
    }
    if (stepped == SQLITE_BUSY) throw ESQLiteException("Could not prepare SQL statement");
    if (stepped != SQLITE_ROW) db_.RaiseError("Could not retrieve data", sql_);
    if (columnNames_.empty()) ReadColumns(s, columnNames_, columnTypes_);
    row_.reserve(columnTypes_.size());
    for (std::size_t c = 0; c < columnTypes_.size(); ++c)
        row_.push_back(ReadCell(s, static_cast<int>(c), columnTypes_[c]));
    onRow_ = true;
    return true;
}

int TSQLiteCursor::ColumnIndex(std::string_view name) const {
    const std::string upper = AsciiUpper(name);
    for (std::size_t c = 0; c < columnNames_.size(); ++c)
        if (columnNames_[c] == upper) return static_cast<int>(c);
    throw ESQLiteException("Field not found in dataset: " + std::string(name));
}

std::string TSQLiteCursor::TextAt(int column) const {
    if (!onRow_) throw ESQLiteException("Table is at End of File");
    if (column < 0 || static_cast<std::size_t>(column) >= row_.size())
        throw ESQLiteException("Column index out of range: " + std::to_string(column));
    const auto c = static_cast<std::size_t>(column);
    return CellText(row_[c], columnTypes_[c]);
}

void TSQLiteCursor::TakeText(int column, std::string& out) {
    if (!onRow_) throw ESQLiteException("Table is at End of File");
    if (column < 0 || static_cast<std::size_t>(column) >= row_.size())
        throw ESQLiteException("Column index out of range: " + std::to_string(column));
    const auto c = static_cast<std::size_t>(column);
    const bool text = columnTypes_[c] == TSQLiteTable::Blob ||
                      columnTypes_[c] == TSQLiteTable::Text ||
                      columnTypes_[c] == TSQLiteTable::Null;
    if (auto* held = std::get_if<std::string>(&row_[c]); held && text) {
        out.swap(*held);
        return;
    }
    out = CellText(row_[c], columnTypes_[c]);
}

} // namespace corvane
