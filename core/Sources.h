// The monitor's input sources: the code each has on the wire and the name people know it by.
//   InputSource, SOURCES, SOURCE_COUNT   the four, in the order of their index
//   SourceByCode, SourceByName           a source's index from its code or its name; -1 for none
//   SourceChoices                        the four names as a person reads them in a sentence
// Standard C++ only.
#pragma once

#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>

namespace protocol {

struct InputSource {
    const char* code; // three letters: the switch's argument and the source query's answer
    const char* name; // as the panel and the command line show it
};

// 0 HDMI 1, 1 HDMI 2, 2 HDMI 3, 3 VGA.
inline constexpr InputSource SOURCES[] = {
    {"HD1", "HDMI1"}, {"HD2", "HDMI2"}, {"HD3", "HDMI3"}, {"VGA", "VGA"}};
inline constexpr int SOURCE_COUNT = static_cast<int>(std::size(SOURCES));

constexpr int SourceByCode(std::string_view code) {
    for (int i = 0; i < SOURCE_COUNT; ++i)
        if (code == SOURCES[i].code)
            return i;
    return -1;
}

// Names compare regardless of case: "hdmi2" is HDMI2.
constexpr int SourceByName(std::string_view name) {
    auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    for (int i = 0; i < SOURCE_COUNT; ++i) {
        const std::string_view known = SOURCES[i].name;
        if (known.size() != name.size())
            continue;
        bool same = true;
        for (size_t k = 0; k < known.size() && same; ++k)
            same = lower(known[k]) == lower(name[k]);
        if (same)
            return i;
    }
    return -1;
}

// The source's name, or "?" for an index outside the table.
constexpr const char* SourceName(int source) {
    return source >= 0 && source < SOURCE_COUNT ? SOURCES[source].name : "?";
}

// "HDMI1, HDMI2, HDMI3 or VGA".
inline std::string SourceChoices() {
    std::string names;
    for (int i = 0; i < SOURCE_COUNT; ++i)
        names += std::string(i == 0 ? "" : i + 1 == SOURCE_COUNT ? " or " : ", ") + SOURCES[i].name;
    return names;
}

} // namespace protocol
