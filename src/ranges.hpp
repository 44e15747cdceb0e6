#pragma once
// The ranges of a part that an edit keeps, in the part's own time.

#include "exact_time.hpp"

#include <optional>

struct TimeRange {
    ExactTime from;
    std::optional<ExactTime> to; // none: to the part's end
};
