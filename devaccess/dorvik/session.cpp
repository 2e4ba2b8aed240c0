#include "session.h"

#include <cstring>
#include <utility>

#include "host_text.h"

namespace dorvik {

RawSession::RawSession(std::string host, Raw9100Callback callback, void *userData)
    : host_(std::move(host)), callback_(callback), userData_(userData) {
    InitializeCriticalSection(&lock_);
}

RawSession::~RawSession() {
    delete job_;
    workerThread_.reset();
    connectThread_.reset();
    cancelEvent_.reset();
    connectDone_.reset();
    socket_.reset();
    DeleteCriticalSection(&lock_);
}

bool RawSession::Init() {
    cancelEvent_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    connectDone_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    return cancelEvent_ && connectDone_;
}

bool RawSession::StartConnect() {
    connectThread_.reset(CreateThread(nullptr, 0, ConnectThread, this, 0, nullptr));
    return static_cast<bool>(connectThread_);
}

void RawSession::WaitConnected() const {
    WaitForSingleObject(connectThread_.get(), INFINITE);
}

DWORD WINAPI RawSession::ConnectThread(LPVOID session) {
    auto *self = static_cast<RawSession *>(session);
    self->Connect();
    SetEvent(self->connectDone_.get());
    return 0;
}

int RawSession::Connect() {
    win::SectionLock guard(lock_);
    int result = QUV9100_CONNECTED;
    int wsa = 0;
    const auto address = ParseHostText(host_);
    if (!address) {
        result = QUV9100_E_HOST;
    } else {
        win::Socket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        if (!s) {
            wsa = WSAGetLastError();
            result = QUV9100_E_THREAD;
        } else {
            sockaddr_in peer{};
            peer.sin_family = AF_INET;
            peer.sin_port = htons(kRawPort);
            std::memcpy(&peer.sin_addr, address->data(), 4);
            u_long nonBlocking = 1;
            if (connect(s.get(), reinterpret_cast<const sockaddr *>(&peer), sizeof peer) != 0) {
                wsa = WSAGetLastError();
                s.reset();
                result = QUV9100_E_CONNECT;
            } else if (wsa = WSAGetLastError(), ioctlsocket(s.get(), FIONBIO, &nonBlocking) != 0) {
                // A blocking socket would let a stalled printer hold every call for ever.
                wsa = WSAGetLastError();
                s.reset();
                result = QUV9100_E_CONNECT;
            } else {
                socket_ = std::move(s);
            }
        }
    }
    if (callback_) {
        Raw9100Event event{result, wsa, 0, nullptr};
        callback_(&event, userData_);
    }
    return result;
}

int RawSession::SetJob(RawJob *job) {
    win::SectionLock guard(lock_);
    if (!job) {
        if (!job_)
            return QUV9100_E_BUSY;
        RawJob *ended = job_;
        if (ended->Status() != QUV9100_CANCELLED && ended->Callback()) {
            Raw9100Event event{ended->Status(), ended->WsaError(), ended->BytesDone(), nullptr};
            ended->Callback()(&event, ended->UserData());
        }
        job_ = nullptr;
        stepExport = StepExport::kNone;
        stepPath.clear();
        delete ended;
        return 0;
    }
    if (job_)
        return QUV9100_E_BUSY;
    job_ = job;
    if (!job->Callback())
        return 0;
    // A cancel stops only the transfer that was running when it came.
    ResetEvent(cancelEvent_.get());
    if (workerThread_) {
        // The earlier worker has detached its job already, so it ends at once.
        WaitForSingleObject(workerThread_.get(), INFINITE);
        workerThread_.reset();
    }
    workerThread_.reset(CreateThread(nullptr, 0, WorkerThread, this, 0, nullptr));
    if (!workerThread_) {
        job_ = nullptr;
        return job->GetDirection() == Direction::kSend ? QUV9100_E_SEND : QUV9100_E_RECEIVE;
    }
    return 0;
}

DWORD WINAPI RawSession::WorkerThread(LPVOID session) {
    auto *self = static_cast<RawSession *>(session);
    RawJob *job;
    {
        win::SectionLock guard(self->lock_);
        job = self->job_;
    }
    for (;;) {
        if (WaitForSingleObject(self->cancelEvent_.get(), 100) == WAIT_OBJECT_0) {
            job->MarkCancelled();
            break;
        }
        if (!job->Step())
            break;
    }
    self->SetJob(nullptr);
    return 0;
}

void RawSession::DropJob() {
    win::SectionLock guard(lock_);
    if (job_) {
        job_->MarkCancelled();
        SetJob(nullptr);
    }
}

void RawSession::CancelJob() {
    SetEvent(cancelEvent_.get());
    if (workerThread_)
        WaitForSingleObject(workerThread_.get(), INFINITE);
    DropJob(); // a single-step file job has no worker
}

void RawSession::Shutdown() {
    CancelJob();
    if (socket_) {
        shutdown(socket_.get(), kShutdownSend);
        shutdown(socket_.get(), kShutdownBoth);
        socket_.reset();
    }
}

} // namespace dorvik
