/* Adds a certificate (a PEM file) to the current user's Root store: the
 * Windows way of trusting a server's self-signed certificate, for the HTTPS
 * comparison under wine. (Each run makes a new key and certificate, so one
 * trusted by an earlier run says nothing about the next.)
 *
 *   wine_trust_root.exe CERT.pem */
#include <stdio.h>
#include <windows.h>
/* After <windows.h>: */
#include <wincrypt.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    fputs("usage: wine_trust_root CERT.pem\n", stderr);
    return 2;
  }
  FILE* f = fopen(argv[1], "rb");
  static char pem[1 << 16];
  const size_t n = f ? fread(pem, 1, sizeof pem - 1, f) : 0;
  if (f) fclose(f);
  static BYTE der[1 << 16];
  DWORD derSize = sizeof der;
  if (n == 0 ||
      !CryptStringToBinaryA(pem, (DWORD)n, CRYPT_STRING_BASE64HEADER, der, &derSize, NULL, NULL)) {
    fprintf(stderr, "%s: not a PEM certificate\n", argv[1]);
    return 1;
  }
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  const BOOL ok =
      store != NULL && CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der, derSize,
                                                        CERT_STORE_ADD_REPLACE_EXISTING, NULL);
  if (!ok) fprintf(stderr, "cannot add the certificate to the Root store (%lu)\n", GetLastError());
  if (store != NULL) CertCloseStore(store, 0);
  return ok ? 0 : 1;
}
