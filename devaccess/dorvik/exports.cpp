// The eight exports. Each holds the global lock for its whole run; sessions are found by the
// exact bytes of their host text.
#include <windows.h>
#include <winsock.h>

#include <map>
#include <memory>
#include <new>
#include <string>

#include "dorvik.h"

#include "exports.h"
#include "jobs.h"
#include "session.h"

namespace dorvik {

namespace {

CRITICAL_SECTION g_lock;
std::map<std::string, RawSession *> g_sessions;

std::string Key(const char *host) {
    return host ? std::string(host) : std::string();
}

RawSession *Find(const char *host) {
    const auto it = g_sessions.find(Key(host));
    return it == g_sessions.end() ? nullptr : it->second;
}

// What a transfer export asks of the job it runs.
struct Transfer {
    StepExport fileExport = StepExport::kNone; // file jobs stay attached between single steps
    const char *path = nullptr;
    const void *pointer = nullptr;
    int size = 0;
    int *length = nullptr; // single step: receives the bytes done
    int setupFailure = 0;  // replaces any Setup code when non-zero
};

// One step of the attached single-step job; detaches it unless it is a file job still running.
int StepOnce(RawSession &session, const Transfer &transfer) {
    RawJob *job = session.Job();
    const bool more = job->Step();
    const int status = job->Status();
    if (transfer.length)
        *transfer.length = job->BytesDone();
    if (!more || transfer.fileExport == StepExport::kNone)
        session.SetJob(nullptr);
    return status;
}

// Runs a transfer on a found session; the export has refused bad arguments already, so a busy
// session never sees them (and a receive never truncates a file only to answer -5).
template <class Job>
int RunTransfer(RawSession &session, const Transfer &transfer, Raw9100Callback callback,
                void *userData) {
    session.WaitConnected();
    win::SectionLock guard(session.Lock());
    if (session.Job()) {
        // A single-step file job goes on where it stopped when the same export asks again.
        if (!callback && transfer.fileExport != StepExport::kNone &&
            session.stepExport == transfer.fileExport && session.stepPath == transfer.path)
            return StepOnce(session, transfer);
        return QUV9100_E_BUSY;
    }
    std::unique_ptr<Job> job(new (std::nothrow) Job);
    if (!job)
        return transfer.setupFailure ? transfer.setupFailure : QUV9100_E_ARGUMENT;
    const void *pointer =
        transfer.path ? static_cast<const void *>(transfer.path) : transfer.pointer;
    const int setup = job->Setup(session.Socket(), callback, userData, pointer, transfer.size);
    if (setup != 0)
        return transfer.setupFailure ? transfer.setupFailure : setup;
    const int attach = session.SetJob(job.get());
    if (attach != 0)
        return attach;
    job.release(); // the session owns it now
    if (callback)
        return QUV9100_OK;
    if (transfer.fileExport != StepExport::kNone) {
        session.stepExport = transfer.fileExport;
        session.stepPath = transfer.path;
    }
    return StepOnce(session, transfer);
}

// A buffer write or read of the session for host: the checks and set-up both share.
template <class Job>
int BufferTransfer(const char *host, const void *buffer, int *length, Raw9100Callback callback,
                   void *userData) {
    win::SectionLock guard(g_lock);
    try {
        RawSession *session = Find(host);
        if (!session)
            return QUV9100_E_NO_SESSION;
        if (!length || *length < 0 || (*length > 0 && !buffer))
            return QUV9100_E_ARGUMENT;
        Transfer transfer;
        transfer.pointer = buffer;
        transfer.size = *length;
        transfer.length = callback ? nullptr : length;
        return RunTransfer<Job>(*session, transfer, callback, userData);
    } catch (const std::bad_alloc &) {
        return QUV9100_E_ARGUMENT;
    }
}

} // namespace

void InitExports() {
    InitializeCriticalSection(&g_lock);
}

void EndExports() {
    DeleteCriticalSection(&g_lock);
}

} // namespace dorvik

using namespace dorvik;

extern "C" {

int QUV9100_CALL Quv9100_Open(const char *host, Raw9100Callback callback, void *userData) {
    win::SectionLock guard(g_lock);
    try {
        const std::string key = Key(host);
        if (g_sessions.count(key))
            return QUV9100_E_EXISTS;
        std::unique_ptr<RawSession> session(new (std::nothrow) RawSession(key, callback, userData));
        if (!session || !session->Init())
            return QUV9100_E_ARGUMENT;
        const auto it = g_sessions.emplace(key, session.get()).first;
        if (!session->StartConnect()) {
            g_sessions.erase(it);
            return QUV9100_E_THREAD;
        }
        session.release();
        return QUV9100_OK;
    } catch (const std::bad_alloc &) {
        return QUV9100_E_ARGUMENT;
    }
}

int QUV9100_CALL Quv9100_Close(const char *host) {
    win::SectionLock guard(g_lock);
    try {
        const auto it = g_sessions.find(Key(host));
        if (it == g_sessions.end())
            return QUV9100_E_NO_SESSION;
        RawSession *session = it->second;
        session->WaitConnected();
        session->Shutdown();
        g_sessions.erase(it);
        delete session;
        return QUV9100_OK;
    } catch (const std::bad_alloc &) {
        return QUV9100_E_ARGUMENT;
    }
}

int QUV9100_CALL Quv9100_Write(const char *host, const void *buffer, int *length,
                               Raw9100Callback callback, void *userData) {
    return BufferTransfer<RawWriteJob>(host, buffer, length, callback, userData);
}

int QUV9100_CALL Quv9100_WriteFile(const char *host, const char *path, Raw9100Callback callback,
                                   void *userData) {
    win::SectionLock guard(g_lock);
    try {
        RawSession *session = Find(host);
        if (!session)
            return QUV9100_E_NO_SESSION;
        if (!path)
            return QUV9100_E_FILE_SETUP;
        Transfer transfer;
        transfer.fileExport = StepExport::kWriteFile;
        transfer.path = path;
        transfer.setupFailure = QUV9100_E_FILE_SETUP;
        return RunTransfer<RawFileWriteJob>(*session, transfer, callback, userData);
    } catch (const std::bad_alloc &) {
        return QUV9100_E_FILE_SETUP;
    }
}

int QUV9100_CALL Quv9100_Read(const char *host, void *buffer, int *length, Raw9100Callback callback,
                              void *userData) {
    return BufferTransfer<RawReadJob>(host, buffer, length, callback, userData);
}

int QUV9100_CALL Quv9100_ReadFile(const char *host, const char *path, int byteCount,
                                  Raw9100Callback callback, void *userData) {
    win::SectionLock guard(g_lock);
    try {
        RawSession *session = Find(host);
        if (!session)
            return QUV9100_E_NO_SESSION;
        if (byteCount < 0)
            return QUV9100_E_ARGUMENT;
        if (!path)
            return QUV9100_E_FILE_OPEN;
        Transfer transfer;
        transfer.fileExport = StepExport::kReadFile;
        transfer.path = path;
        transfer.size = byteCount;
        return RunTransfer<RawFileReadJob>(*session, transfer, callback, userData);
    } catch (const std::bad_alloc &) {
        return QUV9100_E_ARGUMENT;
    }
}

int QUV9100_CALL Quv9100_Progress(const char *host) {
    win::SectionLock guard(g_lock);
    try {
        RawSession *session = Find(host);
        if (!session)
            return QUV9100_E_NO_SESSION;
        win::SectionLock sessionGuard(session->Lock());
        return session->Job() ? session->Job()->BytesDone() : 0;
    } catch (const std::bad_alloc &) {
        return QUV9100_E_ARGUMENT;
    }
}

int QUV9100_CALL Quv9100_Cancel(const char *host) {
    win::SectionLock guard(g_lock);
    try {
        RawSession *session = Find(host);
        if (!session)
            return QUV9100_E_NO_SESSION;
        session->CancelJob();
        return QUV9100_OK;
    } catch (const std::bad_alloc &) {
        return QUV9100_E_ARGUMENT;
    }
}

} // extern "C"
