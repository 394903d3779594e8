// ormelix-cli's commands, each in its own file; only tools/cli uses it. Args are the command's
// own arguments; a usage error is thrown as Usage, anything else is the exit status returned.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace cli {

int RecordCommand(const std::vector<std::string>& Args, std::ostream& Err);
int ListCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);
int SendCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);
int InfoCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);

} // namespace cli
