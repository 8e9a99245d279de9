#include "lipsync/lipsync_job.h"

namespace Orovox::OROVOX_SET {

// Not built yet.
void LipSyncJob::Execute() {}

}  // namespace Orovox::OROVOX_SET
