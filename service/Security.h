// Who may do what: GETs are for anyone who reaches the port; a POST fires an operation on a
// monitor and must come from a program that means it.
//   CheckAccess        the rules the configuration must meet before kelvaned starts (and before
//                      a reload is taken): the token file, and no open port without a token
//   CheckReload        the same for a reload, whose file cannot move the listener
//   ReadPrivateFile    reads a file only its owner may write and others may not read
//   LoadToken          reads a secret of one line (the MQTT broker's password)
//   Tokens, LoadTokens the tokens taken (each with its holder's label, if any), read from the
//                      token file as kelvanectl reads it
//   TlsIdentity, LoadTls  the certificate and key files of HTTPS, read and checked
//   JudgePost          whether a POST is taken, and the status and reason when it is not; the
//                      label of the token that took it
//   SameToken          compares two tokens in constant time
#pragma once

#include <optional>
#include <string>
#include <vector>
#include "commands/TokenFile.h"
#include "service/Config.h"
#include "service/http/Message.h"

namespace service {

// Reads a secret's file whole. False with the reason when the file is no regular file or cannot be
// read, or when others may read it or anyone but its owner may write it (root:kelvaned 0640 is
// the way).
bool ReadPrivateFile(const std::string& path, std::string& text, std::string& error);

// Reads a secret from the file (ReadPrivateFile): its first line without the blanks around it.
// False with the reason also when that is empty.
bool LoadToken(const std::string& path, std::string& token, std::string& error);

// Every line of the token file is a token kelvaned takes: "TOKEN", or "LABEL TOKEN" to name who
// holds it in the log. Empty: no token_file.
using Tokens = std::vector<TokenLine>;

// Reads the tokens from the file (ReadTokenFile's rules: root:kelvaned 0640 is the way). False
// with the reason when it is no regular file, cannot be read, is open to others or holds no token.
bool LoadTokens(const std::string& path, Tokens& tokens, std::string& error);

// The tokens of the configuration (none without token_file), or false with the error, naming the
// file, the line and the key; kelvaned does not start then.
bool CheckAccess(const Config& config, Tokens& tokens, std::string& error);

// What HTTPS serves: a certificate chain and its private key, in PEM.
struct TlsIdentity {
    std::string certificate;
    std::string key;
};

// The identity of tls_cert_file and tls_key_file (the key file a secret, as the token's), checked
// to be servable; false with the error, naming the file, the line and the key. Nothing to read
// without them.
bool LoadTls(const Config& config, TlsIdentity& identity, std::string& error);

// CheckAccess for a reload while kelvaned listens on listening, which a reload does not change: a
// file without token_file is refused while that address is reachable from other machines.
bool CheckReload(const Config& config, const ListenAddress& listening, Tokens& tokens,
                 std::string& error);

// Whether a and b are the same, in a time that depends on their lengths alone.
bool SameToken(const std::string& a, const std::string& b);

// Judges a POST by its client's address, its Authorization and Content-Type headers: with
// tokens, a bearer token that is one of them (its label then in label, when given); without, a
// client on this machine. Either way a JSON body, which a form on some other web page cannot send
// without the browser asking first.
http::Verdict JudgePost(const Tokens& tokens, const std::string& remoteAddress,
                        const std::string& authorization, const std::string& contentType,
                        std::string* label = nullptr);

} // namespace service
