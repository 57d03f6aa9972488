// Small text helpers the service's readers of headers and files share.
//   Trimmed  the text without the blanks (spaces, tabs) around it
//   Lower    the text with ASCII letters in lower case
#pragma once

#include <string>
#include <string_view>

namespace service {

inline std::string Trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return "";
    return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

inline std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

} // namespace service
