// Fuzz target for the INI reader and writer: any file must load without a crash, a leak
// or undefined behaviour, and a key written into it must change that one line only (or
// add it, or add its section at the end): every other line keeps its bytes. A file the
// writer refuses stays as it was.
//
// The first byte chooses the key to write; the rest is the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "core/store/IniFile.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

std::string Read(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t end = text.find('\n', pos);
        const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back(text.substr(pos, next - pos));
        pos = next;
    }
    return lines;
}

// `after` is `before` with at most one line changed (keeping its line end), or with one
// key line, or a section and its key, added; a last line may gain its line end.
void CheckOneLineChanged(std::string_view before, std::string_view after) {
    const auto a = Lines(before), b = Lines(after);
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head])
        ++head;
    std::size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    const std::size_t oldCount = a.size() - head - tail, newCount = b.size() - head - tail;
    // The key may already hold the value: then nothing changes.
    if (oldCount == 0 && newCount == 0) return;
    Check(oldCount <= 1 && newCount >= 1 && newCount <= 4);
    if (oldCount == 0) return;
    const std::string_view was = a[head], now = b[head];
    if (!was.ends_with('\n')) {
        // The last line gained a line end before what was added; or was itself replaced.
        Check(head + 1 == a.size());
        Check(now.starts_with(was) || newCount == 1);
        return;
    }
    Check(newCount == 1);
    const std::string_view end = was.ends_with("\r\n") ? "\r\n" : "\n";
    Check(now.ends_with(end));
}

const std::string& TempFile() {
    // On a memory file system: the writer flushes every file it writes.
    static const std::string file = [] {
        ::mkdir("/dev/shm/corvane-ini-fuzz", 0700);
        return "/dev/shm/corvane-ini-fuzz/setting-" + std::to_string(::getpid()) + ".ini";
    }();
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvane;
    if (size == 0) return 0;
    static const struct {
        const char *section, *key, *value;
    } kKeys[] = {{"Setting", "ScanTime", "2020-01-02"},
                 {"setting", "FIXTIME", "中文"},
                 {"新", "k", "v"},
                 {"Setting", "Other", "x=y"}};
    const auto& key = kKeys[data[0] % 4];
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    // Loading never fails, whatever the text.
    for (IniSyntax syntax : {IniSyntax::Profile, IniSyntax::GroupText}) {
        const IniDocument doc(text, syntax);
        for (const std::string& section : doc.sections())
            for (const std::string& name : doc.keys(section, IniLookup::Last))
                Check(doc.find(section, name, IniLookup::Last).has_value());
    }

    const std::string& file = TempFile();
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    const bool written = IniWriteString(file, key.section, key.key, key.value);
    const std::string after = Read(file);
    if (!written) {
        Check(after == text);
    } else {
        const bool utf16 = text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF");
        if (utf16) {
            const std::string back = ReadTextFile(file);
            std::ofstream(file, std::ios::binary | std::ios::trunc)
                .write(text.data(), static_cast<std::streamsize>(text.size()));
            CheckOneLineChanged(ReadTextFile(file), back);
        } else {
            CheckOneLineChanged(text, after);
        }
        Check(IniDocument(ReadTextFile(file)).read(key.section, key.key) == key.value || utf16);
    }
    ::unlink(file.c_str());
    return 0;
}
