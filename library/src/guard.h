// Keeps exceptions inside the library: every console export runs its body
// through `guarded`, so that nothing thrown (an allocation failure, for one)
// reaches a caller that may not even be C++.
#pragma once

#include <cstdint>

#include "exchange.h"
#include "tovrane.h"

namespace tovrane {

// Runs `body`; anything it throws becomes TOV_ERR_INTERNAL, with the error
// text written into `reply` when it is not null. Writing that text allocates
// nothing, so it works even when memory has run out.
template <class Result, class Body>
Result guarded(char* reply, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        format_error_text(reply, nullptr, TOV_ERR_INTERNAL);
        return static_cast<Result>(TOV_ERR_INTERNAL);
    }
}

}  // namespace tovrane
