// A file layer under SQLite that reads a library in large pieces: a read that follows
// on from the one before fetches the next 128 KiB at once, and the pages after it are
// served from there, so that a scan of the whole rule table costs a few dozen reads
// rather than one per page. What was fetched is kept only within one transaction: it is
// dropped whenever the connection's lock changes and on every write.
#pragma once

namespace corvane {

// The name of the file layer for sqlite3_open_v2, registered on first use; null when it
// cannot be registered (SQLite's own layer is used then).
const char* ReadAheadVfsName();

} // namespace corvane
