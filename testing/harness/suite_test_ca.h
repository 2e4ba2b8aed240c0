// The test CA of the TLS peers (testing/tlspeer) in the prefix's current-user Root store.
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace suite {

// Puts the CA named by the environment variable (a PEM file) into the current user's Root
// store, first removing any certificate of its subject; the peers' leaves chain to it. On
// failure, why (when given) says what went wrong. Links with crypt32.
inline bool InstallTestCa(const char *variable, std::string *why = nullptr) {
    auto fail = [why](const std::string &reason) {
        if (why)
            *why = reason;
        return false;
    };
    const char *path = std::getenv(variable);
    if (!path)
        return fail(std::string(variable) + " is not set (run the test beside its TLS peer)");
    std::ifstream in(path, std::ios::binary);
    const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    DWORD size = 0;
    if (pem.empty() || !CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr,
                                             &size, nullptr, nullptr))
        return fail(std::string("cannot read the CA ") + path);
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
    const bool opened = ca && root;
    if (ca)
        CertFreeCertificateContext(ca);
    if (root)
        CertCloseStore(root, 0);
    if (!opened)
        return fail("cannot open the CA or the ROOT store");
    return added || fail("cannot add the CA to ROOT");
}

} // namespace suite
