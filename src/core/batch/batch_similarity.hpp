// Many similarities at once: one query against many entries, every result the
// bits that similarity(query, entry) gives.
#pragma once

#include <cstdint>
#include <span>

#include "../cancel.hpp"
#include "../phase_hvec/record.hpp"

namespace verrakin {

/// out[j] = similarity(query, entries[j]) for every j. Every entry has the
/// query's dim and n (the caller checks). `cancel` is polled between blocks of
/// entries (a few milliseconds of work apart); a stop leaves `out` partly filled.
Expected<Ok, Cancelled> batch_similarities(const PhaseHVec& query, std::span<const PhaseHVec> entries, double* out,
                                           const CancelCheck& cancel = {});

/// out[r * entries.size() + j] = similarity(queries[r], entries[j]) for every
/// r and j: the same bits, read a block of entries at a time for all queries.
/// Every query and entry has one dim and n (the caller checks). A stop leaves
/// `out` partly filled.
Expected<Ok, Cancelled> batch_similarity_matrix(std::span<const PhaseHVec> queries, std::span<const PhaseHVec> entries,
                                                double* out, const CancelCheck& cancel = {});

}  // namespace verrakin
