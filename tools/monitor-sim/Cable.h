#pragma once
// The test cable's control folder (tools/null-modem/cable.py): pulling the cable out, putting it
// back, and what the cable logged in cable.log there.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace monitor_sim {

class Cable {
public:
    // folder: the cable's folder as a Windows path; empty when there is no cable to pull.
    explicit Cable(std::wstring folder) : folder_(std::move(folder)) {}

    bool available() const { return !folder_.empty(); }

    // Whether the cable is out (its file "pulled" exists), by us or by someone else.
    bool pulled() const;

    // Pulls the cable out and waits until the cable has dropped both ends; false with error text
    // when it does not within five seconds.
    bool pull(std::string& error);

    // Puts the cable back and waits until both ends are there again.
    bool plug(std::string& error);

    // Waits until someone else has put the cable back (it logged a "plug" after its last "pull"),
    // as long as keepWaiting says so; false when keepWaiting gave up first.
    bool waitUntilPutBack(const std::function<bool()>& keepWaiting);

private:
    // The events the cable has logged so far ("open", "pull"...), in order.
    std::vector<std::string> events() const;
    // How often the cable has logged the event so far.
    std::size_t count(std::string_view event) const;
    bool isBack() const;
    bool waitForMore(std::string_view event, std::size_t before) const;

    std::wstring folder_;
};

} // namespace monitor_sim
