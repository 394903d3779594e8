// The command table written out for people: ormelix-cli's help and its manual page.
#pragma once

#include "instrument/Command.h"

#include <string>

namespace instrument {

// What the table's meaning leaves out: the command's argument and its sequence.
inline std::string CommandDetail(const CommandItem& Item) {
    if (Item.TakesPeriod)
        return " N, " + std::to_string(PollPeriodMin) + " to " + std::to_string(PollPeriodMax);
    if (Item.Code == command::ReadStored)
        return ": sent, " + std::to_string(StoredReadPauseMs) +
               " ms pause, fetched and sent back; prints the stored poll period and scale";
    return {};
}

// One command a line: name, code, meaning; for a terminal, wrapped before column 80.
inline std::string CommandHelpList() {
    constexpr std::size_t kIndent = 22, kWidth = 79;
    std::string out;
    for (const CommandItem& item : CommandItems) {
        std::string name = item.Name;
        if (item.TakesPeriod) name += " N";
        name.resize(std::max<std::size_t>(name.size(), 14), ' ');
        std::string code = std::to_string(item.Code);
        code.insert(0, code.size() < 3 ? 3 - code.size() : 0, ' ');
        std::string line = "  " + name + code + "  ";
        const std::string text = std::string(item.Meaning) + CommandDetail(item);
        for (std::size_t at = 0; at < text.size();) {
            std::size_t end = text.find(' ', at);
            if (end == std::string::npos) end = text.size();
            const std::string word = text.substr(at, end - at);
            if (line.size() + 1 + word.size() > kWidth && line.size() > kIndent) {
                out += line + "\n";
                line = std::string(kIndent - 1, ' ');
            }
            line += " " + word;
            at = end + 1;
        }
        out += line + "\n";
    }
    return out;
}

// The same as roff for the manual page: each name in bold, then its code and meaning.
inline std::string CommandManList() {
    std::string out;
    for (std::size_t i = 0; i < CommandItems.size(); ++i) {
        const CommandItem& item = CommandItems[i];
        out += item.TakesPeriod ? std::string(".BI ") + item.Name + " \" N\"\n"
                                : std::string(".B ") + item.Name + "\n";
        // Appended piece by piece: GCC 12 at -O3 sees a false overlap in "(" + a temporary.
        out += '(';
        out += std::to_string(item.Code);
        out += ": ";
        out += item.Meaning;
        out += CommandDetail(item);
        out += ')';
        out += i + 1 < CommandItems.size() ? ",\n" : ".\n";
    }
    return out;
}

} // namespace instrument
