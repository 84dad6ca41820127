#include "encoding/gaiji_tables.hpp"

namespace kogane::gaiji_tables {

namespace {
#include "gaiji_tables.inc"
}  // namespace

const PhfTable& jis_table() { return kJisTable; }
const PhfTable& sequence_table() { return kSequenceTable; }
const PhfTable& description_table() { return kDescriptionTable; }

std::optional<uint32_t> lookup_jis(std::string_view key) {
    if (auto slot = find(kJisTable, key)) return kJisEntries[*slot].value;
    return std::nullopt;
}

std::optional<std::array<uint32_t, 2>> lookup_jis_sequence(std::string_view key) {
    if (auto slot = find(kSequenceTable, key))
        return std::array<uint32_t, 2>{kSequenceEntries[*slot].value, kSequenceSecond[*slot]};
    return std::nullopt;
}

std::optional<uint32_t> lookup_description(std::string_view key) {
    if (auto slot = find(kDescriptionTable, key)) return kDescriptionEntries[*slot].value;
    return std::nullopt;
}

std::optional<std::array<uint32_t, 2>> lookup_description_chars(std::string_view key) {
    if (auto slot = find(kDescriptionTable, key))
        return std::array<uint32_t, 2>{kDescriptionEntries[*slot].value, kDescriptionSecond[*slot]};
    return std::nullopt;
}

}  // namespace kogane::gaiji_tables
