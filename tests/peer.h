#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/process.h"

// A tesmar-sim to talk to: over TCP on a free loopback port, or over RTU on one end of a socat
// pseudo-terminal pair.
class SimPeer {
public:
    static std::unique_ptr<SimPeer> tcp(const std::string& fault = "none");
    static std::unique_ptr<SimPeer> rtu();

    // The options that point tesmar at this peer.
    std::vector<std::string> tesmarArgs() const { return args; }
    bool isTcp() const { return args[0] == "-h"; }
    // Ends the simulator, as a slave that goes away.
    void kill() { sim.reset(); }

private:
    std::unique_ptr<TempDir> dir;
    std::unique_ptr<BackgroundProcess> socat;
    std::unique_ptr<BackgroundProcess> sim;
    std::vector<std::string> args;
};
