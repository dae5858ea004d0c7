#include "peer.h"

#include <unistd.h>
#include <chrono>
#include <stdexcept>
#include <thread>

std::unique_ptr<SimPeer> SimPeer::tcp(const std::string& fault) {
    auto peer = std::make_unique<SimPeer>();
    peer->sim = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{SIM_BINARY, "-p", "0", "-f", fault});
    const std::string ready = peer->sim->readLine();
    const std::string prefix = "tesmar-sim listening on 127.0.0.1:";
    if (ready.rfind(prefix, 0) != 0) {
        throw std::runtime_error("tesmar-sim did not start: '" + ready + "'");
    }
    peer->args = {"-h", "127.0.0.1", "-p", ready.substr(prefix.size())};
    return peer;
}

std::unique_ptr<SimPeer> SimPeer::rtu() {
    auto peer = std::make_unique<SimPeer>();
    peer->dir = std::make_unique<TempDir>();
    const std::string master = peer->dir->path() + "/master";
    const std::string slave = peer->dir->path() + "/slave";
    peer->socat = std::make_unique<BackgroundProcess>(std::vector<std::string>{
        "/usr/bin/socat", "pty,raw,echo=0,link=" + master, "pty,raw,echo=0,link=" + slave});
    // socat makes both links once the pair is open.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (access(master.c_str(), F_OK) != 0 || access(slave.c_str(), F_OK) != 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("socat made no pseudo-terminal pair");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    peer->sim =
        std::make_unique<BackgroundProcess>(std::vector<std::string>{SIM_BINARY, "-d", slave});
    const std::string ready = peer->sim->readLine();
    if (ready != "tesmar-sim serving " + slave + " as slave 1") {
        throw std::runtime_error("tesmar-sim did not start: '" + ready + "'");
    }
    peer->args = {"-d", master};
    return peer;
}
