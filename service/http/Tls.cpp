#include "service/http/Tls.h"
#include <gnutls/gnutls.h>
#include <microhttpd.h>
#include <cctype>
#include <memory>
#include <mutex>

namespace service::http {

namespace {

// The longest certificate chain served: the server's certificate and its intermediates.
constexpr unsigned MAX_CHAIN = 16;

struct Identity {
    std::string certificate;
    std::string key;
};

// GnuTLS's retrieve function takes no closure of ours, so the identity served is the process's
// one: kelvaned serves one address.
std::mutex g_mutex;
std::shared_ptr<const Identity> g_identity;

gnutls_datum_t Datum(const std::string& text) {
    return {reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())),
            static_cast<unsigned>(text.size())};
}

// The identity as GnuTLS serves it, made afresh for one handshake in GnuTLS's memory, which
// GnuTLS frees when the connection ends (GNUTLS_CERT_RETR_DEINIT_ALL): a reload never frees
// what a connection still holds. A negative GnuTLS error, or 0.
int Import(const Identity& identity, gnutls_pcert_st*& chain, unsigned& length,
           gnutls_privkey_t& key) {
    chain = static_cast<gnutls_pcert_st*>(gnutls_malloc(sizeof(gnutls_pcert_st) * MAX_CHAIN));
    if (chain == nullptr)
        return GNUTLS_E_MEMORY_ERROR;
    length = MAX_CHAIN;
    const gnutls_datum_t certificate = Datum(identity.certificate);
    int result =
        gnutls_pcert_list_import_x509_raw(chain, &length, &certificate, GNUTLS_X509_FMT_PEM, 0);
    if (result < 0) {
        gnutls_free(chain);
        chain = nullptr;
        return result;
    }
    const gnutls_datum_t text = Datum(identity.key);
    result = gnutls_privkey_init(&key);
    if (result >= 0)
        result = gnutls_privkey_import_x509_raw(key, &text, GNUTLS_X509_FMT_PEM, nullptr, 0);
    if (result < 0) {
        if (key != nullptr)
            gnutls_privkey_deinit(key);
        key = nullptr;
        for (unsigned i = 0; i < length; ++i)
            gnutls_pcert_deinit(&chain[i]);
        gnutls_free(chain);
        chain = nullptr;
    }
    return result;
}

int Retrieve(gnutls_session_t, const gnutls_cert_retr_st*, gnutls_pcert_st** chain,
             unsigned* length, gnutls_ocsp_data_st** ocsp, unsigned* ocspLength,
             gnutls_privkey_t* key, unsigned* flags) {
    std::shared_ptr<const Identity> identity;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        identity = g_identity;
    }
    *ocsp = nullptr;
    *ocspLength = 0;
    *flags = GNUTLS_CERT_RETR_DEINIT_ALL;
    *key = nullptr;
    if (!identity)
        return GNUTLS_E_INSUFFICIENT_CREDENTIALS;
    return Import(*identity, *chain, *length, *key) < 0 ? -1 : 0;
}

} // namespace

bool TlsSupported() {
    return MHD_is_feature_supported(MHD_FEATURE_TLS) == MHD_YES;
}

bool CheckIdentity(const std::string& certificate, const std::string& key, std::string& error) {
    // GnuTLS's own credentials check that the key is the certificate's.
    gnutls_certificate_credentials_t credentials = nullptr;
    int result = gnutls_certificate_allocate_credentials(&credentials);
    if (result >= 0) {
        const gnutls_datum_t certificateText = Datum(certificate);
        const gnutls_datum_t keyText = Datum(key);
        result = gnutls_certificate_set_x509_key_mem2(credentials, &certificateText, &keyText,
                                                      GNUTLS_X509_FMT_PEM, nullptr, 0);
        gnutls_certificate_free_credentials(credentials);
    }
    // And the handshake's own import, with its bound on the chain.
    gnutls_pcert_st* chain = nullptr;
    unsigned length = 0;
    gnutls_privkey_t privateKey = nullptr;
    if (result >= 0 && (result = Import({certificate, key}, chain, length, privateKey)) >= 0) {
        for (unsigned i = 0; i < length; ++i)
            gnutls_pcert_deinit(&chain[i]);
        gnutls_free(chain);
        gnutls_privkey_deinit(privateKey);
    }
    if (result < 0) {
        // GnuTLS's sentence, as the end of ours: "the certificate and the given key do not match".
        error = gnutls_strerror(result);
        if (!error.empty() && error.back() == '.')
            error.pop_back();
        if (!error.empty())
            error[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(error[0])));
    }
    return result >= 0;
}

void ServeIdentity(const std::string& certificate, const std::string& key) {
    auto identity = std::make_shared<const Identity>(Identity{certificate, key});
    std::lock_guard<std::mutex> lock(g_mutex);
    g_identity = std::move(identity);
}

gnutls_certificate_retrieve_function3* IdentityCallback() {
    return &Retrieve;
}

} // namespace service::http
