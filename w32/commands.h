// The `w32` command's subcommands register themselves here, one file per
// area of the machine.
#pragma once

#include <string>
#include <vector>

namespace w32cmd {

using Args = std::vector<std::string>;
using Handler = int (*)(const Args& args);

struct Command {
    const char* name;     // "reg", "path", ...
    const char* usage;    // one or more lines, each starting with the name
    const char* summary;  // one line of plain words
    Handler handler;
};

struct Register {
    explicit Register(const Command& command);
};

const std::vector<Command>& commands();

// Prints "w32 <name>: <message>" on standard error and returns 2 (bad use)
// or 1 (the machine refused), for the handlers' error paths.
int usage_error(const char* name, const std::string& message);
int failure(const char* name, const std::string& message);

}  // namespace w32cmd
