// The orovox command-line tool as a function, so that tests and fuzzers run
// it in-process with their own streams.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace Orovox {

// `args` are the arguments after the program name. Results go to `out`,
// messages to `err`, and raw audio for `stream` comes from `in`. Returns the
// exit status: 0 success, 1 failure, 2 usage error. Never exits the process.
int RunCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace Orovox
