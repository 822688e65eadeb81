#pragma once
// Command-line arguments of one subcommand: positional words, --flags and --name VALUE options.
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace fycli {

// A mistake in the command line: reported with the subcommand's usage, exit status 2.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

struct Args {
    std::vector<std::string> positional;
    std::set<std::string> flags;
    std::map<std::string, std::string> values;
    bool help = false;

    bool has(const std::string& flag) const { return flags.count(flag) != 0; }
    std::string value(const std::string& name, const std::string& fallback = "") const;
};

// Splits words into the three kinds; anything starting with "--" must be a known flag or
// option. A lone "-" and negative numbers are positional.
Args parseArgs(const std::vector<std::string>& words, const std::set<std::string>& flagNames,
               const std::set<std::string>& valueNames);

// Checked conversions; `what` names the value in the error.
double parseNumber(const std::string& text, const std::string& what);
// A number that a float holds without becoming infinite (coordinates travel as floats).
float parseFloat(const std::string& text, const std::string& what);
long parseInteger(const std::string& text, const std::string& what, long low, long high);
// "a,b,c" into its parts (empty parts are an error).
std::vector<std::string> splitList(const std::string& text, const std::string& what);

}  // namespace fycli
