// A module that exports the TLS names except SslStartTls and the SNMP key names, with empty
// bodies: the table fillers must look names up in the module they are given.
#include <windows.h>

extern "C" {
void SslOpenSocket() {}
void SslOpenSSLSocket() {}
void SslCloseSocket() {}
void SslGetSocket() {}
void SslSendSSLDataStream() {}
void SslReceiveSSLDataStream() {}
void SslSendDataStream() {}
void SslReceiveDataStream() {}
void SnmpMakeSalt() {}
void SnmpMakeIvParSpec() {}
void SnmpMakeLocalizedKey() {}
void SnmpGetAuthKey() {}
void SnmpGetPrivKey() {}
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
