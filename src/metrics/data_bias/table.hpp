// The pre-training (data bias) metrics: the one table of their names and drift
// rules, in the order they are computed.
#pragma once

#include <array>

#include "common/metric_table.hpp"

namespace zentrova::data_bias {

inline constexpr std::array<MetricEntry, 7> table = {{
    {"ClassImbalance", "ClassImbalance", "ClassImbalance", "Exceeded baseline by: ", Comparison::MagnitudeAbove},
    {"DifferenceInProportionOfLabels", "DifferenceInProportionOfLabels", "DfferenceInProportionOfLabels",
     "Exceed baseline by: ", Comparison::MagnitudeAbove},
    {"KlDivergence", "KlDivergence", "KlDivergence", "Execeed baseline by: ", Comparison::Above},
    {"JsDivergence", "JsDivergence", "JsDivergance", "Execeed baseline by: ", Comparison::Above},
    {"LpNorm", "LpNorm", "LpNorm", "Exceeded baseline by: ", Comparison::Above},
    {"TotalVarationDistance", "TotalVariationDistance", "TotalVariationDistance", "Exceed baseline by: ",
     Comparison::Above},
    {"KolmorogvSmirnov", "KolmorogvSmirnov", "KolmorogvSmirnov", "Exceed baseline by: ", Comparison::Above},
}};

inline constexpr std::size_t metric_count = table.size();

}  // namespace zentrova::data_bias
