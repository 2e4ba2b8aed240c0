#include "jobs.h"

#include <share.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace dorvik {

namespace {

constexpr int kFallbackChunk = 4096;

// The socket's own buffer size for option (SO_SNDBUF or SO_RCVBUF), or 4096.
int ChunkSize(SOCKET socket, int option) {
    int size = 0;
    int length = sizeof size;
    if (getsockopt(socket, SOL_SOCKET, option, reinterpret_cast<char *>(&size), &length) != 0 ||
        size <= 0)
        return kFallbackChunk;
    return size;
}

} // namespace

int RawJob::Setup(SOCKET socket, Raw9100Callback callback, void *userData, const void *, int) {
    socket_ = socket;
    callback_ = callback;
    userData_ = userData;
    return 0;
}

void RawJob::MarkCancelled() {
    status_ = QUV9100_CANCELLED;
    wsaError_ = 0;
}

bool RawJob::Fail(int code, int wsa) {
    wsaError_ = wsa;
    status_ = code;
    return false;
}

bool RawJob::Finish(int status) {
    wsaError_ = 0;
    status_ = status;
    return false;
}

bool RawJob::ReportProgress(int moved, int done) {
    if (!callback_)
        return true;
    if (!clock_.ShouldReport(static_cast<std::uint32_t>(moved), GetTickCount()))
        return true;
    int cancel = 0;
    Raw9100Event event{0, 0, done, &cancel};
    callback_(&event, userData_);
    if (cancel != 0) {
        MarkCancelled();
        return false;
    }
    return true;
}

int RawJob::WaitReady() const {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket_, &set);
    timeval wait{0, 10};
    const bool send = direction_ == Direction::kSend;
    const int n = select(0, send ? nullptr : &set, send ? &set : nullptr, nullptr, &wait);
    if (n == SOCKET_ERROR)
        return -1;
    return n > 0 ? 1 : 0;
}

int RawJob::SendSome(const char *data, int length, int *wsa) const {
    const int n = send(socket_, data, length, 0);
    if (n != SOCKET_ERROR)
        return n;
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK)
        return 0;
    *wsa = error;
    return -1;
}

int RawJob::ReceiveSome(char *data, int length, int *wsa) const {
    const int n = recv(socket_, data, length, 0);
    if (n > 0)
        return n;
    if (n == 0) { // the peer closed
        *wsa = 0;
        return -1;
    }
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK)
        return 0;
    *wsa = error;
    return -1;
}

// RawWriteJob: a private copy of the caller's bytes for an asynchronous job; a single step
// sends from the caller's buffer, which outlives the job.

int RawWriteJob::Setup(SOCKET socket, Raw9100Callback callback, void *userData, const void *pointer,
                       int size) {
    if (size < 0 || (size > 0 && !pointer))
        return QUV9100_E_ARGUMENT;
    RawJob::Setup(socket, callback, userData, pointer, size);
    length_ = size;
    if (!callback) {
        source_ = static_cast<const char *>(pointer);
        return 0;
    }
    data_.reset(new (std::nothrow) char[size > 0 ? size : 1]);
    if (!data_)
        return QUV9100_E_ARGUMENT;
    if (size > 0)
        std::memcpy(data_.get(), pointer, static_cast<std::size_t>(size));
    source_ = data_.get();
    return 0;
}

bool RawWriteJob::Step() {
    const int ready = WaitReady();
    if (ready < 0)
        return Fail(QUV9100_E_SEND, WSAGetLastError());
    if (ready == 0)
        return true;
    const int sent = sent_.load();
    if (sent == length_)
        return Finish(QUV9100_WRITE_COMPLETE);
    int wsa = 0;
    const int n = SendSome(source_ + sent, length_ - sent, &wsa);
    if (n < 0)
        return Fail(QUV9100_E_SEND, wsa);
    sent_ = sent + n;
    if (sent + n == length_)
        return Finish(QUV9100_WRITE_COMPLETE);
    return ReportProgress(n, sent + n);
}

// RawReadJob: into the caller's buffer.

int RawReadJob::Setup(SOCKET socket, Raw9100Callback callback, void *userData, const void *pointer,
                      int size) {
    if (size < 0 || (size > 0 && !pointer))
        return QUV9100_E_ARGUMENT;
    RawJob::Setup(socket, callback, userData, pointer, size);
    buffer_ = static_cast<char *>(const_cast<void *>(pointer));
    length_ = size;
    return 0;
}

bool RawReadJob::Step() {
    if (length_ == 0) // a receive of 0 bytes cannot tell "closed" from "nothing yet"
        return Finish(QUV9100_READ_COMPLETE);
    const int ready = WaitReady();
    if (ready < 0)
        return Fail(QUV9100_E_RECEIVE, WSAGetLastError());
    int moved = 0;
    const int received = received_.load();
    if (ready > 0) {
        int wsa = 0;
        moved = ReceiveSome(buffer_ + received, length_ - received, &wsa);
        if (moved < 0)
            return Fail(QUV9100_E_RECEIVE, wsa);
        received_ = received + moved;
        if (received + moved == length_)
            return Finish(QUV9100_READ_COMPLETE);
    }
    return ReportProgress(moved, received + moved);
}

// RawFileWriteJob: a file, one chunk of the socket's send buffer at a time.

int RawFileWriteJob::Setup(SOCKET socket, Raw9100Callback callback, void *userData,
                           const void *pointer, int size) {
    const char *path = static_cast<const char *>(pointer);
    if (!path)
        return QUV9100_E_FILE_OPEN;
    RawJob::Setup(socket, callback, userData, pointer, size);
    file_.reset(_fsopen(path, "rb", _SH_DENYWR));
    if (!file_)
        return QUV9100_E_FILE_OPEN;
    if (_fseeki64(file_.get(), 0, SEEK_END) != 0)
        return QUV9100_E_FILE_READ;
    const long long fileSize = _ftelli64(file_.get());
    if (fileSize < 0 || _fseeki64(file_.get(), 0, SEEK_SET) != 0)
        return QUV9100_E_FILE_READ;
    if (fileSize > INT_MAX) // beyond what the bytes-done count can show
        return QUV9100_E_FILE_READ;
    fileSize_ = static_cast<int>(fileSize);
    chunkSize_ = ChunkSize(socket, SO_SNDBUF);
    chunk_.reset(new (std::nothrow) char[chunkSize_]);
    if (!chunk_)
        return QUV9100_E_ARGUMENT;
    return ReadChunk() ? 0 : QUV9100_E_FILE_READ;
}

bool RawFileWriteJob::ReadChunk() {
    const std::size_t want =
        static_cast<std::size_t>(std::min(chunkSize_, fileSize_ - totalSent_.load()));
    const std::size_t got = want ? std::fread(chunk_.get(), 1, want, file_.get()) : 0;
    cursor_ = 0;
    chunkLength_ = static_cast<int>(got);
    return got == want;
}

bool RawFileWriteJob::Step() {
    const int ready = WaitReady();
    if (ready < 0)
        return Fail(QUV9100_E_SEND, WSAGetLastError());
    if (ready == 0)
        return true;
    const int total = totalSent_.load();
    if (total == fileSize_)
        return Finish(QUV9100_WRITE_COMPLETE);
    int wsa = 0;
    const int n = SendSome(chunk_.get() + cursor_, chunkLength_ - cursor_, &wsa);
    if (n < 0)
        return Fail(QUV9100_E_SEND, wsa);
    cursor_ += n;
    totalSent_ = total + n;
    if (total + n == fileSize_)
        return Finish(QUV9100_WRITE_COMPLETE);
    if (cursor_ == chunkLength_ && !ReadChunk())
        return Fail(QUV9100_E_FILE_READ, 0);
    return ReportProgress(n, total + n);
}

// RawFileReadJob: into a file created or truncated at Setup.

int RawFileReadJob::Setup(SOCKET socket, Raw9100Callback callback, void *userData,
                          const void *pointer, int size) {
    const char *path = static_cast<const char *>(pointer);
    if (size < 0)
        return QUV9100_E_ARGUMENT;
    if (!path)
        return QUV9100_E_FILE_OPEN;
    RawJob::Setup(socket, callback, userData, pointer, size);
    expected_ = size;
    countGiven_ = size > 0;
    file_.reset(std::fopen(path, "wb"));
    if (!file_)
        return QUV9100_E_FILE_OPEN;
    chunkSize_ = ChunkSize(socket, SO_RCVBUF);
    chunk_.reset(new (std::nothrow) char[chunkSize_]);
    if (!chunk_) {
        file_.reset();
        return QUV9100_E_ARGUMENT;
    }
    return 0;
}

bool RawFileReadJob::Step() {
    const int ready = WaitReady();
    if (ready < 0)
        return Fail(QUV9100_E_RECEIVE, WSAGetLastError());
    if (ready == 0)
        return true;
    // With a count, bytes past it stay in the connection for the next read.
    const int want = countGiven_ ? std::min(chunkSize_, expected_) : chunkSize_;
    int wsa = 0;
    const int n = ReceiveSome(chunk_.get(), want, &wsa);
    if (n < 0) {
        std::fflush(file_.get()); // what arrived is in the file before the final report
        return Fail(QUV9100_E_RECEIVE, wsa);
    }
    const int received = received_.load();
    if (n == 0)
        return ReportProgress(0, received);
    received_ = received + n;
    expected_ -= n;
    if (std::fwrite(chunk_.get(), 1, static_cast<std::size_t>(n), file_.get()) !=
        static_cast<std::size_t>(n))
        return Fail(QUV9100_E_FILE_WRITE, 0);
    if (expected_ > 0)
        return ReportProgress(n, received + n);
    // Complete: the file holds everything before the final report.
    if (std::fflush(file_.get()) != 0)
        return Fail(QUV9100_E_FILE_WRITE, 0);
    return Finish(QUV9100_READ_COMPLETE);
}

} // namespace dorvik
