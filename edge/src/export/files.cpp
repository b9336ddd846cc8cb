// profile_files: reading files, cutting them into chunks, scanning on every core, merging.
//
// Chunks are whole multiples of the digest block, so the per-block digests need no stitching.
// A chunk's quoting state at its start is the parity of the quotes before it: each worker counts
// its chunk's quotes first, and the parities are chained in order under a lock before it scans.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "export/gzip.hpp"
#include "export/state.hpp"

namespace qorv_chemical_engineering_edge::export_profile {
namespace {

constexpr std::size_t kChunk = 8 * ExportScanner::kDigestBlock;
constexpr std::size_t kOpening = ExportScanner::kDigestBlock;
constexpr std::size_t kMaxOpening = std::size_t{64} << 20;
// How long the calling thread waits for a piece before it asks whether to stop.
constexpr std::chrono::milliseconds kCancelPoll{50};
// Every chunk's partial holds a record per tag (export_state.hpp), built from the header again,
// so on wide exports chunks grow with the columns: at 8 MiB a million-column export would set up
// a million tags for every few rows, and hold that many per thread.
constexpr std::size_t kChunkBytesPerColumn = 512;

struct Fd {
    int fd = -1;
    explicit Fd(const std::string& path) : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

bool read_at(int fd, char* buf, std::size_t n, std::uint64_t offset) {
    while (n) {
        const ssize_t got = ::pread(fd, buf, n, static_cast<off_t>(offset));
        if (got <= 0) return false;
        buf += got;
        n -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

// Exports rarely quote, so memchr's stride beats a byte loop.
std::uint64_t count_quotes(const char* p, std::size_t n) {
    std::uint64_t quotes = 0;
    const char* const end = p + n;
    while ((p = static_cast<const char*>(std::memchr(p, '"', static_cast<std::size_t>(end - p))))) {
        ++quotes;
        ++p;
    }
    return quotes;
}

struct Job {
    std::size_t file = 0;
    bool gzip = false;
    std::uint64_t from = 0, to = 0;  // plain files: the byte range
    std::size_t parity_slot = 0;     // into the parity chain; the file's first job has even parity
    bool first_of_file = false;
};

struct FileInfo {
    std::string path;
    std::uint64_t size = 0;
    std::string opening;  // plain files: enough bytes for the header and first data row
};

class Pool {
  public:
    Pool(const std::vector<FileInfo>& files, const std::vector<Job>& jobs,
         const ProfileOptions& options)
        : files_(files),
          jobs_(jobs),
          options_(options),
          results_(jobs.size()),
          quotes_known_(jobs.size(), false),
          quotes_(jobs.size(), 0),
          parity_(jobs.size(), false),
          parity_known_(jobs.size(), false),
          done_(jobs.size(), false) {}

    // Runs the jobs and merges their partials in order as they arrive, on the calling thread,
    // so pieces lying inside one long row are joined (and dropped past the row limit) early
    // instead of all being held at once.
    std::optional<ProfileError> run(unsigned threads, const Progress& progress,
                                    const Cancelled& cancelled, std::uint64_t total,
                                    PartialProfile& merged) {
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
        while (next_merge < jobs_.size()) {
            const auto arrived = [&] { return done_[next_merge] || finished_ != reported_; };
            if (!done_cv_.wait_for(lock, kCancelPoll, arrived)) {
                if (!stop_asked(lock)) continue;
                return stop(lock, workers);
            }
            reported_ = finished_;
            const std::uint64_t done = bytes_done_;
            std::vector<std::size_t> ready;
            while (next_merge < jobs_.size() && done_[next_merge]) ready.push_back(next_merge++);
            lock.unlock();
            for (std::size_t k : ready) {
                if (!error && !*results_[k]) error = results_[k]->error();
                if (!error) merged.merge(std::move(*results_[k]).value());
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
        parity_cv_.notify_all();
        lock.unlock();
        for (auto& w : workers) w.join();
        return ProfileError{"", std::string(kCancelled)};
    }

    void publish_quotes(std::size_t k, std::uint64_t quotes) {
        std::lock_guard lock(mu_);
        quotes_[k] = quotes;
        quotes_known_[k] = true;
        // Chain parities forward as far as the counts allow.
        for (std::size_t j = 0; j < jobs_.size(); ++j) {
            if (parity_known_[j]) continue;
            if (jobs_[j].first_of_file) {
                parity_[j] = false;
                parity_known_[j] = true;
            } else if (parity_known_[j - 1] && quotes_known_[j - 1]) {
                parity_[j] = parity_[j - 1] ^ (quotes_[j - 1] & 1);
                parity_known_[j] = true;
            }
        }
        parity_cv_.notify_all();
    }

    // The parity at job k's start; none when the scan is being stopped.
    std::optional<bool> wait_parity(std::size_t k) {
        std::unique_lock lock(mu_);
        parity_cv_.wait(lock, [&] { return parity_known_[k] || stop_; });
        if (stop_) return std::nullopt;
        return parity_[k];
    }

    // Feeds a job's bytes a digest block at a time, so that a stop waits for one block at most.
    // False when stopped.
    bool feed(ExportScanner& s, const char* p, std::size_t n) {
        for (std::size_t at = 0; at < n; at += ExportScanner::kDigestBlock) {
            if (stop_) return false;
            s.feed(std::span<const char>(p + at, std::min(ExportScanner::kDigestBlock, n - at)));
        }
        return true;
    }

    void finish(std::size_t k, Result<PartialProfile> r, std::uint64_t bytes) {
        results_[k] = std::move(r);
        std::lock_guard lock(mu_);
        done_[k] = true;
        ++finished_;
        bytes_done_ += bytes;
        done_cv_.notify_all();
    }

    void work() {
        std::vector<char> buf;
        for (;;) {
            if (stop_) return;
            const std::size_t k = next_.fetch_add(1);
            if (k >= jobs_.size()) return;
            const Job& job = jobs_[k];
            const FileInfo& f = files_[job.file];
            if (job.gzip) {
                publish_quotes(k, 0);
                finish(k, scan_gzip(f, buf), f.size);
                continue;
            }
            const std::size_t n = static_cast<std::size_t>(job.to - job.from);
            buf.resize(n);
            Fd fd(f.path);
            if (fd.fd < 0 || !read_at(fd.fd, buf.data(), n, job.from)) {
                publish_quotes(k, 0);
                finish(k, ProfileError{f.path, "reading the file failed"}, n);
                continue;
            }
            publish_quotes(k, count_quotes(buf.data(), n));
            const std::optional<bool> inside = wait_parity(k);
            if (!inside) return;
            if (job.first_of_file) {
                ExportScanner s(options_, f.path);
                if (!feed(s, buf.data(), n)) return;
                finish(k, s.finish(), n);
            } else {
                auto s = ExportScanner::resume_at(options_, f.path, f.opening, job.from, *inside);
                if (!s) {
                    finish(k, s.error(), n);
                    continue;
                }
                if (!feed(s.value(), buf.data(), n)) return;
                finish(k, s.value().finish(), n);
            }
        }
    }

    Result<PartialProfile> scan_gzip(const FileInfo& f, std::vector<char>& buf) {
        GzipReader gz;
        std::string why;
        if (!gz.open(f.path, &why)) return ProfileError{f.path, why};
        ExportScanner s(options_, f.path);
        buf.resize(ExportScanner::kDigestBlock);
        for (;;) {
            if (stop_) return ProfileError{f.path, std::string(kCancelled)};
            const long got = gz.read(buf.data(), buf.size(), &why);
            if (got < 0) return ProfileError{f.path, why};
            if (got == 0) break;
            s.feed(std::span<const char>(buf.data(), static_cast<std::size_t>(got)));
            if (s.failed()) break;  // no export: inflate no further
        }
        return s.finish();
    }

    const std::vector<FileInfo>& files_;
    const std::vector<Job>& jobs_;
    const ProfileOptions& options_;
    std::vector<std::optional<Result<PartialProfile>>> results_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> stop_{false};
    std::mutex mu_;
    std::condition_variable parity_cv_, done_cv_;
    std::vector<bool> quotes_known_;
    std::vector<std::uint64_t> quotes_;
    std::vector<bool> parity_, parity_known_;
    std::vector<bool> done_;
    std::size_t finished_ = 0;
    std::size_t reported_ = 0;
    std::uint64_t bytes_done_ = 0;
};

// Reads the opening bytes and returns the data offset, growing the read until the layout is known.
std::optional<ProfileError> read_opening(FileInfo& f, const ScanSettings& settings,
                                         std::uint64_t& first_row_end, std::uint64_t& columns) {
    Fd fd(f.path);
    if (fd.fd < 0) return ProfileError{f.path, "the file cannot be opened"};
    for (std::size_t want = kOpening;; want *= 2) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(want, f.size));
        f.opening.resize(n);
        if (n && !read_at(fd.fd, f.opening.data(), n, 0))
            return ProfileError{f.path, "reading the file failed"};
        std::string why;
        const bool at_end = n == f.size;
        auto layout = read_layout(f.opening, at_end, settings, &why);
        if (layout) {
            first_row_end = layout->first_row_end;
            columns = layout->n_columns;
            return std::nullopt;
        }
        if (!why.empty()) return ProfileError{f.path, why};
        if (at_end || want >= kMaxOpening)
            return ProfileError{f.path, "no data row within the first 64 MiB"};
    }
}

}  // namespace

Result<std::vector<TagUnit>> parse_tag_list(std::string_view bytes, std::string_view file) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    std::vector<std::string_view> lines;
    std::size_t from = 0;
    bool inside = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '"') inside = !inside;
        if (bytes[i] == '\n' && !inside) {
            lines.push_back(bytes.substr(from, i - from));
            from = i + 1;
        }
    }
    if (from < bytes.size()) lines.push_back(bytes.substr(from));
    for (auto& l : lines)
        if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    if (lines.empty()) return ProfileError{std::string(file), "the tag list is empty"};
    char delim = ',';
    for (char c : {',', ';', '\t', '|'})
        if (std::count(lines[0].begin(), lines[0].end(), c) >
            std::count(lines[0].begin(), lines[0].end(), delim))
            delim = c;
    std::string scratch, unq;
    std::vector<std::string> header;
    for (const CellText& c : split_record(lines[0], delim, scratch))
        header.emplace_back(unquote(c.text, c.quoted, unq));
    auto find = [&](std::initializer_list<std::string_view> names) {
        for (std::size_t j = 0; j < header.size(); ++j)
            for (std::string_view n : names)
                if (iequals(header[j], n)) return static_cast<std::int64_t>(j);
        return std::int64_t{-1};
    };
    const std::int64_t tag = find({"tag", "tagname", "tag_name", "name"});
    const std::int64_t unit = find({"unit", "units", "eu", "uom", "engineering_units"});
    if (tag < 0 || unit < 0)
        return ProfileError{std::string(file), "the tag list names no tag column and unit column"};
    std::vector<TagUnit> out;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto cells = split_record(lines[i], delim, scratch);
        if (static_cast<std::size_t>(std::max(tag, unit)) >= cells.size()) continue;
        TagUnit t;
        t.tag = std::string(unquote(cells[static_cast<std::size_t>(tag)].text,
                                    cells[static_cast<std::size_t>(tag)].quoted, unq));
        t.unit = std::string(unquote(cells[static_cast<std::size_t>(unit)].text,
                                     cells[static_cast<std::size_t>(unit)].quoted, unq));
        out.push_back(std::move(t));
    }
    return tag_units_of(std::move(out));
}

Result<ExportProfile> profile_files(std::span<const std::string> paths,
                                    const ProfileOptions& options_in, const Progress& progress,
                                    const Cancelled& cancelled) {
    ProfileOptions options = options_in;
    if (paths.empty()) return ProfileError{"", "no files were given"};
    if (!options.tag_list_path.empty()) {
        std::ifstream in(options.tag_list_path, std::ios::binary);
        if (!in) return ProfileError{options.tag_list_path, "the tag list cannot be opened"};
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        auto list = parse_tag_list(bytes, options.tag_list_path);
        if (!list) return list.error();
        options.tag_units.insert(options.tag_units.end(), list.value().begin(), list.value().end());
    }
    const auto settings = make_settings(options);
    if (!settings->zone_error.empty()) return ProfileError{"", settings->zone_error};

    std::vector<FileInfo> files;
    std::vector<Job> jobs;
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        FileInfo f;
        f.path = paths[i];
        Fd fd(f.path);
        if (fd.fd < 0) return ProfileError{f.path, "the file cannot be opened"};
        const off_t end = ::lseek(fd.fd, 0, SEEK_END);
        if (end < 0) return ProfileError{f.path, "the file cannot be read"};
        f.size = static_cast<std::uint64_t>(end);
        total += f.size;
        if (ends_with_gz(f.path)) {
            if (!has_gzip_support())
                return ProfileError{f.path,
                                    "this build has no gzip support; decompress the file "
                                    "or feed its bytes"};
            jobs.push_back({i, true, 0, f.size, jobs.size(), true});
        } else {
            std::uint64_t first_row_end = 0, columns = 0;
            if (auto err = read_opening(f, *settings, first_row_end, columns)) return *err;
            const std::uint64_t chunk =
                (std::max<std::uint64_t>(kChunk, columns * kChunkBytesPerColumn) + kChunk - 1) /
                kChunk * kChunk;
            // The first chunk holds the header and the first data row.
            std::uint64_t cut = std::max<std::uint64_t>(chunk, first_row_end);
            cut = (cut + ExportScanner::kDigestBlock - 1) / ExportScanner::kDigestBlock *
                  ExportScanner::kDigestBlock;
            cut = std::min(cut, f.size);
            jobs.push_back({i, false, 0, cut, jobs.size(), true});
            for (std::uint64_t from = cut; from < f.size; from += chunk)
                jobs.push_back({i, false, from, std::min<std::uint64_t>(from + chunk, f.size),
                                jobs.size(), false});
        }
        files.push_back(std::move(f));
    }
    unsigned threads = options.threads ? options.threads : std::thread::hardware_concurrency();
    threads = std::clamp<unsigned>(threads, 1, static_cast<unsigned>(jobs.size()));
    Pool pool(files, jobs, options);
    PartialProfile all;
    if (auto error = pool.run(threads, progress, cancelled, total, all)) return *error;
    return std::move(all).finalize(options);
}

}  // namespace qorv_chemical_engineering_edge::export_profile
