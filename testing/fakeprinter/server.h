// The fake printer behind a Winsock listener: one TCP connection, one job, at a time.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine.h"

namespace fakeprinter {

class Server {
  public:
    explicit Server(Setup setup = Setup::Default());
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // Listens on address:port (0: chosen by the system). With refuseConnections set in the
    // engine's default faults, the port is bound but not listened on, so connects are refused.
    // Returns false with error() set when the socket cannot be set up.
    bool Start(const std::string &address = "127.0.0.1", unsigned short port = 0);
    void Stop();

    unsigned short Port() const { return port_; }
    const std::string &error() const { return error_; }

    // Runs f on the engine under the server's lock (set faults, look at storage).
    void With(const std::function<void(Engine &)> &f);
    std::vector<Job> Jobs();
    // Waits at most ms for the job count to reach n; true when it did.
    bool WaitForJobs(std::size_t n, unsigned ms);

    // Every job's bytes are appended to this file, escaped, when the job ends.
    void SetLog(const std::string &path) { logPath_ = path; }

  private:
    void Run();
    void Serve(std::uintptr_t client);
    void Log(std::size_t jobIndex);

    Engine engine_;
    std::mutex mu_;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> jobsDone_{0};
    std::thread thread_;
    std::uintptr_t listener_;
    unsigned short port_ = 0;
    bool winsock_ = false;
    std::string error_;
    std::string logPath_;
};

} // namespace fakeprinter
