// Many similarities at once: one query against many entries, every result the
// bits that similarity(query, entry) gives.
#pragma once

#include <cstdint>
#include <span>

#include "../phase_hvec/record.hpp"

namespace verrakin {

/// Calls `poll` between blocks of work; a poll that throws ends the batch.
using BatchPoll = void (*)();

/// out[j] = similarity(query, entries[j]) for every j. Every entry has the
/// query's dim and n (the caller checks). `poll` (may be null) runs between
/// blocks of entries.
void batch_similarities(const PhaseHVec& query, std::span<const PhaseHVec> entries, double* out,
                        BatchPoll poll = nullptr);

}  // namespace verrakin
