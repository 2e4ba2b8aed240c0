// The test CA of the TLS peers in the prefix's Root store.
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace mailtest {

// Puts the CA named by the environment variable (a PEM file) into the current user's Root
// store, replacing any certificate of its subject; the peers' leaves chain to it.
inline bool InstallTestCa(const char *variable) {
    const char *path = std::getenv(variable);
    if (!path)
        return false;
    std::ifstream in(path, std::ios::binary);
    const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    DWORD size = 0;
    if (pem.empty() || !CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr,
                                             &size, nullptr, nullptr))
        return false;
    std::vector<BYTE> der(size);
    CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr,
                         nullptr);
    PCCERT_CONTEXT ca = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size);
    HCERTSTORE root =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "ROOT");
    bool added = false;
    if (ca && root) {
        for (int i = 0; i < 100; ++i) {
            PCCERT_CONTEXT old =
                CertFindCertificateInStore(root, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME,
                                           &ca->pCertInfo->Subject, nullptr);
            if (!old)
                break;
            CertDeleteCertificateFromStore(old);
        }
        added = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(), size,
                                                 CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
    }
    if (ca)
        CertFreeCertificateContext(ca);
    if (root)
        CertCloseStore(root, 0);
    return added;
}

} // namespace mailtest
