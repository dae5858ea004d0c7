// The simulator's loop against hand-made frames and hostile clients: TCP framed by the MBAP
// header, RTU by the silence between frames, and no client holding another.
#include <arpa/inet.h>
#include <fcntl.h>
#include <modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "frames/frames.h"
#include "tests/support/peer.h"
#include "tests/support/session.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes hex(const std::string& text) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// A descriptor closed when the object goes.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

// A TCP connection to the peer; receive_buffer, when given, shrinks the socket's.
int connectTo(const SimPeer& peer, int receive_buffer = 0) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receive_buffer > 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(std::stoi(peer.tesmarArgs()[3])));
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    return fd;
}

// Whether all the bytes went; a connection the far end closed takes them or fails, as it
// happens, without a SIGPIPE.
bool sendBytes(int fd, const Bytes& bytes) {
    signal(SIGPIPE, SIG_IGN);
    return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

// What arrives on fd until want bytes have come, the far end closes, or 5 s pass.
Bytes receive(int fd, std::size_t want) {
    Bytes got;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (got.size() < want && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) == 1) {
            uint8_t chunk[512];
            const ssize_t n = read(fd, chunk, sizeof chunk);
            if (n <= 0) {
                break;
            }
            got.insert(got.end(), chunk, chunk + n);
        }
    }
    return got;
}

struct FrameCase {
    bool tcp;
    const char* what;
    const char* before;  // what the line carried first
    const char* sent;    // on RTU without its checksum, as the reply
    const char* reply;   // "" when the connection is closed
};

// TCP frames found by the MBAP header; RTU frames by the silence between them, at 19200 baud.
TEST(SimServer, FramesByTheMbapHeaderOrTheSilenceAndNeverInventsAWrite) {
    const FrameCase cases[] = {
        {true, "FC8 whose data holds a write of register 262", "",
         "0001000000100108000000020000000601060309dead", "000100000003018801"},
        {true, "FC43 and FC3 in one segment", "", "000200000005012b0e0100000300000006010300640002",
         "00020000000301ab0100030000000701030441480000"},
        {true, "FC16 with less data in its count than the header covers", "",
         "00040000000b011001060001020309dead", "000400000003019003"},
        {true, "FC23 writes, then reads what it wrote", "",
         "00050000000d011701f4000201f4000102cafe", "000500000007011704cafe0000"},
        {true, "no write reached register 262 meanwhile", "", "000700000006010301060001",
         "0007000000050103020000"},
        {true, "protocol id 1", "", "000600010006010300640001", ""},
        {false, "three garbage bytes", "010300", "010300640001", "0103024148"},
        {false, "another slave's reply", "020302abcd42e1", "010300640001", "0103024148"},
        {false, "FC8 with data", "", "0108000000000106", "018801"},
    };
    const auto tcp = SimPeer::tcp({"-l"});
    const auto rtu = SimPeer::rtu({"-l"});
    Fd rtu_line{open(rtu->tesmarArgs()[1].c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)};
    for (const FrameCase& c : cases) {
        const auto frame = [&c](const char* text) {
            Bytes bytes = hex(text);
            if (!c.tcp && !bytes.empty()) {
                appendCrc(bytes);
            }
            return bytes;
        };
        Fd connection{c.tcp ? connectTo(*tcp) : -1};
        const int fd = c.tcp ? connection.fd : rtu_line.fd;
        if (c.before[0] != '\0') {
            // The frame goes only once the simulator has logged what came before it as a piece of
            // its own, however the scheduler spaced the two.
            const SimPeer& peer = c.tcp ? *tcp : *rtu;
            const std::size_t logged = peer.log().size();
            EXPECT_TRUE(sendBytes(fd, hex(c.before)));
            const auto deadline = Clock::now() + std::chrono::seconds(10);
            while (peer.log().size() == logged && Clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            EXPECT_NE(peer.log().size(), logged) << c.what;
        }
        EXPECT_TRUE(sendBytes(fd, frame(c.sent))) << c.what;
        const Bytes expected = frame(c.reply);
        EXPECT_EQ(receive(fd, expected.empty() ? 1 : expected.size()), expected) << c.what;
        // Still in step: the next request is answered, or the connection is gone.
        sendBytes(fd, frame(c.tcp ? "00aa00000006010300000001" : "010300000001"));
        EXPECT_EQ(receive(fd, c.tcp ? 11 : 7).size(), expected.empty() ? 0u
                                                      : c.tcp          ? 11u
                                                                       : 7u)
            << c.what;
    }
    const std::string log = tcp->log() + rtu->log();
    for (const char* line :
         {"unit 1 unknown function (8): exception 1 (illegal function)",
          "unit 1 unknown function (43): exception 1 (illegal function)",
          "unit 1 read holding registers (3) address 100 count 2: ok",
          "unit 1 write multiple registers (16) address 262 count 1: exception 3",
          "unit 1 read/write multiple registers (23) address 500 count 2 write address 500 count "
          "1: ok",
          "malformed MBAP header: connection closed",
          "rtu 3 bytes that make no frame (bad checksum): no reply",
          "rtu unit 1 unknown function (8): exception 1 (illegal function)"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }
}

// A client that sends one byte every 0.2 s and never ends its frame, one that sends requests and
// never reads a reply, and one whose reply trickles: its header at once, then a byte every 0.6 s.
TEST(SimServerTcp, StallingClientsCostANormalOneNothing) {
    const auto peer = SimPeer::tcp({"-l", "-f", "trickle", "-D", "600", "-n", "1"});
    Fd trickled{connectTo(*peer)};
    const auto trickle_start = Clock::now();
    EXPECT_TRUE(sendBytes(trickled.fd, hex("000100000006010300640001")));
    EXPECT_EQ(receive(trickled.fd, 8), hex("0001000000050103"));
    Fd slow{connectTo(*peer)};
    Fd deaf{connectTo(*peer, 4096)};
    const Bytes request = hex("00010000000601030000007d");
    Bytes flood;
    for (int i = 0; i < 20000; ++i) {
        flood.insert(flood.end(), request.begin(), request.end());
    }
    std::thread loris([&slow] {
        const Bytes half = hex("000100000006010300");
        for (const uint8_t byte : half) {
            EXPECT_TRUE(sendBytes(slow.fd, {byte}));
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });
    // A blocking send: it returns once all went or the simulator dropped the client.
    std::thread flooder(
        [&deaf, &flood] { send(deaf.fd, flood.data(), flood.size(), MSG_NOSIGNAL); });
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", std::stoi(peer->tesmarArgs()[3]));
    ASSERT_EQ(modbus_connect(ctx), 0);
    modbus_set_slave(ctx, 1);
    std::vector<double> millis;
    for (int i = 0; i < 40; ++i) {
        uint16_t values[2];
        const auto start = Clock::now();
        EXPECT_EQ(modbus_read_registers(ctx, 100, 2, values), 2);
        millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    modbus_close(ctx);
    modbus_free(ctx);
    loris.join();
    flooder.join();
    std::sort(millis.begin(), millis.end());
    std::printf("normal client beside the stalling ones: median %.2f ms, max %.2f ms\n",
                millis[millis.size() / 2], millis.back());
    // A read takes milliseconds; the bound leaves a loaded test machine margin and stays under
    // the 0.6 s between the trickled reply's bytes, which a client held behind it would wait.
    EXPECT_LT(millis.back(), 500.0);
    EXPECT_NE(peer->log().find("reply not sent: client dropped with"), std::string::npos);
    EXPECT_EQ(receive(trickled.fd, 3), hex("024148"));
    EXPECT_GE(Clock::now() - trickle_start, std::chrono::milliseconds(3 * 600));
    // And a stop signal ends it at once with both still connected.
    const auto start = Clock::now();
    EXPECT_EQ(peer->stop(), 0);
    const double stop_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf("SIGTERM to exit: %.2f ms\n", stop_ms);
    EXPECT_LT(stop_ms, STOP_BOUND_MS);
}

// A script's background simulator inherits SIGINT ignored and keeps it so, as Ctrl-C at the
// tesmar beside it reaches the whole group; SIGTERM still ends it.
TEST(SimServerTcp, InterruptInheritedIgnoredStaysIgnored) {
    BackgroundProcess sim({"/bin/sh", "-c", "trap '' INT; exec \"$0\" -p 0", SIM_BINARY});
    const std::string ready = sim.readLine();
    ASSERT_EQ(ready.rfind("tesmar-sim listening on ", 0), 0u) << ready;
    kill(sim.pid(), SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", std::stoi(ready.substr(ready.rfind(':') + 1)));
    EXPECT_EQ(modbus_connect(ctx), 0);
    modbus_free(ctx);
    EXPECT_EQ(sim.stop(), 0);
}

// Another master, pymodbus, asks every function code the simulator serves.
TEST(SimServer, PymodbusGetsEveryFunctionCodeRight) {
    const bool over_tcp[] = {true, false};
    checkAtOnce(over_tcp, [](bool tcp) {
        const auto peer = tcp ? SimPeer::tcp() : SimPeer::rtu();
        std::vector<std::string> argv{"/usr/bin/python3", PYMODBUS_SESSION};
        for (const std::string& arg : peer->tesmarArgs()) {
            argv.push_back(arg);
        }
        const ProcessResult run = runProcess(argv, "");
        EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
    });
}

}  // namespace
