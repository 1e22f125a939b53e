// An HTTPS server on localhost with a freshly made self-signed certificate. POST /echo answers
// "<method> <body> <User-Agent>", so a test sees what its handle sent.
#pragma once

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

namespace velmora::test {

class TlsEchoServer {
 public:
  ~TlsEchoServer() {
    if (m_server) m_server->stop();
    if (m_thread.joinable()) m_thread.join();
  }

  // Writes key and certificate into folder and starts serving.
  bool Start(const std::string& folder) {
    m_certificateFile = folder + "/server-cert.pem";
    m_keyFile = folder + "/server-key.pem";
    if (!MakeCertificate()) return false;
    m_server = std::make_unique<httplib::SSLServer>(m_certificateFile.c_str(), m_keyFile.c_str());
    if (!m_server->is_valid()) return false;
    m_server->Post("/echo", [](const httplib::Request& request, httplib::Response& response) {
      response.set_content(request.method + " " + request.body + " " + request.get_header_value("User-Agent"),
                           "text/plain");
    });
    // Bound means listening: connections queue until the accept loop runs.
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0) return false;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    return true;
  }

  int Port() const { return m_port; }
  const std::string& CertificateFile() const { return m_certificateFile; }

 private:
  struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
  };
  struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
  };
  struct FileClose {
    void operator()(FILE* file) const { std::fclose(file); }
  };

  bool MakeCertificate() {
    std::unique_ptr<EVP_PKEY, PkeyFree> key(EVP_EC_gen("P-256"));
    std::unique_ptr<X509, X509Free> certificate(X509_new());
    if (!key || !certificate) return false;
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -60);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 24 * 3600);
    X509_set_pubkey(certificate.get(), key.get());
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"), -1,
                               -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate.get(), certificate.get(), nullptr, nullptr, 0);
    X509_EXTENSION* altNames =
        X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
    if (altNames == nullptr) return false;
    X509_add_ext(certificate.get(), altNames, -1);
    X509_EXTENSION_free(altNames);
    if (X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0) return false;
    std::unique_ptr<FILE, FileClose> keyOut(std::fopen(m_keyFile.c_str(), "w"));
    std::unique_ptr<FILE, FileClose> certificateOut(std::fopen(m_certificateFile.c_str(), "w"));
    return keyOut && certificateOut &&
           PEM_write_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1 &&
           PEM_write_X509(certificateOut.get(), certificate.get()) == 1;
  }

  std::string m_certificateFile;
  std::string m_keyFile;
  std::unique_ptr<httplib::SSLServer> m_server;
  std::thread m_thread;
  int m_port = 0;
};

}  // namespace velmora::test
