// Reading facts: the conventions a file was read with, kept in the names table's order.
#include <algorithm>

#include "export/state.hpp"
#include "qorv_chemical_engineering_edge/names.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

std::size_t fact_rank(std::string_view name) noexcept {
    const auto& table = names::kReadingFacts;
    const auto it =
        std::find_if(table.begin(), table.end(),
                     [name](const names::ReadingFactName& f) { return f.name == name; });
    return static_cast<std::size_t>(it - table.begin());
}

bool known_fact(std::string_view name) noexcept {
    return fact_rank(name) < names::kReadingFacts.size();
}

void set_fact(std::vector<ReadingFact>& facts, std::string_view name, std::string value,
              Decided how) {
    const std::size_t rank = fact_rank(name);
    auto at = std::find_if(facts.begin(), facts.end(),
                           [rank](const ReadingFact& f) { return fact_rank(f.name) >= rank; });
    if (at != facts.end() && at->name == name) {
        at->value = std::move(value);
        at->how = how;
        return;
    }
    facts.insert(at, ReadingFact{std::string(name), std::move(value), how});
}

bool fact_sealed(const ReadingFact& fact) noexcept {
    const std::size_t rank = fact_rank(fact.name);
    if (rank >= names::kReadingFacts.size()) return true;
    std::string_view classic = names::kReadingFacts[rank].classic;
    if (classic == "*") return false;
    while (!classic.empty()) {
        const std::size_t bar = classic.find('|');
        if (classic.substr(0, bar) == fact.value) return false;
        if (bar == std::string_view::npos) break;
        classic.remove_prefix(bar + 1);
    }
    return true;
}

}  // namespace qorv_chemical_engineering_edge::export_profile
