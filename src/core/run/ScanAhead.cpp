#include "core/run/ScanAhead.h"

#include <csignal>
#include <pthread.h>

namespace corvane {

namespace {

// Rows per batch, and batches read ahead: a few hundred rows at most are held.
constexpr std::size_t kBatchRows = 64;
constexpr std::size_t kBatchesAhead = 4;

} // namespace

ScanAhead::ScanAhead(TSQLiteCursor& rules, int total, const IniDocument& groups,
                     const RunningRelease& release)
    : groups_(groups), release_(release) {
    // The reading thread takes no signals: the change watch's signals go to the thread
    // that evaluates.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    thread_ = std::thread([this, &rules, total] { read(rules, total); });
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

ScanAhead::~ScanAhead() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ScanAhead::read(TSQLiteCursor& rules, int total) {
    std::vector<ScanRow> batch;
    std::exception_ptr error;
    bool pending = false; // the last row of the batch is not read whole yet
    try {
        for (int i = 1; i <= total; ++i) {
            if (!rules.Next()) break;
            if (batch.empty()) batch.reserve(kBatchRows);
            ScanRow& row = batch.emplace_back();
            pending = true;
            row.index = i;
            row.row = Readable(ReadScanRow(rules));
            row.applies = PlatformGroupApplies(row.row.item.OSId, groups_, release_);
            row.walked = false;
            if (row.applies) {
                try {
                    row.walk.record(row.row.item.OptText);
                    row.walked = true;
                } catch (const std::bad_alloc&) {
                }
            }
            pending = false;
            if (batch.size() < kBatchRows) continue;
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stop_ || full_.size() < kBatchesAhead; });
            if (stop_) return;
            full_.push_back(std::move(batch));
            batch.clear();
            if (!empty_.empty()) {
                batch = std::move(empty_.front());
                empty_.pop_front();
                batch.clear();
            }
            lock.unlock();
            changed_.notify_all();
        }
    } catch (...) {
        // A row that could not be read ends the reading; the rows before it are
        // handed on first.
        if (pending) batch.pop_back();
        error = std::current_exception();
    }
    {
        const std::lock_guard lock(mutex_);
        if (!batch.empty()) full_.push_back(std::move(batch));
        error_ = error;
        done_ = true;
    }
    changed_.notify_all();
}

bool ScanAhead::next(std::vector<ScanRow>& batch) {
    std::unique_lock lock(mutex_);
    if (!batch.empty() && empty_.size() < kBatchesAhead) empty_.push_back(std::move(batch));
    batch.clear();
    changed_.wait(lock, [&] { return done_ || !full_.empty(); });
    if (!full_.empty()) {
        batch = std::move(full_.front());
        full_.pop_front();
        lock.unlock();
        changed_.notify_all();
        return true;
    }
    if (error_) std::rethrow_exception(error_);
    return false;
}

} // namespace corvane
