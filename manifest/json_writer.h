#pragma once
// Writing JSON strings: the one escaping rule shared by the installation
// metadata and the publisher tool. Pure code; thread-safe.
#include <string>
#include <string_view>

// Appends `text` as the content of a JSON string (without the enclosing
// quotation marks): '"' as \", '\' as \\, control bytes 0x00-0x1F as JSON
// escapes (\b \f \n \r \t, otherwise \u00XX); every other byte unchanged.
void AppendJsonStringContent(std::string& out, std::string_view text);
