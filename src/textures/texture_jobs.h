// Single jobs that paint analysis data into RGBA pixel arrays.
#pragma once

#include "frame/variant.h"
#include "orovox/records.h"

namespace Orovox::OROVOX_SET {

struct PaintHeatmapJob : ::Orovox::PaintHeatmapJob {
  void Execute() const;
};

struct PaintPhonemeBarsJob : ::Orovox::PaintPhonemeBarsJob {
  void Execute() const;
};

}  // namespace Orovox::OROVOX_SET
