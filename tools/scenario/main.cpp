// qvr7130-scenario: runs a scenario script against the window controller on simulated devices
// and prints what happens, one line per event.

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "scenario/scenario.h"

namespace {

constexpr int kUsageError = 2;

int usage() {
  std::cerr << "usage: qvr7130-scenario [--check] FILE\n";
  return kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
  bool check = false;
  std::string file;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--check") {
      check = true;
    } else if (file.empty() && !arg.empty() && arg.front() != '-') {
      file = arg;
    } else {
      return usage();
    }
  }
  if (file.empty()) {
    return usage();
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::cerr << file << ": cannot open\n";
    return kUsageError;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    std::cerr << file << ": cannot read\n";
    return kUsageError;
  }
  return qvr::scenario::runScenario(text.str(), file, check, std::cout, std::cerr);
}
