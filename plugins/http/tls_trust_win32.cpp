// With Schannel, libcurl checks a server's certificate itself only against a
// CA bundle the host names; otherwise it asks Schannel to do it during the
// handshake. wine's Schannel never does, so under wine any certificate,
// self-signed or not, would be accepted. The plug-in therefore builds and
// checks the chain itself with the system's certificate store, as Schannel
// does on Windows (where the second check costs one chain lookup per
// response).
#include <windows.h>

#include "plugins/http/tls_trust.h"
// After <windows.h>:
#include <wincrypt.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>

#include <cstdlib>
#include <string>

#include "platform/charset.h"

namespace {

// One part of the transfer's current URL (after a redirect, the new one).
std::string UrlPart(CURL* easy, CURLUPart which) {
  const char* url = nullptr;
  if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &url) != CURLE_OK || url == nullptr)
    return std::string();
  std::string text;
  CURLU* parsed = curl_url();
  char* part = nullptr;
  if (parsed != nullptr && curl_url_set(parsed, CURLUPART_URL, url, 0) == CURLUE_OK &&
      curl_url_get(parsed, which, &part, 0) == CURLUE_OK) {
    text = part;
    curl_free(part);
  }
  curl_url_cleanup(parsed);
  return text;
}

bool ChainTrusted(PCCERT_CONTEXT server, const std::string& host) {
  CERT_CHAIN_PARA para = {};
  para.cbSize = sizeof para;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!CertGetCertificateChain(nullptr, server, nullptr, server->hCertStore, &para, 0, nullptr,
                               &chain))
    return false;
  std::u16string name = Utf8ToUtf16(host);
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
  ssl.cbStruct = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.pwszServerName = reinterpret_cast<wchar_t*>(name.data());
  CERT_CHAIN_POLICY_PARA policy = {};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status = {};
  status.cbSize = sizeof status;
  const bool ok =
      CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status) != 0 &&
      status.dwError == 0;
  CertFreeCertificateChain(chain);
  return ok;
}

}  // namespace

bool TlsServerTrusted(CURL* easy) {
  if (UrlPart(easy, CURLUPART_SCHEME) == "http") return true;
  if (const char* bundle = std::getenv("CURL_CA_BUNDLE"); bundle != nullptr && *bundle != '\0')
    return true;
  curl_tlssessioninfo* session = nullptr;
  if (curl_easy_getinfo(easy, CURLINFO_TLS_SSL_PTR, &session) != CURLE_OK || session == nullptr ||
      session->backend != CURLSSLBACKEND_SCHANNEL || session->internals == nullptr)
    return false;
  PCCERT_CONTEXT server = nullptr;
  if (QueryContextAttributesW(static_cast<CtxtHandle*>(session->internals),
                              SECPKG_ATTR_REMOTE_CERT_CONTEXT, &server) != SEC_E_OK ||
      server == nullptr)
    return false;
  // The host without the brackets of an IPv6 address.
  std::string host = UrlPart(easy, CURLUPART_HOST);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  const bool ok = ChainTrusted(server, host);
  CertFreeCertificateContext(server);
  return ok;
}
