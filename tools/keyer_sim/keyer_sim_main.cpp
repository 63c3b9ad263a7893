// keyer_sim: an emulated keyer on a pty, for the demo, the Wine tests and anyone without
// the hardware. Control lines (see keyer_sim.h) arrive over TCP on 127.0.0.1, one reply
// line per request line.
//
//   keyer_sim [--link PATH] [--version N] [--speedup X] [--control-port N]
//             [--control-port-file PATH] [--pty-file PATH]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/keyer_sim/keyer_sim.h"

namespace {

int stop_pipe[2] = {-1, -1};

void OnStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t done = write(stop_pipe[1], &byte, 1);
}

// Written beside and renamed into place, so a reader never sees half a number.
bool WriteFileAtomically(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".tmp";
    FILE* file = std::fopen(temporary.c_str(), "w");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fputs(text.c_str(), file) >= 0;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: keyer_sim [--link PATH] [--version N] [--speedup X] [--control-port N]\n"
                 "                 [--control-port-file PATH] [--pty-file PATH]\n");
    return 2;
}

struct Client {
    int fd;
    std::string pending;
};

}  // namespace

int main(int argc, char** argv) {
    keyer_sim::Options options;
    int control_port = 0;
    std::string port_file;
    std::string pty_file;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (i + 1 >= argc) {
            return Usage();
        }
        const std::string value = argv[++i];
        if (flag == "--link") {
            options.link_path = value;
        } else if (flag == "--version") {
            options.version = std::atoi(value.c_str());
        } else if (flag == "--speedup") {
            options.speedup = std::atof(value.c_str());
            if (options.speedup <= 0) {
                return Usage();
            }
        } else if (flag == "--control-port") {
            control_port = std::atoi(value.c_str());
        } else if (flag == "--control-port-file") {
            port_file = value;
        } else if (flag == "--pty-file") {
            pty_file = value;
        } else {
            return Usage();
        }
    }

    if (pipe(stop_pipe) != 0) {
        std::perror("keyer_sim: pipe");
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    keyer_sim::KeyerSim sim(options);
    if (!sim.Start()) {
        std::fprintf(stderr, "keyer_sim: could not open a pseudo-terminal\n");
        return 1;
    }

    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int reuse = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(control_port));
    socklen_t length = sizeof address;
    if (listener < 0 ||
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 4) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("keyer_sim: control port");
        return 1;
    }
    control_port = ntohs(address.sin_port);
    if ((!port_file.empty() && !WriteFileAtomically(port_file, std::to_string(control_port))) ||
        (!pty_file.empty() && !WriteFileAtomically(pty_file, sim.PortPath()))) {
        std::fprintf(stderr, "keyer_sim: could not write the port files\n");
        return 1;
    }
    std::printf("keyer_sim: keyer on %s, control on 127.0.0.1:%d\n", sim.PortPath().c_str(),
                control_port);
    std::fflush(stdout);

    std::vector<Client> clients;
    for (;;) {
        std::vector<pollfd> fds = {{stop_pipe[0], POLLIN, 0}, {listener, POLLIN, 0}};
        for (const Client& client : clients) {
            fds.push_back({client.fd, POLLIN, 0});
        }
        if (poll(fds.data(), fds.size(), -1) < 0) {
            continue;  // a signal: the stop pipe says whether it was ours
        }
        if ((fds[0].revents & POLLIN) != 0) {
            break;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                clients.push_back({fd, {}});
            }
        }
        for (size_t i = 0; i < clients.size();) {
            if (i + 2 >= fds.size() || (fds[2 + i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                ++i;
                continue;
            }
            char buffer[1024];
            const ssize_t count = read(clients[i].fd, buffer, sizeof buffer);
            if (count <= 0) {
                close(clients[i].fd);
                clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
                fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(2 + i));
                continue;
            }
            clients[i].pending.append(buffer, static_cast<size_t>(count));
            size_t end = 0;
            while ((end = clients[i].pending.find('\n')) != std::string::npos) {
                const std::string line = clients[i].pending.substr(0, end);
                clients[i].pending.erase(0, end + 1);
                const std::string reply = sim.Command(line) + "\n";
                [[maybe_unused]] const ssize_t sent =
                    send(clients[i].fd, reply.data(), reply.size(), MSG_NOSIGNAL);
            }
            ++i;
        }
    }
    for (const Client& client : clients) {
        close(client.fd);
    }
    close(listener);
    sim.Stop();
    if (!port_file.empty()) {
        std::remove(port_file.c_str());
    }
    if (!pty_file.empty()) {
        std::remove(pty_file.c_str());
    }
    return 0;
}
