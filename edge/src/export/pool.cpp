// The ordered work queue; see pool.hpp.
//
// A file piece's job reads its piece whole, publishes the parity of the quotes in it to the
// chain, and waits for the parity at its start before it scans: counting is fast, so the chain
// runs ahead of the scans and no worker waits long. A text piece's parity is known when it is
// cut, so its job only scans.
#include "export/pool.hpp"

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <utility>

#include "export/file_io.hpp"

namespace qorv_chemical_engineering_edge::export_profile {
namespace {

// How long a wait lasts before the queue asks whether to stop.
constexpr std::chrono::milliseconds kCancelPoll{50};

// The threads a .gz scan may inflate on beside it, taken for a scan and given back after it.
class SpareThreads {
  public:
    explicit SpareThreads(unsigned n) : left_(n) {}
    bool take() {
        unsigned n = left_.load();
        while (n > 0 && !left_.compare_exchange_weak(n, n - 1)) {
        }
        return n > 0;
    }
    static void give(SpareThreads* s) { s->left_.fetch_add(1); }

  private:
    std::atomic<unsigned> left_;
};

}  // namespace

WorkQueue::WorkQueue(unsigned threads, std::size_t limit, Cancelled cancelled,
                     std::function<void()> on_stop)
    : limit_(limit), cancelled_(std::move(cancelled)), on_stop_(std::move(on_stop)) {
    threads = std::max(1u, threads);
    for (unsigned k = 0; k < threads; ++k) workers_.emplace_back([this] { work(); });
}

WorkQueue::~WorkQueue() {
    std::unique_lock lock(mu_);
    if (!stopped_) stop(lock);
}

void WorkQueue::join() {
    for (auto& w : workers_)
        if (w.joinable()) w.join();
}

void WorkQueue::stop(std::unique_lock<std::mutex>& lock) {
    stopped_ = true;
    closing_ = true;
    lock.unlock();
    if (on_stop_) on_stop_();
    queued_.notify_all();
    join();
    lock.lock();
}

bool WorkQueue::ask(std::unique_lock<std::mutex>& lock) {
    if (stopped_) return true;
    if (!cancelled_) return false;
    last_poll_ = std::chrono::steady_clock::now();
    lock.unlock();
    const bool stop_asked = cancelled_();
    lock.lock();
    if (stop_asked && !stopped_) stop(lock);
    return stopped_;
}

bool WorkQueue::poll() {
    std::unique_lock lock(mu_);
    if (std::chrono::steady_clock::now() - last_poll_ < kCancelPoll) return stopped_;
    return ask(lock);
}

void WorkQueue::work() {
    std::string scratch;
    std::unique_lock lock(mu_);
    for (;;) {
        queued_.wait(lock, [this] { return stopped_ || closing_ || next_ < pushed_; });
        if (stopped_ || next_ >= pushed_) return;
        const std::size_t k = next_++;
        Job job = std::move(slots_[k - first_].job);
        lock.unlock();
        std::optional<Result<PieceScan>> result;
        std::exception_ptr thrown;
        try {
            result.emplace(job(scratch, stopped_));
        } catch (...) {
            thrown = std::current_exception();
        }
        job = nullptr;  // its captures (a text piece's bytes) go now, not when merged
        lock.lock();
        Slot& slot = slots_[k - first_];  // not merged before it is done
        if (thrown) {
            if (!failure_) failure_ = thrown;
            result.emplace(ProfileError{"", "a piece was lost"});
        }
        slot.result = std::move(result);
        slot.done = true;
        ++finished_;
        bytes_done_ += slot.bytes;
        arrived_.notify_all();
    }
}

bool WorkQueue::merge_ready(std::unique_lock<std::mutex>& lock, bool wait, const Progress& progress,
                            std::uint64_t total) {
    if (wait) {
        const auto arrived = [this] {
            return (!slots_.empty() && slots_.front().done) || finished_ != reported_;
        };
        if (!arrived_.wait_for(lock, kCancelPoll, arrived)) {
            ask(lock);
            return false;
        }
    }
    reported_ = finished_;
    const std::uint64_t done = bytes_done_;
    std::vector<Result<PieceScan>> ready;
    while (!slots_.empty() && slots_.front().done) {
        ready.push_back(std::move(*slots_.front().result));
        slots_.pop_front();
        ++first_;
    }
    lock.unlock();
    for (auto& r : ready) {
        if (!error_ && !r) error_ = r.error();
        if (!error_) merged_.merge(std::move(r).value().partial);
    }
    ready.clear();
    if (progress) progress(done, total);
    lock.lock();
    return true;
}

bool WorkQueue::push(Job job, std::uint64_t bytes) {
    std::unique_lock lock(mu_);
    if (stopped_) return false;
    merge_ready(lock, false, {}, 0);
    while (!stopped_ && limit_ != 0 && pushed_ - first_ >= limit_) {
        if (merge_ready(lock, true, {}, 0) &&
            std::chrono::steady_clock::now() - last_poll_ >= kCancelPoll)
            ask(lock);
    }
    if (stopped_) return false;
    slots_.push_back(Slot{std::move(job), bytes, std::nullopt, false});
    ++pushed_;
    lock.unlock();
    queued_.notify_one();
    return true;
}

std::optional<ProfileError> WorkQueue::finish(PartialProfile& merged, const Progress& progress,
                                              std::uint64_t total) {
    std::unique_lock lock(mu_);
    closing_ = true;
    queued_.notify_all();
    while (!stopped_ && !slots_.empty()) {
        // Asked after every merge too: the caller's progress may have asked to stop.
        if (merge_ready(lock, true, progress, total)) ask(lock);
    }
    if (stopped_) return ProfileError{"", std::string(kCancelled)};
    lock.unlock();
    join();
    if (failure_) std::rethrow_exception(failure_);
    if (progress) progress(total, total);
    merged.merge(std::move(merged_));
    return error_;
}

std::optional<ProfileError> scan_plans(std::span<const FilePlan> plans,
                                       const ProfileOptions& options, unsigned threads,
                                       const Progress& progress, const Cancelled& cancelled,
                                       PartialProfile& merged) {
    std::vector<Piece> pieces;
    std::uint64_t total = 0;
    for (const FilePlan& plan : plans) {
        pieces.insert(pieces.end(), plan.pieces.begin(), plan.pieces.end());
        total += plan.size;
    }
    ParityChain chain(pieces);
    // A .gz file is one piece, one scan; its inflater gets a thread of its own beside the scan
    // while the threads allow it (one scan per file first): inflating and scanning in turn on
    // one thread read the wide file's .gz at 130 MB/s.
    const auto gz = static_cast<unsigned>(
        std::count_if(pieces.begin(), pieces.end(), [](const Piece& p) { return p.gzip; }));
    threads = std::max(1u, threads);
    const unsigned spare_threads = threads > gz ? std::min(gz, threads - gz) : 0u;
    SpareThreads spare(spare_threads);
    threads =
        std::clamp<unsigned>(threads - spare_threads, 1, static_cast<unsigned>(pieces.size()));
    WorkQueue queue(threads, 0, cancelled, [&chain] { chain.stop(); });
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        const Piece& piece = pieces[k];
        const FilePlan& plan = plans[piece.file];
        if (piece.gzip || plan.decoded) {
            queue.push(
                [&, k](std::string&, const std::atomic<bool>& stop) {
                    chain.publish(k, false);
                    const bool ahead = piece.gzip && spare.take();
                    const std::unique_ptr<SpareThreads, void (*)(SpareThreads*)> give_back(
                        ahead ? &spare : nullptr, &SpareThreads::give);
                    return scan_piece(piece, options, false, &stop, ahead);
                },
                plan.size);
            continue;
        }
        const std::size_t n = static_cast<std::size_t>(piece.to - piece.from);
        queue.push(
            [&, k](std::string& buf, const std::atomic<bool>& stop) -> Result<PieceScan> {
                File f(piece.path);
                std::optional<FileView> view;
                if (f) view.emplace(f, piece.from, piece.to, buf);
                if (!view || !view->ok()) {
                    chain.publish(k, false);
                    return ProfileError{piece.path, "reading the file failed"};
                }
                const std::string_view bytes = view->bytes();
                const bool odd = odd_quotes(bytes);
                chain.publish(k, odd);
                const std::optional<bool> inside = chain.wait(k);
                if (!inside || stop) return ProfileError{"", std::string(kCancelled)};
                auto scanned =
                    scan_piece_bytes(piece, options, *inside, plan.opening, {},
                                     std::span<const std::string_view>(&bytes, 1), &stop, odd);
                if (!view->intact()) return changed_while_read(piece.path);
                return scanned;
            },
            n);
    }
    return queue.finish(merged, progress, total);
}

namespace {
unsigned workers_for(unsigned threads) {
    return threads != 0 ? threads : std::max(1u, std::thread::hardware_concurrency());
}
}  // namespace

TextPieces::TextPieces(const ProfileOptions& options, std::string label, unsigned threads,
                       Cancelled cancelled)
    : options_(options),
      settings_(make_settings(options)),
      label_(std::move(label)),
      opening_wanted_(kDigestBlock),
      // A piece in each worker's hands and two waiting for each: the renderer never idles the
      // workers, and the text held stays a few pieces whatever the table's size.
      queue_(workers_for(threads), 3 * workers_for(threads), std::move(cancelled)) {
    pending_.reserve(2 * kDigestBlock);
}

void TextPieces::flush() {
    if (queue_.poll()) return;
    while (!stopped() && pending_.size() >= kDigestBlock) {
        std::size_t size = kDigestBlock;
        if (pieces_handed_ == 0) {
            if (pending_.size() < opening_wanted_) return;
            size = pending_.size() / kDigestBlock * kDigestBlock;
            if (!holds_layout(size)) {
                opening_wanted_ = 2 * size;
                return;
            }
        }
        std::string text(pending_, 0, size);
        pending_.erase(0, size);
        hand_over(std::move(text));
    }
}

bool TextPieces::holds_layout(std::size_t size) const {
    // The opening rule of the file plan; on an error the piece goes on, and its scan says why.
    const auto probed =
        probe_opening(label_, UINT64_MAX, std::string_view(pending_).substr(0, size), *settings_);
    if (const auto* layout = std::get_if<FileLayout>(&probed)) return layout->first_row_end <= size;
    return !std::holds_alternative<NeedBytes>(probed);
}

void TextPieces::hand_over(std::string text) {
    if (pieces_handed_ == 0) opening_ = text;
    Piece piece;
    piece.path = label_;
    piece.from = offset_;
    piece.to = offset_ + text.size();
    piece.header_bytes = opening_.size();
    const bool starts_quoted = inside_quotes_;
    inside_quotes_ = odd_quotes(text) != inside_quotes_;
    offset_ += text.size();
    ++pieces_handed_;
    const std::uint64_t bytes = text.size();
    // opening_ is not changed after the first piece, so the workers read it unguarded.
    queue_.push(
        [this, piece = std::move(piece), text = std::move(text), starts_quoted](
            std::string&, const std::atomic<bool>& stop) {
            const std::string_view data(text);
            return scan_piece_bytes(piece, options_, starts_quoted, opening_, {},
                                    std::span<const std::string_view>(&data, 1), &stop);
        },
        bytes);
}

Result<PartialProfile> TextPieces::finish() {
    if (!stopped() && (!pending_.empty() || pieces_handed_ == 0)) hand_over(std::move(pending_));
    PartialProfile whole;
    if (auto error = queue_.finish(whole)) {
        if (stopped()) return ProfileError{label_, std::string(kCancelled)};
        return *error;
    }
    return whole;
}

}  // namespace qorv_chemical_engineering_edge::export_profile
