#include "metrics/labelling/label_input.hpp"

#include <type_traits>

#include "metrics/labelling/numeric_labels.hpp"
#include "metrics/labelling/text_labels.hpp"

namespace zentrova::labelling {
namespace {

LabelledColumn label_text_rows(const TextRows& rows, const TextLabel& label) {
    LabelValues labels(rows.size());
    columns::InterruptPoller poller;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        poller.advance(1);
        labels[i] = static_cast<std::int16_t>(label.usable && rows[i] == label.utf8);
    }
    return LabelledColumn(std::move(labels));
}

}  // namespace

LabelledColumn label_column(const LabelInput& input) {
    const columns::ColumnView& view = input.view;
    if (columns::family_of(view.kind) != columns::Family::Text) {
        return columns::visit_numeric(view.kind, [&]<class T>(T) {
            if constexpr (std::is_integral_v<T>)
                return label_numeric<std::int64_t>(view.as<T>(), input.integer_label);
            else
                return label_numeric<double>(view.as<T>(), input.float_label);
        });
    }
    if (view.kind != columns::ElementKind::Unicode) return label_text_rows(input.rows, input.text_label);
    // Without a usable label nothing matches: a row never ends with NUL.
    static const std::vector<std::uint32_t> unmatchable = {0};
    return label_fixed_text(view.data, view.stride, view.size, view.itemsize / sizeof(std::uint32_t),
                            input.text_label.usable ? input.text_label.code_points : unmatchable);
}

}  // namespace zentrova::labelling
