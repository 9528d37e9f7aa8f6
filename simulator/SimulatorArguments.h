#pragma once
// The command line of apps/ecg-module-sim, read here rather than in the
// program so that every option can be tested without starting a process.
#include <string>
#include <vector>

#include "simulator/ModuleSimulator.h"

struct SimulatorArguments {
  SimulatorOptions options;
  bool quiet = false;         // --quiet: no log of the commands received
  bool registerDump = false;  // --register-dump: the register writes, on exit
  bool help = false;          // --help: print SimulatorUsage() and end
  bool version = false;       // --version: print the program's name and SimulatorVersion() and end
  std::string error;          // why the command line is refused (exit code 2); empty when it is not
};

// The arguments after the program's name. --help and --version are answered
// where they stand: what follows them is not looked at.
SimulatorArguments ParseSimulatorArguments(const std::vector<std::string>& arguments);

const char* SimulatorUsage();
// The project's version, e.g. "0.1".
const char* SimulatorVersion();
