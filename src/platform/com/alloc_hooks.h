// SPDX-License-Identifier: MIT
// Fault injection for string allocation, so tests can make SysAllocString*
// fail and check that callers raise E_OUTOFMEMORY without side effects.
#pragma once

#include <cstdint>

namespace xmlutil::com {

// After `allowed` more successful allocations on this thread, every string
// allocation fails until ClearStringAllocationFailure(). Negative: never fail.
void FailStringAllocationAfter(int64_t allowed);
void ClearStringAllocationFailure();
// True when the next allocation must fail (counts the allowed ones down).
bool ShouldFailStringAllocation();

}  // namespace xmlutil::com
