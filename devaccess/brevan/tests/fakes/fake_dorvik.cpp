// A fake dorvik.dll: scripted results (FAKE_OPEN, FAKE_CLOSE, FAKE_WRITE, FAKE_READ,
// FAKE_WRITE_FILE, FAKE_READ_FILE, FAKE_PROGRESS, FAKE_CANCEL; default 0) and a call log with
// the host texts and the *length each transfer saw. Built also without Quv9100_Cancel.
#include "dorvik.h"
#include "fake_log.h"

namespace {

HMODULE g_module;

std::string Length(const int *length) {
    return length ? std::to_string(*length) : "(null)";
}

const char *Callback(Raw9100Callback callback) {
    return callback ? "set" : "(null)";
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        g_module = instance;
    return TRUE;
}

extern "C" {

int QUV9100_CALL Quv9100_Open(const char *host, Raw9100Callback callback, void *) {
    fake::Log("dorvik.Open host=%s callback=%s module=%s", fake::Text(host).c_str(),
              Callback(callback), fake::ModulePath(g_module).c_str());
    return fake::Scripted("OPEN", 0);
}

int QUV9100_CALL Quv9100_Close(const char *host) {
    fake::Log("dorvik.Close host=%s", fake::Text(host).c_str());
    return fake::Scripted("CLOSE", 0);
}

int QUV9100_CALL Quv9100_Write(const char *host, const void *, int *length,
                               Raw9100Callback callback, void *) {
    fake::Log("dorvik.Write host=%s length=%s callback=%s", fake::Text(host).c_str(),
              Length(length).c_str(), Callback(callback));
    return fake::Scripted("WRITE", 0);
}

int QUV9100_CALL Quv9100_WriteFile(const char *host, const char *path, Raw9100Callback callback,
                                   void *) {
    fake::Log("dorvik.WriteFile host=%s path=%s callback=%s", fake::Text(host).c_str(),
              fake::Text(path).c_str(), Callback(callback));
    return fake::Scripted("WRITE_FILE", 0);
}

int QUV9100_CALL Quv9100_Read(const char *host, void *, int *length, Raw9100Callback callback,
                              void *) {
    fake::Log("dorvik.Read host=%s length=%s callback=%s", fake::Text(host).c_str(),
              Length(length).c_str(), Callback(callback));
    return fake::Scripted("READ", 0);
}

int QUV9100_CALL Quv9100_ReadFile(const char *host, const char *path, int byteCount,
                                  Raw9100Callback callback, void *) {
    fake::Log("dorvik.ReadFile host=%s path=%s count=%d callback=%s", fake::Text(host).c_str(),
              fake::Text(path).c_str(), byteCount, Callback(callback));
    return fake::Scripted("READ_FILE", 0);
}

int QUV9100_CALL Quv9100_Progress(const char *host) {
    fake::Log("dorvik.Progress host=%s", fake::Text(host).c_str());
    return fake::Scripted("PROGRESS", 0);
}

int QUV9100_CALL Quv9100_Cancel(const char *host) {
    fake::Log("dorvik.Cancel host=%s", fake::Text(host).c_str());
    return fake::Scripted("CANCEL", 0);
}

} // extern "C"
