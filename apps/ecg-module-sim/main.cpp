// ecg-module-sim: the ECG module's stand-in on a virtual serial port, for
// trying the tool without the hardware. Runs until Ctrl-C or SIGTERM and
// removes its port on the way out.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "simulator/ModuleSimulator.h"

namespace {
constexpr const char* kUsage =
    "Usage: ecg-module-sim [options]\n"
    "Plays the ECG acquisition module on a virtual serial port.\n"
    "\n"
    "  --name NAME                port name (default ECG-SIM0)\n"
    "  --dir DIR                  directory of virtual ports (default $XDG_RUNTIME_DIR/virtual-serial\n"
    "                             or /tmp/virtual-serial-<uid>)\n"
    "  --rate-multiplier X        stream X times the set-up's rate (at most what the line carries)\n"
    "  --samples-per-second N     stream N samples per second whatever the set-up says\n"
    "  --fast                     stream as fast as a 115200-baud line carries\n"
    "  --unpaced                  stream as fast as the reader takes the samples\n"
    "  --heart-rate BPM           heart rate of the synthetic ECG (default 72)\n"
    "  --resp-rate N              breaths per minute (default 15)\n"
    "  --noise                    garbage between frames, lost bytes, writes in random pieces\n"
    "  --quiet                    do not log received commands\n"
    "  --register-dump            list the register writes received, on exit\n"
    "  --help                     this text\n";

struct Arguments {
  SimulatorOptions options;
  bool quiet = false;
  bool registerDump = false;
};

[[noreturn]] void Usage(const std::string& complaint) {
  std::cerr << "ecg-module-sim: " << complaint << "\n\n" << kUsage;
  std::exit(2);
}

double Number(const std::string& option, const char* text, double low, double high) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(value >= low && value <= high)) {
    char range[96];
    std::snprintf(range, sizeof range, " needs a number from %g to %g", low, high);
    Usage(option + range);
  }
  return value;
}

Arguments Parse(int argc, char** argv) {
  Arguments args;
  SimulatorOptions& o = args.options;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) Usage(option + " needs a value");
      return argv[++i];
    };
    if (option == "--help" || option == "-h") {
      std::cout << kUsage;
      std::exit(0);
    } else if (option == "--name") {
      o.name = value();
    } else if (option == "--dir") {
      o.directory = value();
    } else if (option == "--rate-multiplier") {
      o.pace.rateMultiplier = Number(option, value(), 0.01, 1000);
    } else if (option == "--samples-per-second") {
      o.pace.samplesPerSecond = Number(option, value(), 1, 1e6);
    } else if (option == "--fast") {
      o.pace.samplesPerSecond = SimulatorPace::kUnpaced;
      o.pace.capAtLineRate = true;
    } else if (option == "--unpaced") {
      o.pace.samplesPerSecond = SimulatorPace::kUnpaced;
      o.pace.capAtLineRate = false;
    } else if (option == "--heart-rate") {
      o.heartRate = static_cast<int>(Number(option, value(), 20, 250));
    } else if (option == "--resp-rate") {
      o.respirationRate = static_cast<int>(Number(option, value(), 1, 60));
    } else if (option == "--noise") {
      o.faults.garbageChance = 0.02;
      o.faults.dropChance = 0.001;
      o.faults.randomChunks = true;
      o.faults.seed = static_cast<std::uint32_t>(std::time(nullptr));
    } else if (option == "--quiet") {
      args.quiet = true;
    } else if (option == "--register-dump") {
      args.registerDump = true;
    } else {
      Usage("unknown option " + option);
    }
  }
  if (o.pace.samplesPerSecond > 0 && o.pace.rateMultiplier != 1.0) {
    Usage("--rate-multiplier cannot be combined with a fixed rate");
  }
  return args;
}
}  // namespace

int main(int argc, char** argv) {
  Arguments args = Parse(argc, argv);

  // Block the ending signals in every thread; the main thread takes them
  // with sigwait, so the port is removed however the run ends.
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGINT);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &ending, nullptr);

  std::mutex logMutex;
  if (!args.quiet) {
    args.options.OnCommand = [&logMutex](const ModuleCommand& command) {
      std::lock_guard lock(logMutex);
      std::cerr << "ecg-module-sim: received " << command.Describe() << std::endl;
    };
    args.options.OnConnection = [&logMutex](bool connected) {
      std::lock_guard lock(logMutex);
      std::cerr << "ecg-module-sim: port " << (connected ? "opened" : "closed") << " by the tool" << std::endl;
    };
  }

  std::optional<ModuleSimulator> simulator;
  try {
    simulator.emplace(args.options);
  } catch (const ESimulator& error) {
    std::cerr << "ecg-module-sim: " << error.what() << std::endl;
    return 1;
  }
  simulator->Start();
  std::cout << "ECG module simulator ready.\n"
            << "Port to choose in the tool: " << simulator->PortPath() << "\n"
            << "(pseudo-terminal " << simulator->DevicePath() << "; Ctrl-C ends)" << std::endl;

  int signal = 0;
  sigwait(&ending, &signal);
  simulator->Stop();

  if (args.registerDump) {
    const auto log = simulator->RegisterLog();
    std::cout << "Register writes: " << log.size() << "\n";
    for (const RegisterWriteEntry& write : log) {
      char line[64];
      std::snprintf(line, sizeof line, "  register %2d := 0x%02X\n", write.address, write.value);
      std::cout << line;
    }
    std::cout.flush();
  }
  simulator.reset();  // removes the port
  return 0;
}
