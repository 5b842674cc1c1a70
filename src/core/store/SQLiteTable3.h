// The database access layer: one connection to one encrypted SQLite file
// (TSQLiteDatabase), the complete in-memory result of one query (TSQLiteTable), the
// rows of one query read one by one (TSQLiteCursor) and the one exception type the
// layer raises (ESQLiteException).
//
// Statement texts and column values pass through unchanged: the program's text is
// UTF-8 and so is the database's.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/store/Exception.h"

struct sqlite3;
struct sqlite3_stmt;

namespace corvane {

class ESQLiteException : public Exception {
public:
    explicit ESQLiteException(const std::string& message) : Exception(message) {}
};

// Does nothing for 0; otherwise raises ESQLiteException with ResultCodeText(code).
void CheckResult(int code);

class TSQLiteTable;

class TSQLiteDatabase {
public:
    // Opens `fileName` (creating its folder and the file when missing) with `key`
    // (empty: no encryption). A plain, unencrypted file met with a key is encrypted
    // with it on the way. Raises ESQLiteException when the file cannot be opened or
    // does not open with the key.
    TSQLiteDatabase(const std::string& fileName, const std::string& key, int busyTimeout);
    // Rolls back an open transaction, then closes the connection.
    virtual ~TSQLiteDatabase();

    TSQLiteDatabase(const TSQLiteDatabase&) = delete;
    TSQLiteDatabase& operator=(const TSQLiteDatabase&) = delete;

    // Runs the first statement of `sql`, which must produce no rows.
    void Execute(const std::string& sql);
    // Runs the first statement of `sql` and returns all its rows.
    std::unique_ptr<TSQLiteTable> Query(const std::string& sql);
    // Whether a table of that name exists (names compare without regard to case).
    bool HasTable(std::string_view name);

    // Refused with "Transaction already open" while one is open.
    void OpenTransaction();
    void CommitTransaction();
    bool InTransaction() const { return inTransaction_; }

    void SetBusyTimeout(int milliseconds);

    // Raises ESQLiteException from `text`, the statement and the connection's last
    // error: text + " \"<sql>\" : <SQLite's message>", or the text alone when the
    // connection reports no error.
    [[noreturn]] void RaiseError(const std::string& text, const std::string& sql) const;

    sqlite3* Handle() const { return handle_.get(); }

private:
    struct Closer {
        void operator()(sqlite3* handle) const;
    };

    void OpenHandle(const std::string& fileName);
    bool OpenWithRawKey(const std::string& fileName, const std::string& key, int busyTimeout);
    void Key(const std::string& key, int pageSize);
    void PinCipherSettings(std::string_view schema, int pageSize);
    void EncryptPlainFile(const std::string& fileName, const std::string& key, int busyTimeout);
    // Runs one statement of the layer's own to its end, whatever rows it gives.
    void Run(const std::string& sql);

    std::unique_ptr<sqlite3, Closer> handle_;
    bool inTransaction_ = false;
};

class TSQLiteTable {
public:
    // Column types, fixed from the first row.
    enum ColumnType : int { Integer = 1, Numeric = 2, Text = 3, Blob = 4, Null = 5 };

    // Runs `sql` on `db` and reads every row. Use TSQLiteDatabase::Query.
    TSQLiteTable(TSQLiteDatabase& db, const std::string& sql);
    virtual ~TSQLiteTable();

    TSQLiteTable(const TSQLiteTable&) = delete;
    TSQLiteTable& operator=(const TSQLiteTable&) = delete;

    int RowTotal() const { return rowCount_; }
    int ColumnCount() const { return columnCount_; }
    // The column names as SQLite reports them, upper-cased; empty for an empty result.
    const std::vector<std::string>& ColumnNames() const { return columnNames_; }
    ColumnType TypeAt(int column) const;

    bool AtEnd() const { return currentRow_ >= rowCount_; }
    // Moves to the next row; false (and nothing changes) at the end.
    bool MoveNext();

    // The first column whose name equals `name` without regard to case.
    int ColumnIndex(std::string_view name) const;
    std::string TextByName(std::string_view name) const { return TextAt(ColumnIndex(name)); }

    // The current row's value as text: integers in decimal, numbers in general format,
    // blobs as their bytes; a null reads as "0" in integer and numeric columns and as
    // an empty text elsewhere.
    std::string TextAt(int column) const;
    std::int64_t IntegerAt(int column) const;
    double RealAt(int column) const;
    // The bytes of a blob column; nullopt for a null or empty blob. Valid while the
    // table lives.
    std::optional<std::string_view> BlobAt(int column) const;
    std::string BlobTextAt(int column) const;

    // One value as read from its column.
    using Cell = std::variant<std::monostate, std::int64_t, double, std::string>;

private:
    const Cell& CellAt(int column) const;

    int rowCount_ = 0;
    int columnCount_ = 0;
    int currentRow_ = 0;
    std::vector<std::string> columnNames_;
    std::vector<ColumnType> columnTypes_;
    std::vector<Cell> cells_;
};

// The rows of one query read one at a time, for results too large to hold in memory.
// Values read as in TSQLiteTable (column types fixed from the first row). The
// statement holds the database's read lock until the cursor is destroyed.
class TSQLiteCursor {
public:
    // Prepares `sql` on `db`; the first Next() moves to the first row.
    TSQLiteCursor(TSQLiteDatabase& db, const std::string& sql);
    ~TSQLiteCursor();

    TSQLiteCursor(const TSQLiteCursor&) = delete;
    TSQLiteCursor& operator=(const TSQLiteCursor&) = delete;

    // Moves to the next row; false at the end. Raises ESQLiteException as
    // TSQLiteTable's constructor does when a row cannot be read.
    bool Next();

    int ColumnIndex(std::string_view name) const;
    std::string TextAt(int column) const;
    std::string TextByName(std::string_view name) const { return TextAt(ColumnIndex(name)); }
    // The text TextAt gives, moved into `out`: the row no longer holds it.
    void TakeText(int column, std::string& out);

private:
    struct Finalizer {
        void operator()(sqlite3_stmt* statement) const;
    };

    TSQLiteDatabase& db_;
    std::string sql_;
    std::unique_ptr<sqlite3_stmt, Finalizer> statement_;
    bool onRow_ = false;
    std::vector<std::string> columnNames_;
    std::vector<TSQLiteTable::ColumnType> columnTypes_;
    std::vector<TSQLiteTable::Cell> row_;
};

} // namespace corvane
