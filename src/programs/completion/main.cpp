// Writes a program's bash completion, made from the options the program itself declares, so the
// two never disagree.

#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "programs/common/command_line.h"
#include "programs/ctl/arguments.h"
#include "programs/exporter/arguments.h"

int main(int argc, char** argv) {
  namespace platform = qvr::platform;
  const std::map<std::string, const platform::OptionParser*> parsers = {
      {platform::kWindowProgram, &platform::windowOptionParser()},
      {"qvr7130ctl", &qvr::ctl::optionParser()},
      {qvr::exporter::kProgram, &qvr::exporter::optionParser()}};
  const auto parser = argc == 3 ? parsers.find(argv[1]) : parsers.end();
  if (parser == parsers.end()) {
    std::cerr << "usage: qvr_completion qvr7130|qvr7130ctl|qvr7130_exporter FILE\n";
    return 2;
  }
  std::ofstream out(argv[2]);
  out << parser->second->bashCompletion();
  out.close();
  if (!out) {
    std::cerr << "qvr_completion: cannot write " << argv[2] << '\n';
    return 1;
  }
  return 0;
}
