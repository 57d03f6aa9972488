#include "service/Security.h"
#include <sys/stat.h>
#include <algorithm>
#include "service/Files.h"
#include "service/Text.h"

namespace service {

namespace {

bool LoopbackClient(const std::string& address) {
    return address.rfind("127.", 0) == 0 || address == "::1" ||
           address.rfind("::ffff:127.", 0) == 0;
}

} // namespace

bool LoadToken(const std::string& path, std::string& token, std::string& error) {
    std::string text;
    struct stat info {};
    if (!ReadRegularFile(path, text, info, error)) {
        error = path + ": " + error;
        return false;
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH | S_IROTH)) != 0) {
        error = path + " is open to others: only its owner may write it, and only its owner and " +
                "group read it (chmod 640 " + path + ")";
        return false;
    }
    std::string first = text.substr(0, text.find('\n'));
    if (!first.empty() && first.back() == '\r')
        first.pop_back();
    token = Trimmed(first);
    if (token.empty()) {
        error = path + " holds no token on its first line";
        return false;
    }
    return true;
}

bool CheckAccess(const Config& config, std::string& token, std::string& error) {
    token.clear();
    if (config.tokenFile) {
        std::string reason;
        if (!LoadToken(*config.tokenFile, token, reason)) {
            error = config.Where("token_file") + reason;
            return false;
        }
        return true;
    }
    if (!config.listen.Loopback()) {
        error = config.Where("listen") + config.listen.Text() +
                " is reachable from other machines: give a token_file, or listen on 127.0.0.1";
        return false;
    }
    return true;
}

bool CheckReload(const Config& config, const ListenAddress& listening, std::string& token,
                 std::string& error) {
    if (!config.tokenFile && !listening.Loopback()) {
        error = config.file + ": token_file is wanted while kelvaned listens on " +
                listening.Text() + ", which is reachable from other machines (a new listen " +
                "takes a restart)";
        return false;
    }
    return CheckAccess(config, token, error);
}

bool SameToken(const std::string& a, const std::string& b) {
    unsigned char differ = a.size() == b.size() ? 0 : 1;
    const size_t length = std::max(a.size(), b.size());
    for (size_t i = 0; i < length; ++i) {
        const auto x = static_cast<unsigned char>(i < a.size() ? a[i] : 0);
        const auto y = static_cast<unsigned char>(i < b.size() ? b[i] : 0);
        differ |= static_cast<unsigned char>(x ^ y);
    }
    return differ == 0;
}

http::Verdict JudgePost(const std::string& token, const std::string& remoteAddress,
                        const std::string& authorization, const std::string& contentType) {
    if (token.empty() && !LoopbackClient(remoteAddress))
        return {403, "operations are taken only from this machine (no token_file is configured)"};
    if (!token.empty()) {
        const std::string given = Trimmed(authorization);
        if (given.empty())
            return {401, "an operation needs Authorization: Bearer TOKEN"};
        if (Lower(given.substr(0, 7)) != "bearer " || !SameToken(Trimmed(given.substr(7)), token))
            return {403, "the token is wrong"};
    }
    const std::string type = Lower(Trimmed(contentType.substr(0, contentType.find(';'))));
    if (type != "application/json")
        return {415, "an operation's body is JSON: Content-Type: application/json"};
    return {};
}

} // namespace service
