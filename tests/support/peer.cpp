#include "tests/support/peer.h"

#include <unistd.h>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

std::unique_ptr<BackgroundProcess> ptyPair(const std::string& master, const std::string& slave) {
    auto socat = std::make_unique<BackgroundProcess>(std::vector<std::string>{
        "/usr/bin/socat", "pty,raw,echo=0,link=" + master, "pty,raw,echo=0,link=" + slave});
    // socat makes both links once the pair is open.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (access(master.c_str(), F_OK) != 0 || access(slave.c_str(), F_OK) != 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("socat made no pseudo-terminal pair");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return socat;
}

std::string SimPeer::startSim(std::vector<std::string> sim_args) {
    // The shell execs the simulator, so the process stopped at the end is the simulator.
    sim_args.insert(sim_args.begin(), {"/bin/sh", "-c", "exec \"$@\" 2>\"$0\"",
                                       dir->path() + "/sim.log", SIM_BINARY});
    sim = std::make_unique<BackgroundProcess>(sim_args);
    return sim->readLine();
}

std::string SimPeer::log() const {
    std::ifstream file(dir->path() + "/sim.log");
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::unique_ptr<SimPeer> SimPeer::tcp(const std::vector<std::string>& sim_options) {
    auto peer = std::make_unique<SimPeer>();
    std::vector<std::string> sim_args{"-p", "0"};
    sim_args.insert(sim_args.end(), sim_options.begin(), sim_options.end());
    const std::string ready = peer->startSim(sim_args);
    const std::string prefix = "tesmar-sim listening on 127.0.0.1:";
    if (ready.rfind(prefix, 0) != 0) {
        throw std::runtime_error("tesmar-sim did not start: '" + ready + "' " + peer->log());
    }
    peer->args = {"-h", "127.0.0.1", "-p", ready.substr(prefix.size())};
    return peer;
}

std::unique_ptr<SimPeer> SimPeer::rtu(const std::vector<std::string>& sim_options) {
    auto peer = std::make_unique<SimPeer>();
    const std::string master = peer->dir->path() + "/master";
    const std::string slave = peer->dir->path() + "/slave";
    peer->socat = ptyPair(master, slave);
    std::vector<std::string> sim_args{"-d", slave};
    sim_args.insert(sim_args.end(), sim_options.begin(), sim_options.end());
    const std::string ready = peer->startSim(sim_args);
    if (ready.rfind("tesmar-sim serving " + slave + " as slave ", 0) != 0) {
        throw std::runtime_error("tesmar-sim did not start: '" + ready + "' " + peer->log());
    }
    peer->args = {"-d", master};
    return peer;
}

std::vector<std::string> SimPeer::tesmarCommand() const {
    std::vector<std::string> command{TESMAR_BINARY};
    command.insert(command.end(), args.begin(), args.end());
    return command;
}
