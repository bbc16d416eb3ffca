// The JSON report returned by every drift check.
#pragma once

#include <string>

#include "common/metric_map.hpp"

namespace zentrova::drift {

// {"passed":true} for an empty report, else {"passed":false,"failReport":{...}}
// with the failures in the report's own order.
std::string encode_report(const FailureReport& report);

}  // namespace zentrova::drift
