// One large reply read through the built-in serial I/O from a pseudo-terminal: run under
// `/usr/bin/time -v` for the CPU and the peak memory of the read. Usage: large_reply_bench BYTES
// The instrument side (a thread here) sends BYTES characters and then CR LF.

#include <QCoreApplication>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "visa/serialbackend.h"
#include "visa/visaerror.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const size_t size = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 50'000'000;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pseudo-terminal");
        return 1;
    }
    visa::SerialPortMap ports;
    ports.set(1, ptsname(master));
    visa::SerialBackend backend(ports);
    auto session = backend.open(visa::ResourceName::parse("ASRL1::INSTR"),
                                visa::SessionOptions::parse("Timeout = 60000 ; TerminationCharacterEnabled = TRUE ; "
                                                            "BaudRate = 115200 ; FlowControl = ASRL_FLOW_NONE"));
    std::thread instrument([&] {
        const std::string block(65536, 'x');
        for (size_t sent = 0; sent < size;) {
            const size_t n = std::min(block.size(), size - sent);
            const ssize_t done = ::write(master, block.data(), n);
            if (done <= 0)
                return;
            sent += size_t(done);
        }
        (void)!::write(master, "\r\n", 2);
    });
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    try {
        const std::string reply = session->Read();
        std::printf("read %zu bytes", reply.size());
    } catch (const visa::VisaError &e) {
        std::printf("refused: %s", e.what());
        status = 2;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf(" in %.3f s\n", took.count());
    std::fflush(stdout);
    if (status == 0)
        instrument.join();
    // After a refusal the instrument thread is blocked writing the rest to a full line: leave it.
    std::_Exit(status);
}
