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
    try {
        thread_ = std::thread([this, &rules, total] { read(rules, total); });
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        throw;
    }
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
    ScanBatch batch;
    std::exception_ptr error;
    try {
        for (int i = 1; i <= total;) {
            // The rows of a batch are read, then their documents walked for as long as
            // the evaluation has rows to work on.
            for (; batch.used < kBatchRows && i <= total; ++i) {
                if (!rules.Next()) {
                    total = 0;
                    break;
                }
                if (batch.used == batch.rows.size()) batch.rows.emplace_back();
                ScanRow& row = batch.rows[batch.used];
                row.index = i;
                TakeScanRow(rules, row.row);
                row.applies = PlatformGroupApplies(row.row.item.OSId, groups_, release_);
                row.walked = ScanRow::Walked::No;
                ++batch.used;
            }
            for (std::size_t r = 0; r < batch.used && !waiting_.load(std::memory_order_relaxed);
                 ++r) {
                ScanRow& row = batch.rows[r];
                if (!row.applies) continue;
                try {
                    row.walk.record(row.row.item.OptText);
                    row.walked = ScanRow::Walked::Yes;
                } catch (const std::bad_alloc&) {
                    row.walked = ScanRow::Walked::OutOfMemory;
                }
            }
            if (batch.used == 0) break;
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stop_ || full_.size() < kBatchesAhead; });
            if (stop_) return;
            full_.push_back(std::move(batch));
            batch = {};
            if (!empty_.empty()) {
                batch = std::move(empty_.front());
                empty_.pop_front();
            }
            lock.unlock();
            changed_.notify_all();
        }
    } catch (...) {
        // A row that could not be read ends the reading; the rows read before it are
        // handed on first.
        error = std::current_exception();
    }
    {
        const std::lock_guard lock(mutex_);
        if (batch.used > 0) full_.push_back(std::move(batch));
        error_ = error;
        done_ = true;
    }
    changed_.notify_all();
}

bool ScanAhead::next(ScanBatch& batch) {
    std::unique_lock lock(mutex_);
    if (!batch.rows.empty() && empty_.size() < kBatchesAhead) {
        batch.used = 0;
        empty_.push_back(std::move(batch));
    }
    batch = {};
    if (!done_ && full_.empty()) {
        waiting_ = true;
        changed_.wait(lock, [&] { return done_ || !full_.empty(); });
        waiting_ = false;
    }
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
