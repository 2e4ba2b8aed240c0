// Transfer jobs: one send or receive on a session's socket, advanced in non-blocking steps.
#pragma once

#include <windows.h>
#include <winsock.h>

#include <atomic>
#include <cstdio>
#include <memory>

#include "dorvik.h"
#include "progress_clock.h"

namespace dorvik {

enum class Direction { kSend = 1, kReceive = 2 };

class RawJob {
  public:
    explicit RawJob(Direction direction) : direction_(direction) {}
    RawJob(const RawJob &) = delete;
    RawJob &operator=(const RawJob &) = delete;
    virtual ~RawJob() = default;

    // Stores the common fields and prepares the kind's own state; 0 or an error code.
    // pointer is the caller's buffer or a path; size is a length or a byte count.
    virtual int Setup(SOCKET socket, Raw9100Callback callback, void *userData, const void *pointer,
                      int size);
    // Bytes moved so far; safe to read while another thread steps the job.
    virtual int BytesDone() const { return 0; }
    // One step: true when the job must be stepped again, false when it has ended.
    virtual bool Step() { return true; }

    int Status() const { return status_.load(); }
    int WsaError() const { return wsaError_; }
    Direction GetDirection() const { return direction_; }
    Raw9100Callback Callback() const { return callback_; }
    void *UserData() const { return userData_; }
    void MarkCancelled();

  protected:
    // A progress report through the callback, by the clock rule: true go on, false cancelled.
    bool ReportProgress(int moved, int done);
    // Ends the job with code and the Winsock error wsa; returns false (no further step).
    bool Fail(int code, int wsa);
    bool Finish(int status);
    // Waits at most 10 microseconds for the socket: 1 ready, 0 not ready, -1 error.
    int WaitReady() const;
    // Bytes sent or received, 0 when the socket would block, -1 on failure (Winsock error in
    // *wsa; a receive of 0 bytes, the peer's close, fails with 0).
    int SendSome(const char *data, int length, int *wsa) const;
    int ReceiveSome(char *data, int length, int *wsa) const;

    SOCKET socket_ = INVALID_SOCKET;

  private:
    ProgressClock clock_;
    std::atomic<int> status_{0};
    int wsaError_ = 0;
    Direction direction_;
    Raw9100Callback callback_ = nullptr;
    void *userData_ = nullptr;
};

class RawWriteJob final : public RawJob {
  public:
    RawWriteJob() : RawJob(Direction::kSend) {}
    int Setup(SOCKET socket, Raw9100Callback callback, void *userData, const void *pointer,
              int size) override;
    int BytesDone() const override { return sent_.load(); }
    bool Step() override;

  private:
    // The bytes sent: the caller's own buffer in single-step mode (the job lives only for the
    // one call), else data_, a private copy (the caller may reuse its buffer at once).
    const char *source_ = nullptr;
    std::unique_ptr<char[]> data_;
    int length_ = 0;
    std::atomic<int> sent_{0};
};

class RawReadJob final : public RawJob {
  public:
    RawReadJob() : RawJob(Direction::kReceive) {}
    int Setup(SOCKET socket, Raw9100Callback callback, void *userData, const void *pointer,
              int size) override;
    int BytesDone() const override { return received_.load(); }
    bool Step() override;

  private:
    char *buffer_ = nullptr; // the caller's
    int length_ = 0;
    std::atomic<int> received_{0};
};

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

class RawFileWriteJob final : public RawJob {
  public:
    RawFileWriteJob() : RawJob(Direction::kSend) {}
    int Setup(SOCKET socket, Raw9100Callback callback, void *userData, const void *pointer,
              int size) override;
    int BytesDone() const override { return totalSent_.load(); }
    bool Step() override;

  private:
    bool ReadChunk();

    File file_;
    std::unique_ptr<char[]> chunk_;
    int cursor_ = 0;
    int fileSize_ = 0;
    std::atomic<int> totalSent_{0};
    int chunkSize_ = 0;
    int chunkLength_ = 0;
};

class RawFileReadJob final : public RawJob {
  public:
    RawFileReadJob() : RawJob(Direction::kReceive) {}
    int Setup(SOCKET socket, Raw9100Callback callback, void *userData, const void *pointer,
              int size) override;
    int BytesDone() const override { return received_.load(); }
    bool Step() override;

  private:
    File file_;
    std::unique_ptr<char[]> chunk_;
    std::atomic<int> received_{0};
    int chunkSize_ = 0;
    int expected_ = 0; // bytes still expected; 0 at Setup means "whatever the first receive brings"
    bool countGiven_ = false;
};

} // namespace dorvik
