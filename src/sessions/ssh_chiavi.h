#pragma once
// Chiavi RSA firmate con SHA-256, che libssh2 1.10 non sa fare da sé.
#include <libssh2.h>
#include <openssl/types.h>

#include <memory>
#include <optional>
#include <string>

namespace ormeggio::ssh {

class ChiaveRsaSha2 {
  public:
    // nullptr se il file non è una chiave RSA in un formato PEM di OpenSSL; una chiave
    // vuota (valida() falso) con *errore se lo è ma non si lascia leggere.
    static std::unique_ptr<ChiaveRsaSha2> carica(const std::string& file,
                                                 const std::optional<std::string>& passphrase,
                                                 std::string* errore);
    ~ChiaveRsaSha2();
    ChiaveRsaSha2(const ChiaveRsaSha2&) = delete;
    ChiaveRsaSha2& operator=(const ChiaveRsaSha2&) = delete;

    bool valida() const { return _chiave != nullptr; }
    // Chiave pubblica nel formato del protocollo, con il nome dell'algoritmo di firma.
    const std::string& blob() const { return _blob; }
    // Da passare a libssh2_userauth_publickey, con astratto che punta a questa chiave.
    static int firma(LIBSSH2_SESSION* sessione, unsigned char** firma, size_t* lunghezza,
                     const unsigned char* dati, size_t n, void** astratto);

  private:
    ChiaveRsaSha2(EVP_PKEY* k, std::string blob) : _chiave(k), _blob(std::move(blob)) {}
    EVP_PKEY* _chiave;
    std::string _blob;
};

// Vero se il file è una chiave RSA nel formato proprio di OpenSSH, che libssh2 firma
// solo con SHA-1.
bool rsa_in_formato_openssh(const std::string& file);

}  // namespace ormeggio::ssh
