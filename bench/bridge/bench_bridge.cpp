// tagscope-bridge under load: xmlda-sim with 10,000 items changing every 100 ms, one group of
// them at 100 ms in the bridge, published at QoS 1 to a local mosquitto. Each runs as its own
// process; the figures are the bridge's: values published per second once running (from its
// status lines), its CPU per value (all threads, MQTT client included), and its peak memory
// per item.
//
//   bench_bridge [--seconds S] [--items N] [--qos 0|1] [--in-flight N]
//
// It prints figures and never fails a build.
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"

namespace {

using velqor::bench::ProcessCpu;

namespace fs = std::filesystem;

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& errFile) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (!freopen("/dev/null", "w", stdout)) _exit(127);
        if (!freopen(errFile.c_str(), "w", stderr)) _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

void End(pid_t pid) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

long PeakRssKb(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(f, line);)
        if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
    return 0;
}

// The "N in" (in) or "N out" of the bridge's last status line so far; -1 before the first.
long long Values(const std::string& errFile, bool in) {
    std::ifstream f(errFile);
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::smatch m;
    long long out = -1;
    static const std::regex re(R"((\d+) values in, (\d+) out)");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator();
         ++it)
        out = std::stoll((*it)[in ? 1 : 2]);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 20;
    int items = 10000;
    std::string qos = "1", inFlight = "100";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
        if (!std::strcmp(argv[i], "--items")) items = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--qos")) qos = argv[i + 1];
        if (!std::strcmp(argv[i], "--in-flight")) inFlight = argv[i + 1];
    }
    if (!fs::exists(MOSQUITTO_PATH)) {
        std::printf("bench_bridge: mosquitto is not installed (%s); nothing measured\n",
                    MOSQUITTO_PATH);
        return 0;
    }
    const fs::path dir = fs::temp_directory_path() / ("bench-bridge-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const int simPort = FreePort(), brokerPort = FreePort();
    std::ofstream(dir / "mosquitto.conf")
        << "listener " << brokerPort
        << " 127.0.0.1\nallow_anonymous true\n"
           "persistence false\nmax_queued_messages 0\nmax_inflight_messages 1000\n";
    std::ostringstream session;
    session << R"({"format": "tagscope-session", "version": 1, "server": "http://127.0.0.1:)"
            << simPort
            << R"(/opc/xmlda", "groups": [{"name": "Load", "updateRate": 100, "items": [)";
    for (int i = 0; i < items; ++i) {
        char id[32];
        std::snprintf(id, sizeof id, "Load/Item%05d", i);
        session << (i ? ", " : "") << "{\"itemID\": \"" << id << "\"}";
    }
    session << "]}]}";
    std::ofstream(dir / "session.json") << session.str();

    const pid_t sim = Spawn({XMLDA_SIM_PATH, "--port", std::to_string(simPort), "--load-items",
                             std::to_string(items), "--load-period-ms", "100"},
                            (dir / "sim.err").string());
    const pid_t broker = Spawn({MOSQUITTO_PATH, "-c", (dir / "mosquitto.conf").string()},
                               (dir / "broker.err").string());
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::string errFile = (dir / "bridge.err").string();
    const pid_t bridge = Spawn({TAGSCOPE_BRIDGE_PATH, (dir / "session.json").string(), "--broker",
                                "mqtt://127.0.0.1:" + std::to_string(brokerPort), "--qos", qos,
                                "--in-flight", inFlight, "--status-every", "1"},
                               errFile);

    // From the first value out on: the steady state, without connecting and subscribing.
    using Clock = std::chrono::steady_clock;
    const auto giveUp = Clock::now() + std::chrono::seconds(60);
    while (Values(errFile, false) <= 0 && Clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const long long out0 = Values(errFile, false), in0 = Values(errFile, true);
    const double cpu0 = ProcessCpu(bridge);
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const long long out1 = Values(errFile, false), in1 = Values(errFile, true);
    const double cpu1 = ProcessCpu(bridge);
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    const long rss = PeakRssKb(bridge);
    End(bridge);
    End(broker);
    End(sim);

    std::printf("bench_bridge: %d items, 100 ms group, QoS %s, %s in flight, %.0f s measured\n",
                items, qos.c_str(), inFlight.c_str(), elapsed);
    if (out0 < 0 || out1 <= out0) {
        std::printf("  no values were published; the bridge said:\n");
        std::ifstream f(errFile);
        std::printf("%s\n", std::string((std::istreambuf_iterator<char>(f)), {}).c_str());
    } else {
        const double values = double(out1 - out0);
        std::printf("  values published:  %.0f /s (offered by the server: %d /s)\n",
                    values / elapsed, items * 10);
        std::printf("  values received:   %.0f /s (the rest of them dropped from a full buffer)\n",
                    double(in1 - in0) / elapsed);
        std::printf(
            "  bridge CPU:        %.2f us per value published, %.2f us per value received "
            "(%.0f%% of one core)\n",
            (cpu1 - cpu0) / values * 1e6, (cpu1 - cpu0) / double(in1 - in0) * 1e6,
            (cpu1 - cpu0) / elapsed * 100);
        std::printf("  bridge peak memory: %.1f MiB, %.0f bytes per item\n", double(rss) / 1024,
                    double(rss) * 1024 / items);
    }
    fs::remove_all(dir);
    return 0;
}
