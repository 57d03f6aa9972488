// One operation on every monitor of a group.
//   RunOnGroup   starts it: the lines side by side, the members of each line one at a time in
//                the group's order, and tells the records of all of them once the last has ended
#pragma once

#include <functional>
#include <string>
#include <vector>
#include "service/Fleet.h"
#include "service/Operations.h"

namespace service {

// Runs request on each of members (names, in the group's order) for requester. A line's next
// member is started only when the one before it has ended, so that a group of any size never
// fills its line's queue itself: the queue's room stays for the other clients, and a group is
// refused no member for its own size. A member that could not be started (its line's queue full
// with others' operations, a monitor a reload took away, a stop) is recorded as failed (busy) or
// cut (by the reload or the stop) and its line goes on with the next. finished gets one record per member, in members'
// order, on the thread that ended the last one (possibly this one).
void RunOnGroup(Operations& operations, const Fleet& fleet, const std::vector<std::string>& members,
                const Request& request, const Requester& requester,
                std::function<void(const std::vector<OperationRecord>&)> finished);

} // namespace service
