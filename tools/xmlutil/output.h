// SPDX-License-Identifier: MIT
// Where an edited or formatted document is written: a file, replaced as the
// library saves it, or a descriptor the process already holds (standard
// output for "-o -"; /dev/stdout, /dev/fd/N, /proc/self/fd/N name one too),
// written as a stream so that a redirect with ">>" is appended to and never
// replaced.
#pragma once

#include <optional>
#include <string>

namespace xmlutil::tool {

// The descriptor of this process that `path` reaches, through symbolic
// links, when it is one of /dev/fd/N, /proc/self/fd/N or /proc/PID/fd/N
// (this process's PID); nothing for any other path.
std::optional<int> DescriptorBehind(const std::string& path);

// A folder for private temporary files: $TMPDIR, else /tmp.
std::string TemporaryFolder();

// Writes the content of the file at `path` to `fd` from where it stands: 0,
// or the errno value of the read or write that failed.
int CopyFileTo(const std::string& path, int fd);

}  // namespace xmlutil::tool
