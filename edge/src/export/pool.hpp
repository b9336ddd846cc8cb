// The ordered work queue: an export's pieces scanned on worker threads, their partials merged in
// order, as they arrive, on the thread that feeds the queue.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "export/plan.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

// Jobs run on `threads` workers in the order they are pushed; the thread that pushes them merges
// their partials in that order. Every wait there asks `cancelled` (without any lock held: the
// caller may take an interpreter's lock in it) at least every 50 ms; once it says so the workers
// stop and the queue answers kCancelled.
class WorkQueue {
  public:
    // A job scans one piece: `scratch` is its worker's own buffer, `stop` set once the queue stops.
    using Job =
        std::function<Result<PieceScan>(std::string& scratch, const std::atomic<bool>& stop)>;

    // `limit`: pushing waits while that many jobs are queued, running or unmerged (0: no limit).
    // `on_stop` runs once the queue stops, before the workers are joined (to wake waiting jobs).
    WorkQueue(unsigned threads, std::size_t limit, Cancelled cancelled,
              std::function<void()> on_stop = {});
    ~WorkQueue();  // stops the workers; the merged partial is dropped
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    // Queues a job worth `bytes` of progress, merging what has arrived; false once stopped.
    bool push(Job job, std::uint64_t bytes);
    // Asks `cancelled` if 50 ms have passed since it was last asked; true once stopped.
    bool poll();
    bool stopped() const noexcept { return stopped_; }
    // Waits for every job and merges them into `merged`, calling `progress` with the bytes of the
    // finished jobs out of `total` as they arrive: the first error in order, or kCancelled. A job
    // that threw rethrows here.
    std::optional<ProfileError> finish(PartialProfile& merged, const Progress& progress = {},
                                       std::uint64_t total = 0);

  private:
    struct Slot {
        Job job;
        std::uint64_t bytes = 0;
        std::optional<Result<PieceScan>> result;
        bool done = false;
    };
    void work();
    // Merges the jobs that have arrived in order; with `wait`, first waits (a poll at a time) for
    // the next one. Called and returns with `lock` held.
    // False when the wait ran out (the stop was asked for meanwhile).
    bool merge_ready(std::unique_lock<std::mutex>& lock, bool wait, const Progress& progress,
                     std::uint64_t total);
    bool ask(std::unique_lock<std::mutex>& lock);  // asks `cancelled` with the lock let go
    void stop(std::unique_lock<std::mutex>& lock);
    void join();

    std::size_t limit_;
    Cancelled cancelled_;
    std::function<void()> on_stop_;
    std::vector<std::thread> workers_;

    std::mutex mu_;
    std::condition_variable queued_;   // a job was pushed, or the queue closes
    std::condition_variable arrived_;  // a job finished
    std::deque<Slot> slots_;           // from the first unmerged job on
    std::size_t first_ = 0;            // the index of slots_.front()
    std::size_t next_ = 0;             // the next job a worker takes
    std::size_t pushed_ = 0;
    std::size_t finished_ = 0;
    std::size_t reported_ = 0;  // finished_ when progress was last reported
    bool closing_ = false;
    std::atomic<bool> stopped_{false};
    std::uint64_t bytes_done_ = 0;
    std::exception_ptr failure_;  // a job threw (out of memory)
    std::optional<ProfileError> error_;
    PartialProfile merged_;
    std::chrono::steady_clock::time_point last_poll_ = std::chrono::steady_clock::now();
};

// Scans every piece of `plans` (in file order, each file's pieces in order) on `threads`
// workers and merges them into `merged`; an error, or kCancelled once `cancelled` says so.
std::optional<ProfileError> scan_plans(std::span<const FilePlan> plans,
                                       const ProfileOptions& options, unsigned threads,
                                       const Progress& progress, const Cancelled& cancelled,
                                       PartialProfile& merged);

// An export's text arriving in order from one producer (a rendered table), cut into pieces at
// exact multiples of the digest block (so the input digest needs no stitching) with the quote
// parity at each cut, and scanned on the work queue with a few pieces in flight.
//
// The first piece is the opening the later ones resume from, so it must hold the header and the
// first data row whole: it is held back, growing by whole digest blocks (a doubling size at a
// time), until the file plan's opening rule says it does, whatever its size.
class TextPieces {
  public:
    // `threads` 0: one per core.
    TextPieces(const ProfileOptions& options, std::string label, unsigned threads,
               Cancelled cancelled = {});

    // The text not yet handed over, appended to in place by the producer.
    std::string& buffer() noexcept { return pending_; }
    // Hands the full digest blocks of buffer() to the queue (waiting while enough are in flight).
    void flush();
    bool stopped() const noexcept { return queue_.stopped(); }
    // Scans what is left and waits for the workers: the partial of the whole text, or kCancelled.
    Result<PartialProfile> finish();

  private:
    void hand_over(std::string text);
    // True when the first `size` bytes of buffer() hold the header and the first data row.
    bool holds_layout(std::size_t size) const;

    ProfileOptions options_;  // a copy: the caller's need not outlive the workers
    std::shared_ptr<const ScanSettings> settings_;
    std::string label_;
    std::string pending_;  // text not yet handed over
    std::string opening_;  // the first piece, for resumed scanners; fixed once handed over
    std::uint64_t offset_ = 0;
    bool inside_quotes_ = false;
    std::size_t pieces_handed_ = 0;
    std::size_t opening_wanted_;  // the size at which the held-back opening is tried next
    WorkQueue queue_;
};

}  // namespace qorv_chemical_engineering_edge::export_profile
