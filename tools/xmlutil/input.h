// SPDX-License-Identifier: MIT
// The documents the tool reads: a path, or "-" for standard input. A path is
// opened once, without waiting, to learn what it names; a regular file is then
// loaded by its path, anything readable as a stream (standard input, a pipe,
// a FIFO) is read whole here and handed to the library as bytes.
#pragma once

#include <xmlutil/wintypes.h>

#include <optional>
#include <string>

#include "file_descriptor.h"

namespace xmlutil::tool {

// Why an input cannot be read: words for the message and the result code.
struct InputProblem {
    std::string what;
    HRESULT code;
};

class InputSource {
  public:
    // How long a FIFO may go without a writer before it is given up: enough
    // for a writer started beside the tool, short enough that a FIFO nobody
    // writes to is answered at once.
    static constexpr int kWriterWaitMs = 500;

    // Opens `name` ("-" is standard input): nothing, or what is wrong (no
    // such file, a folder, a device).
    std::optional<InputProblem> Open(const std::string& name);
    // True for a regular file, which is loaded by its path.
    bool IsRegularFile() const { return regular_; }
    // Reads the stream to its end into `bytes`: nothing, or what went wrong
    // (a read error, more than the parser takes, a FIFO without a writer).
    std::optional<InputProblem> ReadAll(std::string& bytes);

  private:
    FileDescriptor owned_;
    int fd_ = -1;
    bool regular_ = false;
    bool fifo_ = false;  // opened without waiting: a writer may still come
};

// The message words and code for an errno value met while reading.
InputProblem ReadProblem(int err);

}  // namespace xmlutil::tool
