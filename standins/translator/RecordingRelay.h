#pragma once

// Records the raw bytes of every request on their way to the HTTP server:
// clients connect to the relay, which passes each connection on, both ways,
// to the server on another loopback port, and appends every complete request
// it sees to a log file, byte for byte.

#include <atomic>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velantro::standins {

class RecordingRelay {
public:
    /// Listens on address:port; raises std::runtime_error when it cannot, or
    /// when the log file cannot be opened.
    RecordingRelay(const std::string& address, int port, int serverPort,
                   const std::string& logPath);
    ~RecordingRelay();
    RecordingRelay(const RecordingRelay&) = delete;
    RecordingRelay& operator=(const RecordingRelay&) = delete;

    void Stop();

private:
    void AcceptLoop();
    void Relay(int client);
    void Record(std::string& pending, bool flushAll);

    int Listener = -1;
    int ServerPort = 0;
    std::atomic<bool> Stopping{false};
    std::mutex LogLock;
    std::ofstream Log;
    std::mutex ThreadsLock;
    std::vector<std::thread> Connections;
    std::thread Acceptor;
};

} // namespace velantro::standins
