// An operation's POST from its route to the monitor's line worker: one that kelvaned is stopping
// takes nothing, and the client is told so at once instead of waiting for an answer that never
// comes.
#include <gtest/gtest.h>
#include <optional>
#include "service/Api.h"
#include "tests/support/OneMonitorFleet.h"

TEST(ApiOperation, APostMeetingAWorkerThatStopsIsAnswered503AtOnce) {
    OneMonitorFleet one;
    one.worker->Stop(service::Cut::Stop);
    service::Service workers{one.fleet};
    service::Operations operations{one.fleet, one.clock};
    service::OperationLog log;
    service::Api api{one.fleet, workers, operations, log, one.clock};

    service::http::Request post;
    post.method = "POST";
    post.path = "/api/monitors/m1/reset";
    post.client = "127.0.0.1";
    post.headers = {{"Host", "127.0.0.1:9420"}, {"Content-Type", "application/json"}};
    const service::http::Reply head = api.Answer(post);
    ASSERT_TRUE(head.afterBody);
    post.body = "{}";
    const service::http::Reply afterBody = head.afterBody(post);
    ASSERT_TRUE(afterBody.later);
    std::optional<service::http::Response> answer;
    afterBody.later([&](service::http::Response response) { answer = std::move(response); });
    ASSERT_TRUE(answer) << "left waiting";
    EXPECT_EQ(answer->status, 503);
    EXPECT_EQ(*answer->body,
              R"({"error":"kelvaned is stopping: the operation did not run to its end"})");
}
