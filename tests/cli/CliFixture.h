// The fixture of the tagscope-cli end-to-end tests: the built program run as a child process
// against xmlda-sim in the test process.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "xmlda/XmlDaSim.h"

namespace tagscope::clitest {

inline const std::string kCli = TAGSCOPE_CLI_PATH;

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

inline velqor::xmldasim::Options SimOptions() {
    velqor::xmldasim::Options o;
    o.loadItems = 20;
    o.clockPeriodMs = 100;
    return o;
}

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override { sim.start(); }
    void TearDown() override { sim.stop(); }
    Result Cli(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
        return clitest::Run(kCli, args, env);
    }
    // The command with the service URL in place of "URL".
    Result On(const std::string& command, std::vector<std::string> rest,
              const std::vector<std::string>& env = {}) {
        rest.insert(rest.begin(), {command, sim.url()});
        return Cli(rest, env);
    }

    velqor::xmldasim::Service sim{SimOptions()};
};

}  // namespace tagscope::clitest
