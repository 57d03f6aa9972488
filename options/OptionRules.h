// What the command lines of the console programs (kelvanectl, monitor-sim) share, on CLI11.
//   ReadDecimal     how both read a whole number: decimal digits alone
//   UsageFormatter  CLI11's help with the program's own usage line, one blank line between
//                   groups, and each command with what it takes
// Header only: each program reads its command line in one source that compiles CLI11 already,
// and a source of this header's own would compile it once more.
#pragma once

#include <CLI/CLI.hpp>
#include <algorithm>
#include <sstream>
#include <string>

namespace options {

// Reads text as a whole number in decimal digits, nine at the most, and writes it back without
// its leading zeros: CLI11 itself would read "010" as octal and "0x10" as hex. The error, for a
// person, or "".
inline std::string ReadDecimal(std::string& text) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return "wants a whole number, not \"" + text + "\"";
    text.erase(0, std::min(text.find_first_not_of('0'), text.size() - 1));
    return "";
}

class UsageFormatter : public CLI::Formatter {
public:
    // usage follows "Usage: PROGRAM" and ends the usage part of the help, blank line included.
    explicit UsageFormatter(std::string usage) : m_usage(std::move(usage)) {}

    std::string make_usage(const CLI::App*, std::string name) const override {
        return "Usage: " + name + m_usage;
    }

    // CLI11 puts a blank line both after a group and before the next one; one is kept.
    std::string make_group(std::string group, bool positional,
                           std::vector<const CLI::Option*> options) const override {
        return CLI::Formatter::make_group(std::move(group), positional, std::move(options))
            .substr(1);
    }

    // A command with what it takes: "source IN TARGET...".
    std::string make_subcommand(const CLI::App* command) const override {
        std::string name = command->get_name();
        for (const CLI::Option* argument : command->get_options())
            if (argument->get_positional())
                name +=
                    " " + argument->get_name() + (argument->get_expected_max() > 1 ? "..." : "");
        std::stringstream out;
        CLI::detail::format_help(out, name, command->get_description(), get_column_width());
        return out.str();
    }

private:
    std::string m_usage;
};

} // namespace options
