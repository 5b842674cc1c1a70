// The rows of a scan, read from the library and their detection documents walked on a
// thread of its own, a few batches ahead of the rows being evaluated. Reading (page
// decryption above all) and evaluating then share the machine's cores.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "core/engine/DetectionWalk.h"
#include "core/store/IniFile.h"
#include "core/store/PlatformGroups.h"
#include "core/store/RuleLibrary.h"

namespace corvane {

struct ScanRow {
    int index = 0; // 1 for the first row
    RuleRow row;
    // Whether the item's platform group takes in the running release; only then is its
    // document walked.
    bool applies = false;
    // The walk of the document, when the reading thread had the time for it: rows are
    // handed on unwalked while the evaluation waits for them, and it walks them itself.
    enum class Walked { No, Yes, OutOfMemory } walked = Walked::No;
    DetectionWalk walk;
};

// Rows handed over together; the rows past `used` are room kept for the next ones.
struct ScanBatch {
    std::vector<ScanRow> rows;
    std::size_t used = 0;
};

class ScanAhead {
public:
    // Starts reading `rules`, at most `total` rows. Until this object is gone, the
    // cursor's connection belongs to the reading thread.
    ScanAhead(TSQLiteCursor& rules, int total, const IniDocument& groups,
              const RunningRelease& release);
    // Stops the reading and waits for it.
    ~ScanAhead();
    ScanAhead(const ScanAhead&) = delete;
    ScanAhead& operator=(const ScanAhead&) = delete;

    // Fills `batch` with the next rows (handing back the rows it held, whose room is
    // used again); false when none are left. An error of the reading is raised here
    // once the rows read before it were taken.
    bool next(ScanBatch& batch);

private:
    void read(TSQLiteCursor& rules, int total);

    const IniDocument& groups_;
    const RunningRelease& release_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<ScanBatch> full_, empty_;
    bool done_ = false, stop_ = false;
    std::atomic<bool> waiting_{false}; // the evaluation waits for rows
    std::exception_ptr error_;
    std::thread thread_;
};

} // namespace corvane
