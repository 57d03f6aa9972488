// A fleet of one monitor, m1 (unit 1 on tcp:127.0.0.1:7001), on a line worker that is not started
// and whose line never opens: what is queued for it waits until the test stops the worker.
//   OneMonitorFleet  the fleet, its worker and their virtual clock
#pragma once

#include <memory>
#include "service/Fleet.h"
#include "service/LineWorker.h"
#include "tests/support/VirtualWorkerClock.h"

struct OneMonitorFleet {
    OneMonitorFleet() {
        target.text = "tcp:127.0.0.1:7001";
        worker = std::make_shared<service::LineWorker>(
            target, std::vector<service::LineMonitor>{{"m1", 1}},
            service::LineSettings{std::chrono::hours(1), Timing::Paced}, fleet,
            [](const line::Target&, const line::Cancel&, std::string&) {
                return std::unique_ptr<MonitorLine>();
            },
            clock);
        fleet.Configure({{"m1", target, 1}}, {{target, target.text}}, {worker});
    }

    VirtualTime time;
    VirtualWorkerClock clock{time};
    line::Target target;
    service::Fleet fleet;
    std::shared_ptr<service::LineWorker> worker;
};
