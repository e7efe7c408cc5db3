// SPDX-License-Identifier: MIT
// Where content goes while it is being made: a file being written, or memory.
// Producers (the document serialiser) write through this interface and need
// not know which.
#pragma once

#include <cstddef>
#include <new>
#include <string>

#include "xmlutil/wintypes.h"

namespace xmlutil::file {

class ByteSink {
  public:
    // Takes the next `size` bytes. S_OK, or a negative code once the sink can
    // take no more; every later call then fails too.
    virtual HRESULT Write(const char* bytes, size_t size) = 0;

  protected:
    ByteSink() = default;
    ~ByteSink() = default;
    ByteSink(const ByteSink&) = delete;
    ByteSink& operator=(const ByteSink&) = delete;
};

// Collects the bytes in memory. E_OUTOFMEMORY when they do not fit.
class StringSink final : public ByteSink {
  public:
    HRESULT Write(const char* bytes, size_t size) override {
        if (outOfMemory_) return E_OUTOFMEMORY;
        try {
            bytes_.append(bytes, size);
        } catch (const std::bad_alloc&) {
            outOfMemory_ = true;
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    std::string& bytes() { return bytes_; }

  private:
    std::string bytes_;
    bool outOfMemory_ = false;
};

}  // namespace xmlutil::file
