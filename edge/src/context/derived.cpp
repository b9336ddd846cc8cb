// The derived context fields and the profile's reseal. Per kind, over its files:
// has_lab_samples, at least 10 valid samples inside the export's span (summed over lab files);
// has_maintenance, a log whose own span contains the export's with an order overlapping it;
// has_batches, a batch whose start and end both lie inside it. A declared value stands, with a
// note on each file of the kind when the files derive the other value.
#include "context/context_internal.hpp"
#include "context/pieces.hpp"
#include "export/baseline.hpp"
#include "export/seal.hpp"

namespace qorv_chemical_engineering_edge::context {
namespace {

constexpr std::uint64_t kMinLabSamples = 10;

bool witnesses(const ep::ContextEvidence& e, const Against& against) {
    if (e.kind != "maintenance") return e.inside > 0;
    return against.lo && e.first_us && *e.first_us <= *against.lo && *e.last_us >= *against.hi &&
           e.inside > 0;
}

}  // namespace

ep::Result<ep::ContextEvidence> read_context(const ContextFile& file,
                                             const ep::ExportProfile& profile) {
    auto partial = read_context_partial(file, profile.options);
    if (!partial) return partial.error();
    return context_evidence(std::move(partial).value(), file, profile);
}

namespace {

// A work order or a batch start or end breaks a normal-operation run as given breaks do: the
// window is searched again over the same rows with the context's breaks added.
void rebreak_window(ep::ExportProfile& p, const std::vector<ep::ContextEvidence>& read) {
    auto breaks = p.options.baseline_breaks;
    const std::size_t given = breaks.size();
    for (const ep::ContextEvidence& e : read)
        breaks.insert(breaks.end(), e.breaks.begin(), e.breaks.end());
    if (breaks.size() == given) return;
    const auto& in = *p.baseline_inputs;
    p.baseline_suggestion =
        ep::find_baseline(*in.track, in.modal_step, in.span_lo, in.span_hi, std::move(breaks));
    const ep::DeclaredFields& d = p.options.declared;
    if (p.options.baseline_search == ep::BaselineSearch::Auto && !d.baseline_present &&
        !d.baseline_start_us && !d.baseline_end_us)
        p.baseline_present = {p.baseline_suggestion->window.has_value(), ep::Provenance::Suggested};
}

}  // namespace

std::optional<ep::ProfileError> attach(ep::ExportProfile& p, std::span<const ContextFile> files) {
    if (files.empty()) return std::nullopt;
    std::vector<ep::ContextEvidence> read;
    for (const ContextFile& f : files) {
        auto e = read_context(f, p);
        if (!e) return e.error();
        read.push_back(std::move(e).value());
    }
    attach_evidence(p, std::move(read));
    return std::nullopt;
}

std::optional<ep::ProfileError> attach_partials(ep::ExportProfile& p,
                                                std::span<const ContextFile> files,
                                                std::vector<ContextPartial> partials) {
    if (files.empty()) return std::nullopt;
    if (partials.size() != files.size())
        return ep::ProfileError{"", "the context partials do not match the context files"};
    std::vector<ep::ContextEvidence> read;
    for (std::size_t k = 0; k < files.size(); ++k) {
        auto e = context_evidence(std::move(partials[k]), files[k], p);
        if (!e) return e.error();
        read.push_back(std::move(e).value());
    }
    attach_evidence(p, std::move(read));
    return std::nullopt;
}

void attach_evidence(ep::ExportProfile& p, std::vector<ep::ContextEvidence> read) {
    const Against against(p);
    const ep::DeclaredFields& d = p.options.declared;
    struct Field {
        std::string_view kind, label;
        ep::ProfileField<bool>* field;
        const std::optional<bool>* declared;
    };
    const Field fields[] = {
        {"lab", "has_lab_samples", &p.has_lab_samples, &d.has_lab_samples},
        {"maintenance", "has_maintenance", &p.has_maintenance, &d.has_maintenance},
        {"batches", "has_batches", &p.has_batches, &d.has_batches}};
    for (const Field& f : fields) {
        bool any = false, derived = false;
        std::uint64_t samples = 0;
        for (const ep::ContextEvidence& e : read) {
            if (e.kind != f.kind) continue;
            any = true;
            samples += e.inside;
            derived = derived || witnesses(e, against);
        }
        if (!any) continue;
        if (f.kind == "lab") derived = samples >= kMinLabSamples;
        if (!*f.declared) {
            *f.field = {derived, ep::Provenance::Derived};
            continue;
        }
        if (**f.declared == derived) continue;
        for (ep::ContextEvidence& e : read)
            if (e.kind == f.kind)
                e.notes.push_back(std::string(f.label) + " is declared " +
                                  (derived ? "false" : "true") + "; the context files derive " +
                                  (derived ? "true" : "false"));
    }
    if (p.baseline_inputs && p.baseline_suggestion) rebreak_window(p, read);
    p.context = std::move(read);
    const auto settings = ep::make_settings(p.options);
    p.seal = ep::seal_of(
        p, settings->zone,
        p.zone_walls ? std::optional(ep::ZoneSpan{p.zone_walls->first, p.zone_walls->second})
                     : std::nullopt);
}

}  // namespace qorv_chemical_engineering_edge::context
