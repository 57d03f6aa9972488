#pragma once
// The test cable's control folder (tools/null-modem/cable.py): pulling the cable out, putting it
// back, and what the cable logged in cable.log there. The simulator pulls it for its faults; the
// end-to-end tests pull it and read its log through the same class.
//   CableEvent      one line of the cable's log: "pull", "open panel", "close monitor"...
//   Cable           the cable's folder
//   readSharedFile  what a file another program is still writing holds so far

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace monitor_sim {

struct CableEvent {
    std::string kind;    // "open", "close", "pull", "plug", "ready"...
    std::string details; // the end: "panel" or "monitor"; empty for the cable as a whole
};

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

    // The events the cable has logged so far, in order.
    std::vector<CableEvent> events() const;
    // How often the cable has logged the event with these details so far.
    std::size_t count(std::string_view kind, std::string_view details = {}) const;

private:
    bool isBack() const;
    bool waitForMore(std::string_view event, std::size_t before) const;

    std::wstring folder_;
};

// What a file that another program may still be writing holds so far; empty when it is not there.
std::string readSharedFile(const std::wstring& path);

} // namespace monitor_sim
