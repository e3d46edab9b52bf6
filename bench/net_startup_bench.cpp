// What the main form's SMTP client and UDP endpoint add to a process start:
// the cost of creating both with the form's stored values (Port 25,
// ReportLevel 2; UDP ports 81, ReportLevel 0), loading and freeing them, in
// this process and in fresh processes side by side with processes that
// create neither. Prints figures; asserts nothing.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "net/SmtpClient.h"
#include "net/UdpEndpoint.h"
#include "platform/Forms.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Microseconds(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

void CreateFormComponents(bool withSmtp = true, bool withUdp = true) {
    TForm form(nullptr);
    if (withSmtp) {
        auto* smtp = new TSmtpClient(&form);
    smtp->Port = 25;
    smtp->ReportLevel = 2;
    smtp->EncodeType = UUMethods::uuMime;
    smtp->ClearParams = true;
    smtp->SubType = TSubType::mtPlain;
    smtp->OnStatus = [](TComponent*, const std::string&) {};
    }
    if (withUdp) {
        auto* udp = new TUdpEndpoint(&form);
        udp->RemotePort = 81;
        udp->SetLocalPort(81);
        udp->ReportLevel = 0;
    }
    form.FinishCreation();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Wall time of one fresh process of this program in the given child mode.
double SpawnOnce(const char* mode) {
    const char* argv[] = {"/proc/self/exe", "--child", mode, nullptr};
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return -1;
    waitpid(pid, nullptr, 0);
    return Microseconds(Clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--child") == 0) {
        const std::string mode = argv[2];
        if (mode != "without") CreateFormComponents(mode != "udp", mode != "smtp");
        return 0;
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;

    const auto first = Clock::now();
    CreateFormComponents();
    std::printf("in process, first creation (socket layer and queue start-up): %.1f us\n",
                Microseconds(Clock::now() - first));
    std::vector<double> inProcess;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        CreateFormComponents();
        inProcess.push_back(Microseconds(Clock::now() - start));
    }
    std::printf("in process, later creations: median %.1f us over %d\n", Median(inProcess), rounds);

    // Interleaved, so drift of a shared machine hits every mode alike.
    const char* modes[] = {"without", "smtp", "udp", "with"};
    std::vector<double> times[4];
    for (int i = 0; i < rounds; ++i)
        for (int m = 0; m < 4; ++m) times[m].push_back(SpawnOnce(modes[m]));
    const double base = Median(times[0]);
    std::printf("fresh process, no component: median %.1f us over %d\n", base, rounds);
    for (int m = 1; m < 4; ++m)
        std::printf("fresh process, %-7s: median %.1f us (%+.1f us)\n", m == 3 ? "both" : modes[m],
                    Median(times[m]), Median(times[m]) - base);
    return 0;
}
