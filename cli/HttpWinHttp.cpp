// kelvaned's API over WinHTTP, Windows's own HTTP client: http, and https verified against the
// Windows certificate store.
#include <windows.h>
#include <winhttp.h>
#include <chrono>
#include "cli/Http.h"
#include "line/WindowsError.h"

namespace {

class Handle {
public:
    explicit Handle(HINTERNET handle) : m_handle(handle) {}
    ~Handle() {
        if (m_handle != nullptr)
            ::WinHttpCloseHandle(m_handle);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    operator HINTERNET() const { return m_handle; }

private:
    HINTERNET m_handle;
};

std::wstring Wide(const std::string& text) {
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(length > 0 ? size_t(length) : 0, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), length);
    return wide;
}

// WinHTTP's own errors have no text in the system's table; the usual ones are named here.
HttpFailure Failed(std::string& error) {
    const DWORD code = ::GetLastError();
    switch (code) {
    case ERROR_WINHTTP_TIMEOUT:
        error = "no answer in time";
        return HttpFailure::TimedOut;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        error = "the name cannot be looked up";
        return HttpFailure::Connect;
    case ERROR_WINHTTP_CANNOT_CONNECT:
        error = "cannot connect";
        return HttpFailure::Connect;
    case ERROR_WINHTTP_SECURE_FAILURE:
        error = "its certificate is not one Windows trusts";
        return HttpFailure::Connect;
    case ERROR_WINHTTP_CONNECTION_ERROR:
        error = "the connection broke";
        return HttpFailure::Other;
    default:
        error = code >= WINHTTP_ERROR_BASE && code <= WINHTTP_ERROR_LAST
                    ? "WinHTTP error " + std::to_string(code)
                    : line::WindowsErrorText(code);
        return HttpFailure::Other;
    }
}

} // namespace

HttpFailure SendRequest(const HttpRequest& request, HttpAnswer& answer, std::string& error,
                        const line::Cancel* cancel) {
    answer = HttpAnswer{};
    if (!request.caFile.empty()) {
        error = "--ca-file is for Linux: on Windows, put the certificate in the Windows "
                "certificate store";
        return HttpFailure::Connect;
    }
    const auto giveUp =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(request.limitMs);
    std::wstring url = Wide(request.url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = DWORD(-1);
    if (!::WinHttpCrackUrl(url.c_str(), DWORD(url.size()), 0, &parts)) {
        error = "not a URL WinHTTP takes";
        return HttpFailure::Other;
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    // kelvaned is reached directly: no proxy in between.
    const Handle session(::WinHttpOpen(L"kelvanectl", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                       WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (session == nullptr)
        return Failed(error);
    const int limit = int(request.limitMs);
    ::WinHttpSetTimeouts(session, int(HTTP_CONNECT_LIMIT_MS), int(HTTP_CONNECT_LIMIT_MS), limit,
                         limit);
    const Handle connection(::WinHttpConnect(session, host.c_str(), parts.nPort, 0));
    if (connection == nullptr)
        return Failed(error);
    const Handle call(
        ::WinHttpOpenRequest(connection, Wide(request.method).c_str(), path.c_str(), nullptr,
                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                             parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    if (call == nullptr)
        return Failed(error);
    std::wstring headers = L"Accept: application/json\r\n";
    if (!request.token.empty())
        headers += L"Authorization: Bearer " + Wide(request.token) + L"\r\n";
    if (request.method == "POST")
        headers += L"Content-Type: application/json\r\n";
    if (!::WinHttpSendRequest(call, headers.c_str(), DWORD(headers.size()),
                              const_cast<char*>(request.body.data()), DWORD(request.body.size()),
                              DWORD(request.body.size()), 0) ||
        !::WinHttpReceiveResponse(call, nullptr))
        return Failed(error);
    DWORD status = 0;
    DWORD size = sizeof status;
    ::WinHttpQueryHeaders(call, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    answer.status = int(status);
    // Each read waits at most the receive time-out; the whole answer keeps the limit too, and a
    // cancel is looked at between two reads.
    char buffer[16 * 1024];
    for (DWORD got = 1; got != 0;) {
        if (cancel != nullptr && cancel->IsSet()) {
            error = "interrupted";
            return HttpFailure::Cancelled;
        }
        if (std::chrono::steady_clock::now() > giveUp) {
            error = "the answer did not come whole in time";
            return HttpFailure::TimedOut;
        }
        if (!::WinHttpReadData(call, buffer, sizeof buffer, &got))
            return Failed(error);
        if (answer.body.size() + got > MAX_ANSWER_BYTES) {
            error = "the answer is over " + std::to_string(MAX_ANSWER_BYTES / 1024 / 1024) + " MB";
            return HttpFailure::TooLarge;
        }
        answer.body.append(buffer, got);
    }
    return HttpFailure::None;
}
