#include "programs/exporter/arguments.h"

#include "programs/common/command_line.h"

namespace qvr::exporter {

ParsedArguments parseArguments(const std::vector<std::string>& args) {
  ParsedArguments result;
  Options& options = result.options;
  for (std::size_t index = 0; index < args.size() && result.error.empty(); ++index) {
    platform::OptionArgument option(args, index);
    const std::string& name = option.name();
    if ((name == "--help" || name == "-h") && !option.hasInlineValue()) {
      options.help = true;
    } else if (name == "--version" && !option.hasInlineValue()) {
      options.version = true;
    } else if (name == "--web.listen-address" || name == "--listen") {
      if (auto value = option.value(result.error)) {
        options.listenAddress = *value;
      }
    } else if (name == "--simulate") {
      options.simulatedDevices = option.simulatedDevices(result.error);
    } else if (name == "--simulate.latency") {
      options.simulatedDelivery = option.simulatedDelivery(result.error);
    } else {
      result.error = "unknown argument: " + args[index];
    }
  }
  if (result.error.empty() && options.simulatedDelivery && !options.simulatedDevices) {
    result.error = "'--simulate.latency' goes only with '--simulate'";
  }
  return result;
}

std::string usageText() {
  return std::string("usage: ") + kProgram +
         " [--web.listen-address=ADDRESS:PORT]\n"
         "           [--simulate[=N] [--simulate.latency=L_MS[,J_MS]]]\n"
         "       " +
         kProgram +
         " --help | --version\n"
         "\n"
         "Serves the state of every attached QVR-7130 to Prometheus: /metrics, /status.json\n"
         "and a page at /. Only navigation-message requests are sent to the devices, never a\n"
         "setting.\n"
         "\n"
         "  --web.listen-address=ADDRESS:PORT, --listen ADDRESS:PORT\n"
         "                 where to serve (default " +
         kDefaultListenAddress +
         "; port 0 takes a free one)\n"
         "  --simulate[=N]  N simulated devices instead of the attached ones (default 1),\n"
         "                 on this computer's clock; SIGUSR1 unplugs the first one plugged\n"
         "                 in, SIGUSR2 plugs all back\n"
         "  --simulate.latency=L_MS[,J_MS]\n"
         "                 the simulated receivers' frames become readable L_MS after their\n"
         "                 epoch, give or take up to J_MS (J_MS < L_MS, L_MS + J_MS < 100;\n"
         "                 default 0)\n"
         "  --help         this text\n"
         "  --version      the version\n";
}

}  // namespace qvr::exporter
