#pragma once

#include <cstdint>
#include <vector>

#include "errors.hpp"

namespace zentrova::data_handler {

// One 0/1 value per input row, in input order.
using LabelledColumn = std::vector<std::int16_t>;

}  // namespace zentrova::data_handler
