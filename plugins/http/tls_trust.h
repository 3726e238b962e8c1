// Whether the TLS server of a transfer is one the system trusts, checked by
// the plug-in itself where libcurl leaves the check to the TLS library.
#ifndef OGMDECAPS_PLUGINS_HTTP_TLS_TRUST_H
#define OGMDECAPS_PLUGINS_HTTP_TLS_TRUST_H

#include <curl/curl.h>

// True for a plain HTTP transfer, or a TLS one whose server certificate
// chains to a root the system trusts and names the host, or when the host
// named its own CA bundle (libcurl then checks the chain against that bundle
// itself). Call once the transfer has connected (from a header callback).
bool TlsServerTrusted(CURL* easy);

#endif
