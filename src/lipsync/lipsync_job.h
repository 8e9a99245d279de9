// The analysis job over one audio block, and its phoneme scoring.
#pragma once

#include <cstdint>

#include "frame/variant.h"
#include "orovox/records.h"

namespace Orovox::OROVOX_SET {

struct LipSyncJob : ::Orovox::LipSyncJob {
  // Runs the whole analysis of the block described by the record: writes
  // mfccOut[0..m-1], phonemeScores[0..K-1] and summary[0], nothing else.
  void Execute();
  // Raw score of profile `index` against mfccOut under comparisonMethod.
  // Reads the record only; allocates nothing.
  float CalcScore(int32_t index) const;
};

// Fills phonemeScores with normalised shares; returns the main phoneme index
// (-1 when there are no phonemes, and then phonemeScores is untouched).
int32_t ScorePhonemes(LipSyncJob& job);

}  // namespace Orovox::OROVOX_SET
