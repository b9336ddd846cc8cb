// Scanning a stream of export text on several threads.
//
// The text arrives in order from one producer (the Arrow renderer). It is cut at exact
// multiples of the profiler's digest block, so that the input digest stays complete, with the
// quote state at each cut, into the core's pieces; workers scan them apart (a piece after the
// first resumes from the opening bytes) and the partial profiles are merged in order at the
// end. Measured on the 150 MB wide bench export: one thread renders and scans at about half the
// speed of the file reader, which scans on every core; with pieces on worker threads the two
// meet.
//
// The first piece is the opening the later ones resume from, so it must hold the header and
// the first data row whole: it is held back, growing by whole digest blocks (a doubling size at
// a time), until the file plan's opening rule says it does, whatever its size.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "export/state.hpp"

namespace qorv_chemical_engineering_edge_py {

class StreamPieces {
  public:
    StreamPieces(const qorv_chemical_engineering_edge::export_profile::ProfileOptions& options,
                 std::string label, unsigned threads);
    ~StreamPieces();
    StreamPieces(const StreamPieces&) = delete;
    StreamPieces& operator=(const StreamPieces&) = delete;

    // The text not yet handed over, appended to in place by the producer.
    std::string& buffer() { return pending_; }
    // Hands the full digest blocks of buffer() to the workers (waiting while too many are queued).
    void flush();

    // Asked by flush() about every 50 ms on the producer's thread; once it answers true, the
    // workers drop what is queued, take no more pieces and stopped() holds.
    void watch(std::function<bool()> cancelled) { cancelled_ = std::move(cancelled); }
    bool stopped() const { return stopped_; }

    // Scans what is left, waits for the workers and merges: the partial of the whole text.
    qorv_chemical_engineering_edge::export_profile::Result<
        qorv_chemical_engineering_edge::export_profile::PartialProfile>
    finish();

  private:
    struct Queued {
        std::size_t index;
        std::string text;
        std::uint64_t offset;
        bool inside_quotes;
    };
    void hand_over(std::string text);
    void work();
    void poll();  // asks cancelled_ when 50 ms have passed since it last did
    // True when the first `size` bytes of buffer() hold the header and the first data row.
    bool holds_layout(std::size_t size) const;

    const qorv_chemical_engineering_edge::export_profile::ProfileOptions& options_;
    std::shared_ptr<const qorv_chemical_engineering_edge::export_profile::ScanSettings> settings_;
    std::string label_;
    std::string pending_;  // text not yet handed over
    std::string opening_;  // the first piece: header and first rows, for resumed scanners
    std::uint64_t offset_ = 0;
    bool inside_quotes_ = false;
    std::size_t pieces_handed_ = 0;
    std::size_t opening_wanted_;  // the size at which the held-back opening is tried next

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Queued> queue_;
    bool closing_ = false;
    std::vector<std::optional<qorv_chemical_engineering_edge::export_profile::Result<
        qorv_chemical_engineering_edge::export_profile::PartialProfile>>>
        partials_;
    bool failed_ = false;  // a worker threw (out of memory); finish() reports it
    std::vector<std::thread> workers_;
    std::size_t queue_limit_;

    std::function<bool()> cancelled_;
    std::chrono::steady_clock::time_point last_poll_ = std::chrono::steady_clock::now();
    std::atomic<bool> stopped_{false};
};

}  // namespace qorv_chemical_engineering_edge_py
