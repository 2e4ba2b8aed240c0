// Puts the SMTP peers' test CA into the prefix's Root store before the script host talks TLS.
#include "test_ca.h"

int main() { return mailtest::InstallTestCa("SMTP_PEER_CA") ? 0 : 1; }
