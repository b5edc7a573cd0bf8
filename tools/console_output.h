#pragma once
// Standard output and error of the publisher tool. Main thread only.
#include <string_view>

// Writes UTF-8 text: as UTF-16 with WriteConsoleW when the stream is a
// console, as the bytes unchanged when it is a file or a pipe. Errors are
// ignored (there is nowhere left to report them).
void WriteStdout(std::string_view text);
void WriteStderr(std::string_view text);
