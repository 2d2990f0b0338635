// A fork made while a binding holds its load lock. The child has a copy of the lock that the thread holding it in the
// parent never releases there; the child's exit handlers (the bindings' destructors among them) and its own calls
// must still come back, or the child hangs, and with it a parent that waits for it, as a driver that forks a helper
// inside cuInit does.
#include "../cuda/standin_control.h"
#include "../cuvid/standin/control.h"
#include "../nvenc/standin/control.h"

#include <tav/nvidia/cuda>
#include <tav/nvidia/cuvid>
#include <tav/nvidia/dlerrordomain>
#include <tav/nvidia/nvcodecheadererrordomain>
#include <tav/nvidia/nvenc>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

namespace {

using tav::nvidia::Cuda;
using tav::nvidia::CuVid;
using tav::nvidia::NvEnc;
using tav::nvidia::Result;
using tav::nvidia::detail::dl_error_domain;
using tav::nvidia::detail::nvcodecheader_error_domain;

constexpr auto childLimit = std::chrono::seconds(10);

// What a forked child did: whether it ended within the limit, its exit status, and what it reported.
struct ChildOutcome {
    bool ended = false;
    int exitStatus = -1;
    std::string report;
};

// Forks; the child writes what body returns to a pipe and leaves with std::exit, which runs every exit handler. The
// parent waits for it at most childLimit, and kills it when it has not ended by then.
ChildOutcome forkChild(const std::function<std::string()>& body)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return {};
    }
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        const std::string report = body();
        static_cast<void>(write(pipeEnds[1], report.data(), report.size()));
        close(pipeEnds[1]);
        std::exit(EXIT_SUCCESS);
    }
    close(pipeEnds[1]);
    ChildOutcome outcome;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + childLimit;
    while (!outcome.ended && std::chrono::steady_clock::now() < deadline) {
        if (waitpid(child, &status, WNOHANG) == child) {
            outcome.ended = true;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    if (!outcome.ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    } else if (WIFEXITED(status)) {
        outcome.exitStatus = WEXITSTATUS(status);
    }
    char buffer[512];
    for (ssize_t read = 0; (read = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
        outcome.report.append(buffer, static_cast<std::size_t>(read));
    }
    close(pipeEnds[0]);
    return outcome;
}

// The origin's first line, "(file:line)", when the error is of Domain.
template <class Domain>
bool appendLocation(const Result& result, std::string& out)
{
    const auto* typed = system_error2::get_if<system_error2::status_code<Domain>>(&result.error());
    if (typed == nullptr) {
        return false;
    }
    const std::string origin(typed->value().origin.data(), typed->value().origin.size());
    out += " | " + origin.substr(0, origin.find('\n'));
    return true;
}

// "success", or "<message> | <domain> | (<file>:<line>)".
std::string describe(const Result& result)
{
    if (!result.has_error()) {
        return "success";
    }
    std::string text = std::string(result.error().message().c_str()) + " | " + result.error().domain().name().c_str();
    static_cast<void>(appendLocation<dl_error_domain>(result, text) ||
                      appendLocation<nvcodecheader_error_domain>(result, text));
    return text;
}

// One binding as these tests drive it: how its stand-in runs code inside the load, its load, and what a load that
// re-enters itself answers.
struct Binding {
    const char* name;
    void (*setHook)(void (*hook)());
    Result (*load)();
    const char* refusal;
};

void onCudaInit(void (*hook)()) { tav::test::cuda::setInitHook(hook); }
void onDecoderOpen(void (*hook)()) { tav::test::cuvid::setLoadHook(hook); }
void onEncoderInstance(void (*hook)()) { tav::test::nvenc::standIn().createInstanceHook = hook; }

const Binding bindings[] = {
    {"Cuda", onCudaInit, [] { return Cuda::instance().loadLib(0); },
     "dlopen() failed: a load of this library is already under way on this thread | dl error domain | "
     "(src/cuda:61)"},
    {"CuVid", onDecoderOpen, [] { return CuVid::instance().loadLib(); },
     "Failed to open cuvid | nvcodecheader error domain | (src/cuvid:26)"},
    {"NvEnc", onEncoderInstance, [] { return NvEnc::instance().loadLib(); },
     "Failed to open nvenc | nvcodecheader error domain | (src/nvenc:38)"},
};

class ForkDuringLoad : public ::testing::TestWithParam<Binding> {
protected:
    void TearDown() override { GetParam().setHook(nullptr); }

    // Shared with the hooks, which take no arguments.
    static inline const Binding* binding = nullptr;
    static inline ChildOutcome child;
    static inline pid_t parent = 0;
    static inline std::atomic<bool> loading{false};
    static inline std::atomic<bool> forked{false};
};

// As a driver that runs a helper: the load forks, and the child calls the binding (a load within its own load) and
// then leaves through its exit handlers, while the parent waits for it inside the load.
TEST_P(ForkDuringLoad, ByTheDriverInsideTheLoad)
{
    binding = &GetParam();
    child = {};
    GetParam().setHook([] { child = forkChild([] { return describe(binding->load()); }); });

    const Result loaded = GetParam().load();

    EXPECT_FALSE(loaded.has_error()) << describe(loaded);
    ASSERT_TRUE(child.ended) << "the child still ran after " << childLimit.count() << " s";
    EXPECT_EQ(child.exitStatus, EXIT_SUCCESS);
    EXPECT_EQ(child.report, GetParam().refusal);
}

// As a host that forks a worker while another of its threads loads: the child loads afresh, then leaves.
TEST_P(ForkDuringLoad, ByAnotherThreadOfTheHost)
{
    binding = &GetParam();
    parent = getpid();
    loading = false;
    forked = false;
    // The load in the parent waits inside the driver until the fork is done; the child's own load goes through.
    GetParam().setHook([] {
        if (getpid() != parent) {
            return;
        }
        loading = true;
        while (!forked) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::string parentLoad;
    std::thread loader([&] { parentLoad = describe(GetParam().load()); });
    const auto deadline = std::chrono::steady_clock::now() + childLimit;
    while (!loading && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!loading) {
        forked = true;
        loader.join();
        FAIL() << "the load never reached the driver: " << parentLoad;
    }

    const ChildOutcome outcome = forkChild([] { return describe(binding->load()); });
    forked = true;
    loader.join();

    ASSERT_TRUE(outcome.ended) << "the child still ran after " << childLimit.count() << " s";
    EXPECT_EQ(outcome.exitStatus, EXIT_SUCCESS);
    EXPECT_EQ(outcome.report, "success");
    EXPECT_EQ(parentLoad, "success");
}

INSTANTIATE_TEST_SUITE_P(Bindings, ForkDuringLoad, ::testing::ValuesIn(bindings),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
