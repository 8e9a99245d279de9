#include "mesh/mesh_jobs.h"

namespace Orovox::OROVOX_SET {

// Not built yet.
void InterleaveVerticesJob::ExecuteRange(int32_t, int32_t) const {}

}  // namespace Orovox::OROVOX_SET
