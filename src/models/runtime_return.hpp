// The records that give the check report its JSON shape.
#pragma once

#include <optional>

#include "metric_map.hpp"

namespace zentrova::models {

struct PassedRuntimeReturn {
    bool passed = true;
};

struct FailureRuntimeReturn {
    bool passed = false;
    std::optional<FailureReport> failReport;
};

}  // namespace zentrova::models
