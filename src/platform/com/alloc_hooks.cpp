// SPDX-License-Identifier: MIT
#include "platform/com/alloc_hooks.h"

namespace xmlutil::com {
namespace {
thread_local int64_t allowedAllocations = -1;
}

void FailStringAllocationAfter(int64_t allowed) {
    allowedAllocations = allowed;
}

void ClearStringAllocationFailure() {
    allowedAllocations = -1;
}

bool ShouldFailStringAllocation() {
    if (allowedAllocations < 0) return false;
    if (allowedAllocations == 0) return true;
    --allowedAllocations;
    return false;
}

}  // namespace xmlutil::com
