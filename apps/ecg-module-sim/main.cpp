// ecg-module-sim: the ECG module's stand-in on a virtual serial port, for
// trying the tool without the hardware. Runs until Ctrl-C or SIGTERM and
// removes its port on the way out.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "simulator/ModuleSimulator.h"
#include "simulator/SimulatorArguments.h"

int main(int argc, char** argv) {
  SimulatorArguments args = ParseSimulatorArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (!args.error.empty()) {
    std::cerr << "ecg-module-sim: " << args.error << "\n\n" << SimulatorUsage();
    return 2;
  }
  if (args.help) {
    std::cout << SimulatorUsage();
    return 0;
  }
  if (args.version) {
    std::cout << "ecg-module-sim " << SimulatorVersion() << "\n";
    return 0;
  }

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
            << "(pseudo-terminal " << simulator->DevicePath() << "; Ctrl-C ends)\n"
            << "Leads: " << simulator->SignalSource() << std::endl;

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
