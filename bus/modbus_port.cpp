#include "bus/modbus_port.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/time.h>
#include <unistd.h>
#include <cerrno>

const ModbusPort libmodbus_port = {
    modbus_new_tcp,
    modbus_new_rtu,
    modbus_set_debug,
    modbus_flush,
    modbus_connect,
    modbus_rtu_set_serial_mode,
    modbus_set_response_timeout,
    modbus_close,
    modbus_set_slave,
    modbus_read_registers,
    modbus_read_input_registers,
    modbus_write_registers,
    modbus_send_raw_request,
    modbus_get_socket,
    modbus_get_response_timeout,
    modbus_strerror,
};

const ModbusPort* modbus_port = &libmodbus_port;

namespace {

// The descriptor to cut at the deadline, -1 when no cut is armed.
volatile sig_atomic_t cut_line = -1;
volatile sig_atomic_t cut_done = 0;
// The reading end of a pipe whose writing end is closed: it reads end of file at once, and a
// write to it fails without a signal.
int at_end = -1;

void onDeadline(int) {
    const int saved_errno = errno;
    if (cut_line >= 0 && dup2(at_end, cut_line) >= 0) {
        cut_done = 1;
    }
    errno = saved_errno;
}

bool prepareCuts() {
    if (at_end >= 0) {
        return true;
    }
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return false;
    }
    ::close(ends[1]);
    at_end = ends[0];
    struct sigaction action {};
    action.sa_handler = onDeadline;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: the call that waits should see the interruption.
    return sigaction(SIGALRM, &action, nullptr) == 0;
}

void setTimer(long after_us) {
    itimerval timer{};
    timer.it_value.tv_sec = after_us / 1000000;
    timer.it_value.tv_usec = after_us % 1000000;
    setitimer(ITIMER_REAL, &timer, nullptr);
}

sigset_t alarmOnly() {
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    return alarm;
}

}  // namespace

cLineCut::cLineCut(int fd, long after_us) {
    const sigset_t alarm = alarmOnly();
    pthread_sigmask(SIG_BLOCK, &alarm, &mask_before);
    if (fd < 0 || !prepareCuts()) {
        return;
    }
    kept = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (kept < 0) {
        return;
    }
    line = fd;
    line_flags = fcntl(fd, F_GETFD);
    cut_done = 0;
    cut_line = fd;
    // A deadline already past cuts at once.
    setTimer(after_us > 0 ? after_us : 1);
    pthread_sigmask(SIG_UNBLOCK, &alarm, nullptr);
}

cLineCut::~cLineCut() {
    const sigset_t alarm = alarmOnly();
    pthread_sigmask(SIG_BLOCK, &alarm, nullptr);
    if (line >= 0) {
        setTimer(0);
        cut_line = -1;
        if (cut_done != 0) {
            dup3(kept, line, (line_flags & FD_CLOEXEC) != 0 ? O_CLOEXEC : 0);
        }
        ::close(kept);
    }
    // An alarm still pending finds no cut armed.
    pthread_sigmask(SIG_SETMASK, &mask_before, nullptr);
}

bool cLineCut::happened() const {
    return line >= 0 && cut_done != 0;
}
