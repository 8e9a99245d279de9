#include "lipsync/lipsync_job.h"

namespace Orovox::OROVOX_SET {

// Not built yet.
float LipSyncJob::CalcScore(int32_t) const { return 0.0f; }
int32_t ScorePhonemes(LipSyncJob&) { return -1; }

}  // namespace Orovox::OROVOX_SET
