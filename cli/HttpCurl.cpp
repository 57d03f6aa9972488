// kelvaned's API over libcurl (Debian's libcurl4-openssl-dev): http, and https with the server's
// certificate verified.
#include <curl/curl.h>
#include <mutex>
#include "cli/Http.h"

namespace {

struct Transfer {
    HttpAnswer& answer;
    const line::Cancel* cancel;
    bool tooLarge = false;
};

size_t TakeBody(char* bytes, size_t size, size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    const size_t length = size * count;
    if (transfer.answer.body.size() + length > MAX_ANSWER_BYTES) {
        transfer.tooLarge = true;
        return 0; // anything but length ends the transfer
    }
    transfer.answer.body.append(bytes, length);
    return length;
}

int Progress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto& transfer = *static_cast<Transfer*>(context);
    return transfer.cancel != nullptr && transfer.cancel->IsSet() ? 1 : 0;
}

HttpFailure FailureOf(CURLcode code, const Transfer& transfer) {
    if (transfer.tooLarge)
        return HttpFailure::TooLarge;
    switch (code) {
    case CURLE_ABORTED_BY_CALLBACK:
        return HttpFailure::Cancelled;
    case CURLE_OPERATION_TIMEDOUT:
        return HttpFailure::TimedOut;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
        return HttpFailure::Connect;
    default:
        return HttpFailure::Other;
    }
}

} // namespace

HttpFailure SendRequest(const HttpRequest& request, HttpAnswer& answer, std::string& error,
                        const line::Cancel* cancel) {
    // Once for the program, before any transfer: libcurl's global set-up is not for two threads.
    static std::once_flag started;
    std::call_once(started, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    answer = HttpAnswer{};
    CURL* curl = curl_easy_init();
    if (curl == nullptr) {
        error = "cannot start libcurl";
        return HttpFailure::Other;
    }
    Transfer transfer{answer, cancel};
    char reason[CURL_ERROR_SIZE] = "";
    curl_slist* headers = curl_slist_append(nullptr, "Accept: application/json");
    const std::string authorization = "Authorization: Bearer " + request.token;
    if (!request.token.empty())
        headers = curl_slist_append(headers, authorization.c_str());
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    // Threads of their own: no signals for the name lookup's time-out.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // kelvaned is reached directly: a proxy of the environment has no business in between.
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(HTTP_CONNECT_LIMIT_MS));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(request.limitMs));
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, reason);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, TakeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    if (!request.caFile.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, request.caFile.c_str());
    if (request.method == "POST") {
        headers = curl_slist_append(headers, "Content-Type: application/json");
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, long(request.body.size()));
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    const CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    answer.status = static_cast<int>(status);
    if (code == CURLE_OK)
        return HttpFailure::None;
    const HttpFailure failure = FailureOf(code, transfer);
    error = failure == HttpFailure::TooLarge
                ? "the answer is over " + std::to_string(MAX_ANSWER_BYTES / 1024 / 1024) + " MB"
            : reason[0] != '\0' ? std::string(reason)
                                : std::string(curl_easy_strerror(code));
    // The usual cause: an https:// URL for a kelvaned that serves http:// alone.
    if (code == CURLE_SSL_CONNECT_ERROR)
        error += " (no TLS there? a kelvaned without TLS takes http:// URLs alone)";
    return failure;
}
