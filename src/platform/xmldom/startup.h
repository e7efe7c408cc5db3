// SPDX-License-Identifier: MIT
// What the DOM service needs done once, when the library loads, before any
// thread can call it.
#pragma once

namespace xmlutil::xmldom {

// Initialises libxml2's process-wide parser state (its globals, dictionaries,
// encoding handlers, thread keys). libxml2 also does this lazily on first use,
// but that lazy start is not thread-safe: threads making their first call at
// once would race on it. Idempotent; never fails the load.
void StartDomService() noexcept;

}  // namespace xmlutil::xmldom
