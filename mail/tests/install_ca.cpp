// Puts the SMTP peers' test CA into the prefix's Root store before the script host talks TLS.
#include "suite_test_ca.h"

int main() {
    return suite::InstallTestCa("SMTP_PEER_CA") ? 0 : 1;
}
