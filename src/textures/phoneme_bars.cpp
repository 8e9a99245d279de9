#include "textures/texture_jobs.h"

namespace Orovox::OROVOX_SET {

// Not built yet.
void PaintPhonemeBarsJob::Execute() const {}

}  // namespace Orovox::OROVOX_SET
