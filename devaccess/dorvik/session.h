// A connection to one printer's port 9100, named by its host text, with its single job slot.
#pragma once

#include <windows.h>
#include <winsock.h>

#include <string>

#include "dorvik.h"
#include "jobs.h"
#include "win_socket_owner.h"

namespace dorvik {

// winsock.h names no shutdown directions.
constexpr int kShutdownSend = 1;
constexpr int kShutdownBoth = 2;

constexpr unsigned short kRawPort = 9100;

// Which export a single-step file job belongs to.
enum class StepExport { kNone, kWriteFile, kReadFile };

class RawSession {
  public:
    RawSession(std::string host, Raw9100Callback callback, void *userData);
    RawSession(const RawSession &) = delete;
    RawSession &operator=(const RawSession &) = delete;
    virtual ~RawSession();

    // Creates the events; false when they cannot be made.
    bool Init();
    // Starts the connect thread; false when it cannot be started.
    bool StartConnect();
    // Waits until the connect thread has reported and ended.
    void WaitConnected() const;

    // Attaches job (a worker thread starts when it has a callback), or detaches and destroys
    // the attached one when job is null (with the final report unless it was cancelled).
    // 0, or -5 (slot taken / nothing to detach), -7 or -8 (worker not started). Takes the
    // session lock.
    int SetJob(RawJob *job);

    // Stops the running transfer: the worker ends at its next wait, a single-step file job is
    // dropped. The session stays open.
    void CancelJob();
    // Stops everything and closes the socket (FIN first).
    void Shutdown();

    CRITICAL_SECTION &Lock() { return lock_; }
    SOCKET Socket() const { return socket_.get(); }
    RawJob *Job() const { return job_; }

    // The single-step file job attached between calls, if any.
    StepExport stepExport = StepExport::kNone;
    std::string stepPath;

  private:
    static DWORD WINAPI ConnectThread(LPVOID session);
    static DWORD WINAPI WorkerThread(LPVOID session);
    int Connect();
    void DropJob();

    win::Handle cancelEvent_;
    win::Handle workerThread_;
    win::Handle connectDone_;
    win::Handle connectThread_;
    win::Socket socket_;
    RawJob *job_ = nullptr;
    CRITICAL_SECTION lock_;
    std::string host_;
    Raw9100Callback callback_;
    void *userData_;
};

} // namespace dorvik
