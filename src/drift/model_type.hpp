#pragma once

#include <optional>
#include <string_view>

namespace zentrova::drift {

// The model family of a performance drift check.
enum class ModelType { LinearRegression, LogisticRegression, BinaryClassification };

// Exact, case-sensitive match of the whole text.
inline std::optional<ModelType> model_type_from_text(std::string_view text) noexcept {
    if (text == "LinearRegression") return ModelType::LinearRegression;
    if (text == "LogisticRegression") return ModelType::LogisticRegression;
    if (text == "BinaryClassification") return ModelType::BinaryClassification;
    return std::nullopt;
}

}  // namespace zentrova::drift
