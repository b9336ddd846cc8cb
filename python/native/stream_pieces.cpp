// Scanning export text in digest-aligned pieces on worker threads; see stream_pieces.hpp.
#include "stream_pieces.hpp"

#include <cstdint>

#include <algorithm>
#include <new>
#include <utility>
#include <variant>

#include "export/plan.hpp"

namespace qorv_chemical_engineering_edge_py {

namespace profile = qorv_chemical_engineering_edge::export_profile;

namespace {
constexpr std::size_t kBlock = profile::ExportScanner::kDigestBlock;
}  // namespace

StreamPieces::StreamPieces(const profile::ProfileOptions& options, std::string label,
                           unsigned threads)
    : options_(options),
      settings_(profile::make_settings(options)),
      label_(std::move(label)),
      opening_wanted_(kBlock) {
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    queue_limit_ = 2 * threads;
    pending_.reserve(2 * kBlock);
    for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
}

StreamPieces::~StreamPieces() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    for (auto& worker : workers_) {
        if (worker.joinable()) worker.join();
    }
}

void StreamPieces::poll() {
    if (!cancelled_ || stopped_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_poll_ < std::chrono::milliseconds(50)) return;
    last_poll_ = now;
    if (!cancelled_()) return;
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        closing_ = true;
        queue_.clear();
    }
    changed_.notify_all();
}

void StreamPieces::flush() {
    poll();
    while (!stopped_ && pending_.size() >= kBlock) {
        std::size_t size = kBlock;
        if (pieces_handed_ == 0) {
            if (pending_.size() < opening_wanted_) return;
            size = pending_.size() / kBlock * kBlock;
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

bool StreamPieces::holds_layout(std::size_t size) const {
    // The opening rule of the file plan; on an error the piece goes on, and its scan says why.
    const auto probed = profile::probe_opening(
        label_, UINT64_MAX, std::string_view(pending_).substr(0, size), *settings_);
    if (const auto* layout = std::get_if<profile::FileLayout>(&probed))
        return layout->first_row_end <= size;
    return !std::holds_alternative<profile::NeedBytes>(probed);
}

void StreamPieces::hand_over(std::string text) {
    if (pieces_handed_ == 0) opening_ = text;
    const bool starts_quoted = inside_quotes_;
    const auto quotes = std::count(text.begin(), text.end(), '"');
    inside_quotes_ = (quotes % 2 == 1) != inside_quotes_;
    const std::uint64_t offset = offset_;
    offset_ += text.size();
    std::unique_lock lock(mutex_);
    // The workers may be busy for long; the stop is asked for meanwhile, the lock let go.
    while (!changed_.wait_for(lock, std::chrono::milliseconds(50),
                              [this] { return queue_.size() < queue_limit_ || stopped_; })) {
        lock.unlock();
        poll();
        lock.lock();
    }
    if (stopped_) return;
    partials_.emplace_back();
    queue_.push_back(Queued{pieces_handed_++, std::move(text), offset, starts_quoted});
    lock.unlock();
    changed_.notify_all();
}

void StreamPieces::work() {
    while (true) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return closing_ || !queue_.empty(); });
        if (queue_.empty()) return;
        Queued queued = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        changed_.notify_all();
        try {
            profile::Piece piece;
            piece.path = label_;
            piece.from = queued.offset;
            piece.header_bytes = opening_.size();
            const std::string_view text(queued.text);
            auto scanned =
                profile::scan_piece_bytes(piece, options_, queued.inside_quotes, opening_, {},
                                          std::span<const std::string_view>(&text, 1));
            std::optional<profile::Result<profile::PartialProfile>> partial;
            if (scanned) {
                partial.emplace(std::move(scanned.value().partial));
            } else {
                partial.emplace(scanned.error());
            }
            lock.lock();
            partials_[queued.index] = std::move(partial);
        } catch (...) {  // out of memory: reported by finish()
            if (!lock.owns_lock()) lock.lock();
            failed_ = true;
        }
    }
}

profile::Result<profile::PartialProfile> StreamPieces::finish() {
    if (!stopped_ && (!pending_.empty() || pieces_handed_ == 0)) hand_over(std::move(pending_));
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    for (auto& worker : workers_) worker.join();
    if (stopped_) return profile::ProfileError{label_, std::string(profile::kCancelled)};
    if (failed_) throw std::bad_alloc();
    std::optional<profile::PartialProfile> whole;
    for (auto& partial : partials_) {
        if (!partial || !*partial) {
            return partial ? partial->error() : profile::ProfileError{label_, "a piece was lost"};
        }
        if (whole) {
            whole->merge(std::move(partial->value()));
        } else {
            whole = std::move(partial->value());
        }
    }
    return std::move(*whole);
}

}  // namespace qorv_chemical_engineering_edge_py
