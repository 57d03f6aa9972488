#include "service/Security.h"
#include <sys/stat.h>
#include <algorithm>
#include "service/Files.h"
#include "service/Text.h"
#include "service/http/Tls.h"

namespace service {

namespace {

bool LoopbackClient(const std::string& address) {
    return address.rfind("127.", 0) == 0 || address == "::1" ||
           address.rfind("::ffff:127.", 0) == 0;
}

} // namespace

bool ReadPrivateFile(const std::string& path, std::string& text, std::string& error) {
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
    return true;
}

bool LoadToken(const std::string& path, std::string& token, std::string& error) {
    std::string text;
    if (!ReadPrivateFile(path, text, error))
        return false;
    std::string first = text.substr(0, text.find('\n'));
    if (!first.empty() && first.back() == '\r')
        first.pop_back();
    token = Trimmed(first);
    if (token.empty()) {
        error = path + " holds nothing on its first line";
        return false;
    }
    return true;
}

bool LoadTokens(const std::string& path, Tokens& tokens, std::string& error) {
    return ReadTokenFile(path, tokens, error);
}

bool CheckAccess(const Config& config, Tokens& tokens, std::string& error) {
    tokens.clear();
    if (config.tokenFile) {
        std::string reason;
        if (!LoadTokens(*config.tokenFile, tokens, reason)) {
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

bool LoadTls(const Config& config, TlsIdentity& identity, std::string& error) {
    identity = {};
    if (!config.tlsCertFile)
        return true;
    if (!http::TlsSupported()) {
        error = config.Where("tls_cert_file") +
                "this libmicrohttpd is built without TLS: HTTPS cannot be served";
        return false;
    }
    struct stat info {};
    std::string reason;
    if (!ReadRegularFile(*config.tlsCertFile, identity.certificate, info, reason)) {
        error = config.Where("tls_cert_file") + *config.tlsCertFile + ": " + reason;
        return false;
    }
    if (!ReadPrivateFile(*config.tlsKeyFile, identity.key, reason)) {
        error = config.Where("tls_key_file") + reason;
        return false;
    }
    if (!http::CheckIdentity(identity.certificate, identity.key, reason)) {
        error = config.Where("tls_key_file") + *config.tlsKeyFile + " with " + *config.tlsCertFile +
                ": " + reason;
        return false;
    }
    return true;
}

bool CheckReload(const Config& config, const ListenAddress& listening, Tokens& tokens,
                 std::string& error) {
    if (!config.tokenFile && !listening.Loopback()) {
        error = config.file + ": token_file is wanted while kelvaned listens on " +
                listening.Text() + ", which is reachable from other machines (a new listen " +
                "takes a restart)";
        return false;
    }
    return CheckAccess(config, tokens, error);
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

http::Verdict JudgePost(const Tokens& tokens, const std::string& remoteAddress,
                        const std::string& authorization, const std::string& contentType,
                        std::string* label) {
    if (tokens.empty() && !LoopbackClient(remoteAddress))
        return {403, "operations are taken only from this machine (no token_file is configured)"};
    if (!tokens.empty()) {
        const std::string given = Trimmed(authorization);
        if (given.empty())
            return {401, "an operation needs Authorization: Bearer TOKEN"};
        if (Lower(given.substr(0, 7)) != "bearer ")
            return {403, "the token is wrong"};
        // Every token is compared, whichever matches: the time tells nothing of which did.
        const std::string presented = Trimmed(given.substr(7));
        const TokenLine* match = nullptr;
        for (const TokenLine& token : tokens)
            if (SameToken(presented, token.token) && match == nullptr)
                match = &token;
        if (match == nullptr)
            return {403, "the token is wrong"};
        if (label != nullptr)
            *label = match->label;
    }
    const std::string type = Lower(Trimmed(contentType.substr(0, contentType.find(';'))));
    if (type != "application/json")
        return {415, "an operation's body is JSON: Content-Type: application/json"};
    return {};
}

} // namespace service
