// The English texts of SQLite's result codes, as the database layer reports them.
#pragma once

#include <string>

namespace corvane {

// The text of an SQLite result code; a code without a text of its own (negative codes
// included) reads as "Unknown SQLite Error Code \"<code>\"".
std::string ResultCodeText(int code);

} // namespace corvane
