// The JSON check report returned by every drift check.
#pragma once

#include <string>

#include "errors.hpp"
#include "metric_map.hpp"

namespace zentrova {

// {"passed":true} for an empty report, else {"passed":false,"failReport":{...}}.
Result<std::string> process_failure_report(FailureReport report);

}  // namespace zentrova
