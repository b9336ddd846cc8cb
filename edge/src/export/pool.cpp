// The ordered work queue; see pool.hpp.
//
// A worker reads its piece whole, publishes the parity of the quotes in it to the chain, and
// waits for the parity at its start before it scans: counting is fast, so the chain runs ahead
// of the scans and no worker waits long.
#include "export/pool.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "export/file_io.hpp"

namespace qorv_chemical_engineering_edge::export_profile {
namespace {

// How long the calling thread waits for a piece before it asks whether to stop.
constexpr std::chrono::milliseconds kCancelPoll{50};

class Pool {
  public:
    Pool(std::span<const FilePlan> plans, const ProfileOptions& options)
        : plans_(plans), options_(options) {
        for (const FilePlan& plan : plans)
            pieces_.insert(pieces_.end(), plan.pieces.begin(), plan.pieces.end());
        chain_.emplace(pieces_);
        results_.resize(pieces_.size());
        done_.assign(pieces_.size(), false);
    }

    // Runs the pieces and merges their partials in order as they arrive, on the calling thread,
    // so pieces lying inside one long row are joined (and dropped past the row limit) early
    // instead of all being held at once.
    std::optional<ProfileError> run(unsigned threads, const Progress& progress,
                                    const Cancelled& cancelled, PartialProfile& merged) {
        std::uint64_t total = 0;
        for (const FilePlan& plan : plans_) total += plan.size;
        threads = std::clamp<unsigned>(threads, 1, static_cast<unsigned>(pieces_.size()));
        std::vector<std::thread> workers;
        for (unsigned k = 0; k < threads; ++k) workers.emplace_back([this] { work(); });
        std::optional<ProfileError> error;
        std::size_t next_merge = 0;
        // Asked without the lock: the caller may take its own (an interpreter's) meanwhile.
        auto stop_asked = [&](std::unique_lock<std::mutex>& held) {
            if (!cancelled) return false;
            held.unlock();
            const bool stop = cancelled();
            held.lock();
            return stop;
        };
        std::unique_lock lock(mu_);
        while (next_merge < pieces_.size()) {
            const auto arrived = [&] { return done_[next_merge] || finished_ != reported_; };
            if (!done_cv_.wait_for(lock, kCancelPoll, arrived)) {
                if (!stop_asked(lock)) continue;
                return stop(lock, workers);
            }
            reported_ = finished_;
            const std::uint64_t done = bytes_done_;
            std::vector<std::size_t> ready;
            while (next_merge < pieces_.size() && done_[next_merge]) ready.push_back(next_merge++);
            lock.unlock();
            for (std::size_t k : ready) {
                if (!error && !*results_[k]) error = results_[k]->error();
                if (!error) merged.merge(std::move(*results_[k]).value().partial);
                results_[k].reset();
            }
            if (progress) progress(done, total);
            lock.lock();
            if (stop_asked(lock)) return stop(lock, workers);
        }
        lock.unlock();
        for (auto& w : workers) w.join();
        if (progress) progress(total, total);
        return error;
    }

  private:
    ProfileError stop(std::unique_lock<std::mutex>& lock, std::vector<std::thread>& workers) {
        stop_ = true;
        chain_->stop();
        lock.unlock();
        for (auto& w : workers) w.join();
        return ProfileError{"", std::string(kCancelled)};
    }

    void finish(std::size_t k, Result<PieceScan> r, std::uint64_t bytes) {
        results_[k] = std::move(r);
        std::lock_guard lock(mu_);
        done_[k] = true;
        ++finished_;
        bytes_done_ += bytes;
        done_cv_.notify_all();
    }

    void work() {
        std::string buf;
        for (;;) {
            if (stop_) return;
            const std::size_t k = next_.fetch_add(1);
            if (k >= pieces_.size()) return;
            const Piece& piece = pieces_[k];
            const FilePlan& plan = plans_[piece.file];
            if (piece.gzip) {
                chain_->publish(k, false);
                finish(k, scan_piece(piece, options_, false, &stop_), plan.size);
                continue;
            }
            const std::size_t n = static_cast<std::size_t>(piece.to - piece.from);
            buf.resize(n);
            File f(piece.path);
            if (!f || !f.read_at(buf.data(), n, piece.from)) {
                chain_->publish(k, false);
                finish(k, ProfileError{piece.path, "reading the file failed"}, n);
                continue;
            }
            chain_->publish(k, odd_quotes(buf));
            const std::optional<bool> inside = chain_->wait(k);
            if (!inside || stop_) return;
            const std::string_view bytes(buf);
            auto scanned = scan_piece_bytes(piece, options_, *inside, plan.opening, {},
                                            std::span<const std::string_view>(&bytes, 1), &stop_);
            if (stop_) return;
            finish(k, std::move(scanned), n);
        }
    }

    std::span<const FilePlan> plans_;
    const ProfileOptions& options_;
    std::vector<Piece> pieces_;
    std::optional<ParityChain> chain_;
    std::vector<std::optional<Result<PieceScan>>> results_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> stop_{false};
    std::mutex mu_;
    std::condition_variable done_cv_;
    std::vector<bool> done_;
    std::size_t finished_ = 0;
    std::size_t reported_ = 0;
    std::uint64_t bytes_done_ = 0;
};

}  // namespace

std::optional<ProfileError> scan_plans(std::span<const FilePlan> plans,
                                       const ProfileOptions& options, unsigned threads,
                                       const Progress& progress, const Cancelled& cancelled,
                                       PartialProfile& merged) {
    Pool pool(plans, options);
    return pool.run(threads, progress, cancelled, merged);
}

}  // namespace qorv_chemical_engineering_edge::export_profile
