#include "core/run/JournalLog.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "core/run/JournalFiles.h"

namespace corvane::journal {

namespace fs = std::filesystem;

namespace {

// A log larger than this is not one the journal wrote.
constexpr std::uintmax_t kMaxLogBytes = 1ull << 30;

std::uint64_t Checksum(std::string_view json, const fs::path& file, std::uint64_t offset) {
    std::uint64_t hash = 1469598103934665603ull;
    const auto add = [&](std::string_view bytes) {
        for (unsigned char c : bytes)
            hash = (hash ^ c) * 1099511628211ull;
    };
    // The log's run and machine, not where the journal lies: a journal moved whole
    // still reads.
    const fs::path run = file.parent_path();
    add(run.parent_path().filename().native());
    add(std::string_view("/", 1));
    add(run.filename().native());
    add(std::string_view("\0", 1));
    add(std::to_string(offset));
    add(std::string_view("\0", 1));
    add(json);
    return hash;
}

} // namespace

std::string LogLine(std::string_view json, const fs::path& file, std::uint64_t offset) {
    char sum[24];
    std::snprintf(sum, sizeof sum, "\t%016llx\n",
                  static_cast<unsigned long long>(Checksum(json, file, offset)));
    std::string line;
    line.reserve(json.size() + 18);
    line.append(json).append(sum);
    return line;
}

EntryLog::EntryLog(fs::path file) : file_(std::move(file)) {
    fd_ = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0) {
        size_ = static_cast<std::uint64_t>(st.st_size);
        return;
    }
    error_ = "the journal cannot be written: " + file_.string() + ": " + std::strerror(errno);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

EntryLog::~EntryLog() {
    if (fd_ >= 0) ::close(fd_);
}

bool EntryLog::append(std::string_view json) {
    if (fd_ < 0 || broken_) return false;
    const std::string line = LogLine(json, file_, size_);
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n =
            ::pwrite(fd_, line.data() + done, line.size() - done, static_cast<off_t>(size_ + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    if (done == line.size()) {
        size_ += line.size();
        synced_ = false;
        return true;
    }
    error_ = "the journal cannot be written: " + file_.string() + ": " + std::strerror(errno);
    // A line cut short goes again; a log that keeps one would glue the next to it.
    if (done > 0 && ::ftruncate(fd_, static_cast<off_t>(size_)) != 0) broken_ = true;
    return false;
}

bool EntryLog::sync() {
    if (fd_ < 0 || broken_) return false;
    if (!synced_) {
        if (::fdatasync(fd_) != 0) {
            error_ =
                "the journal cannot be written: " + file_.string() + ": " + std::strerror(errno);
            return false;
        }
        synced_ = true;
    }
    if (!folderSynced_) {
        if (!SyncFolder(file_.parent_path())) {
            error_ = "the journal cannot be written: " + file_.parent_path().string() + ": " +
                     std::strerror(errno);
            return false;
        }
        folderSynced_ = true;
    }
    return true;
}

bool ReadLog(const fs::path& file,
             const std::function<void(std::size_t, std::string_view, const std::string&)>& entry) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(file, ec)) ||
        fs::file_size(file, ec) > kMaxLogBytes)
        return false;
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::string line;
    std::uint64_t offset = 0;
    for (std::size_t number = 1; std::getline(in, line); ++number) {
        if (in.eof()) break; // no line break: a write cut short
        const std::uint64_t at = offset;
        offset += line.size() + 1;
        const std::size_t tab = line.rfind('\t');
        std::uint64_t sum = 0;
        const char* first = line.data() + tab + 1;
        const char* last = line.data() + line.size();
        if (tab == std::string::npos || last - first != 16 ||
            std::from_chars(first, last, sum, 16).ptr != last) {
            entry(number, {}, "not a journal record");
            continue;
        }
        const std::string_view json(line.data(), tab);
        if (sum != Checksum(json, file, at)) {
            entry(number, {}, "its checksum does not match: not written whole");
            continue;
        }
        entry(number, json, {});
    }
    return !in.bad();
}

} // namespace corvane::journal
