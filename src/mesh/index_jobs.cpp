#include "mesh/mesh_jobs.h"

namespace Orovox::OROVOX_SET {

// Not built yet.
void OffsetIndices16Job::ExecuteRange(int32_t, int32_t) const {}
void WidenIndices16Job::ExecuteRange(int32_t, int32_t) const {}
void OffsetIndices32Job::ExecuteRange(int32_t, int32_t) const {}

}  // namespace Orovox::OROVOX_SET
