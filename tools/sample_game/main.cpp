// zarn-sample-game: a console program that uses the Zarn SDK the way a game does, through
// ZarnProxy.h and the shared library only, and checks every answer on the way.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "SampleFlow.h"
#include "SampleOptions.h"

int main(int argc, char** argv) {
  const std::string program = argc > 0 ? argv[0] : "zarn-sample-game";
  const auto parsed = sample::ParseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
  if (!parsed.error.empty()) {
    std::cerr << program << ": " << parsed.error << "\n\n" << sample::UsageText(program);
    return 2;
  }
  if (parsed.showHelp) {
    std::cout << sample::UsageText(program);
    return 0;
  }

  sample::SampleFlow flow(parsed.options, std::cout);
  const int status = flow.Run() ? 0 : 1;
  if (flow.ExitStillRunning()) {
    // A thread is still inside ZarnProxy::Exit: leave without destroying what it may use.
    std::cout.flush();
    std::fflush(nullptr);
    std::_Exit(status);
  }
  return status;
}
