#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/process.h"

// A socat pseudo-terminal pair linked at the two paths, open once this returns; it closes when
// the process object goes.
std::unique_ptr<BackgroundProcess> ptyPair(const std::string& master, const std::string& slave);

// A tesmar-sim to talk to: over TCP on a free loopback port, or over RTU on one end of a socat
// pseudo-terminal pair. Options such as {"-f", "late", "-D", "300", "-n", "1"} or {"-l"} go to
// the simulator as they are; its standard error is kept for log().
class SimPeer {
public:
    static std::unique_ptr<SimPeer> tcp(const std::vector<std::string>& sim_options = {});
    static std::unique_ptr<SimPeer> rtu(const std::vector<std::string>& sim_options = {});

    // The options that point tesmar at this peer.
    std::vector<std::string> tesmarArgs() const { return args; }
    // The whole command line that runs tesmar against this peer.
    std::vector<std::string> tesmarCommand() const;
    bool isTcp() const { return args[0] == "-h"; }
    // What the simulator wrote on standard error so far (its request log with -l).
    std::string log() const;
    // Ends the simulator, as a slave that goes away.
    void kill() { sim.reset(); }
    // Sends SIGTERM and waits for the end; returns the exit status or -1.
    int stop() { return sim->stop(); }

private:
    // Starts the simulator with its standard error to the log file; returns its first line.
    std::string startSim(std::vector<std::string> sim_args);

    std::unique_ptr<TempDir> dir = std::make_unique<TempDir>();
    std::unique_ptr<BackgroundProcess> socat;
    std::unique_ptr<BackgroundProcess> sim;
    std::vector<std::string> args;
};
