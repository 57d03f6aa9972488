// Who may do what: GETs are for anyone who reaches the port; a POST fires an operation on a
// monitor and must come from a program that means it.
//   CheckAccess        the rules the configuration must meet before kelvaned starts (and before
//                      a reload is taken): the token file, and no open port without a token
//   CheckReload        the same for a reload, whose file cannot move the listener
//   LoadToken          reads the token file
//   JudgePost          whether a POST is taken, and the status and reason when it is not
//   SameToken          compares two tokens in constant time
#pragma once

#include <optional>
#include <string>
#include "service/Config.h"
#include "service/http/Message.h"

namespace service {

// Reads the token from the file: its first line without the blanks around it, as a presented token
// is read. False with the reason when the file is no regular file or cannot be read, when others
// may read it or anyone but its owner may write it (root:kelvaned 0640 is the way), or when it
// holds no token.
bool LoadToken(const std::string& path, std::string& token, std::string& error);

// The token of the configuration (empty without token_file), or false with the error, naming the
// file, the line and the key; kelvaned does not start then.
bool CheckAccess(const Config& config, std::string& token, std::string& error);

// CheckAccess for a reload while kelvaned listens on listening, which a reload does not change: a
// file without token_file is refused while that address is reachable from other machines.
bool CheckReload(const Config& config, const ListenAddress& listening, std::string& token,
                 std::string& error);

// Whether a and b are the same, in a time that depends on their lengths alone.
bool SameToken(const std::string& a, const std::string& b);

// Judges a POST by its client's address, its Authorization and Content-Type headers: with a
// token, the right bearer token; without one, a client on this machine. Either way a JSON body,
// which a form on some other web page cannot send without the browser asking first.
http::Verdict JudgePost(const std::string& token, const std::string& remoteAddress,
                        const std::string& authorization, const std::string& contentType);

} // namespace service
