// HTTPS on libmicrohttpd's own TLS (GnuTLS). The certificate is handed to GnuTLS by a callback
// at each handshake, not given once at the start: a reload then serves a renewed certificate to
// every new connection while the listening socket, the connections already open, their
// waiting operations and event streams go on untouched.
//   TlsSupported      whether this libmicrohttpd can serve HTTPS at all
//   CheckIdentity     whether a certificate chain and a private key (PEM) can be served together
//   ServeIdentity     the certificate and key every handshake from here on is served
//   IdentityCallback  what libmicrohttpd asks at each handshake
#pragma once

#include <gnutls/abstract.h>
#include <string>

namespace service::http {

bool TlsSupported();

// False with the reason when the certificate or the key cannot be read, or the key is not the
// certificate's.
bool CheckIdentity(const std::string& certificate, const std::string& key, std::string& error);

// Takes a checked identity (CheckIdentity) for the handshakes to come; from any thread.
void ServeIdentity(const std::string& certificate, const std::string& key);

gnutls_certificate_retrieve_function3* IdentityCallback();

} // namespace service::http
