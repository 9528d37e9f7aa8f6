#include "RecorderOptions.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "module/SetupCommand.h"

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// The index of `value` among `names` (compared without case), or EUsage.
std::uint8_t Choice(const std::string& option, const std::string& value, std::initializer_list<const char*> names) {
  std::uint8_t index = 0;
  std::string list;
  for (const char* name : names) {
    if (Lower(value) == name) return index;
    list += (list.empty() ? "" : ", ") + std::string(name);
    ++index;
  }
  throw EUsage(option + ": '" + value + "' is not one of " + list);
}

long long Whole(const std::string& option, const std::string& text, long long low, long long high, int base = 10) {
  long long value = 0;
  const char* end = text.data() + text.size();
  const auto [at, ec] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || ec != std::errc() || at != end || value < low || value > high) {
    throw EUsage(option + ": '" + text + "' is not a whole number from " + std::to_string(low) + " to " +
                 std::to_string(high));
  }
  return value;
}

std::array<bool, kChannelBoxCount> Channels(const std::string& list) {
  std::array<bool, kChannelBoxCount> channels{};
  std::stringstream in(list);
  std::string name;
  while (std::getline(in, name, ',')) {
    bool found = false;
    for (std::size_t i = 0; i < kChannelBoxCount; ++i) {
      std::string item(ChannelBoxItems[i]);
      if (!item.empty() && item.back() == '.') item.pop_back();  // "Resp."
      if (Lower(name) == Lower(item) || Lower(name) == Lower(std::string(ChannelBoxItems[i]))) {
        channels[i] = true;
        found = true;
      }
    }
    if (!found) throw EUsage("--channels: '" + name + "' is not one of I, II, III, aVR, aVL, aVF, C1, Resp");
  }
  if (std::none_of(channels.begin(), channels.end(), [](bool on) { return on; })) {
    throw EUsage("--channels: no channel given");
  }
  return channels;
}

// ADDR=VALUE: the address as the register editor takes it, the value as a
// byte in decimal, 0x hex or 0b binary (MSB first, as the bit boxes stand).
RegisterWriteOption RegisterWrite(const std::string& text) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos) throw EUsage("--register: '" + text + "' is not ADDR=VALUE");
  RegisterWriteOption write;
  write.address = text.substr(0, equals);
  if (!ParseRegisterAddress(write.address)) {
    throw EUsage("--register: address '" + write.address + "' is not a whole number from 0 to " +
                 std::to_string(kLastRegisterAddress));
  }
  const std::string value = text.substr(equals + 1);
  long long byte = 0;
  if (value.rfind("0x", 0) == 0 || value.rfind("0X", 0) == 0) {
    byte = Whole("--register", value.substr(2), 0, 255, 16);
  } else if (value.rfind("0b", 0) == 0 || value.rfind("0B", 0) == 0) {
    byte = Whole("--register", value.substr(2), 0, 255, 2);
  } else {
    byte = Whole("--register", value, 0, 255);
  }
  for (int bit = 0; bit < 8; ++bit) write.bits[static_cast<std::size_t>(7 - bit)] = (byte >> bit) & 1;
  return write;
}

}  // namespace

RecorderOptions ParseRecorderOptions(const std::vector<std::string>& args) {
  RecorderOptions o;
  bool channelsGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw EUsage(arg + " needs a value");
      return args[++i];
    };
    if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else if (arg == "--version") {
      o.version = true;
    } else if (arg == "--port") {
      o.setup.port = value();
    } else if (arg == "--rate") {
      o.setup.indices.transmission = Choice(arg, value(), {"50", "100", "150", "300"});
    } else if (arg == "--amplification") {
      o.setup.indices.amplification = static_cast<std::uint8_t>(Whole(arg, value(), 1, 4) - 1);
    } else if (arg == "--filter") {
      o.setup.indices.filter = Choice(arg, value(), {"off", "50", "60"});
    } else if (arg == "--mode") {
      o.setup.indices.mode = Choice(arg, value(), {"diagnostic", "monitoring"});
    } else if (arg == "--pacer") {
      o.setup.indices.pacer = 1;
    } else if (arg == "--simulation") {
      o.setup.indices.simulation = 1;
    } else if (arg == "--emg") {
      o.setup.emg = true;
    } else if (arg == "--channels") {
      o.setup.channels = Channels(value());
      channelsGiven = true;
    } else if (arg == "--twelve") {
      o.setup.twelveChannel = true;
    } else if (arg == "--seconds") {
      const std::string& text = value();
      char* end = nullptr;
      const double seconds = std::strtod(text.c_str(), &end);
      if (text.empty() || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 || seconds > kMaxStreamSeconds) {
        throw EUsage("--seconds: '" + text + "' is not a number of seconds above 0 and up to 604800 (--stream; " +
                     "86400 without)");
      }
      o.seconds = seconds;
    } else if (arg == "--records") {
      o.records = Whole(arg, value(), 1, kMaxStreamRecords);
    } else if (arg == "--stream") {
      o.stream = true;
    } else if (arg == "--reconnect") {
      o.reconnect = true;
    } else if (arg == "--out") {
      o.out = value();
    } else if (arg == "--force") {
      o.force = true;
    } else if (arg == "--identify") {
      o.identify = true;
    } else if (arg == "--calibrate") {
      o.calibrate = true;
    } else if (arg == "--electrodes") {
      o.electrodes = true;
    } else if (arg == "--register") {
      o.registerWrites.push_back(RegisterWrite(value()));
    } else {
      throw EUsage("unknown argument '" + arg + "' (see --help)");
    }
  }
  if (o.help || o.version) return o;
  if (o.setup.port.empty()) throw EUsage("--port is missing");
  // A path as the shell completes it is taken from here; a bare name
  // (ttyUSB0) is a device under /dev, as the port library takes it.
  if (o.setup.port.find('/') != std::string::npos && o.setup.port.front() != '/') {
    o.setup.port = std::filesystem::absolute(o.setup.port).lexically_normal().string();
  }
  if (channelsGiven && o.setup.twelveChannel) throw EUsage("--channels and --twelve exclude each other");
  if (o.seconds && o.records) throw EUsage("--seconds and --records exclude each other");
  // Without --stream the recording lives in the store until it is saved.
  if (!o.stream && o.records && *o.records > SampleStore::kRunLimit)
    throw EUsage("--records: " + std::to_string(*o.records) + " is more than the 80000 a recording holds (--stream " +
                 "writes more)");
  if (!o.stream && o.seconds && *o.seconds > kMaxSeconds) throw EUsage("--seconds: more than 86400 needs --stream");
  if (o.stream && !o.Records()) throw EUsage("--stream needs --seconds or --records");
  if (o.reconnect && !o.Records()) throw EUsage("--reconnect needs --seconds or --records");
  const bool service = o.identify || o.calibrate || o.electrodes || !o.registerWrites.empty();
  if (!o.Records() && !service) throw EUsage("nothing to do: give --seconds or --records, or a service command");
  if (o.Records() && o.out.empty()) throw EUsage("--out is missing");
  if (!o.Records() && !o.out.empty()) throw EUsage("--out needs --seconds or --records");
  return o;
}

std::string RecorderUsage() {
  return "Usage: ecg-record --port PATH [set-up] (--seconds N | --records N) --out NAME.log\n"
         "       ecg-record --port PATH [set-up] [--identify] [--calibrate] [--electrodes] [--register ADDR=VALUE]\n"
         "\n"
         "Sets the ECG module on PATH up, records what it sends and saves it as NAME.log and\n"
         "its data file (the tool's own two files), then prints a summary as JSON on stdout.\n"
         "Progress goes to stderr. Ctrl-C, SIGTERM or SIGHUP ends the recording and saves it.\n"
         "The service commands say on stderr what they sent.\n"
         "\n"
         "Set-up (the tool's defaults in brackets):\n"
         "  --port PATH              the serial port, e.g. /dev/ttyUSB0 or a virtual port\n"
         "  --rate 50|100|150|300    samples per second [100]\n"
         "  --amplification 1..4     amplification stage [2]\n"
         "  --filter off|50|60       mains filter [50]\n"
         "  --mode diagnostic|monitoring  [monitoring]\n"
         "  --pacer                  pacemaker detection on [off]\n"
         "  --emg                    EMG filter on [off]\n"
         "  --simulation             the module's own test signal [off]\n"
         "  --channels LIST          eight-channel mode with these of I,II,III,aVR,aVL,aVF,C1,Resp [I,II,III]\n"
         "  --twelve                 twelve-channel mode (I..C1, C2..C6) [eight-channel]\n"
         "\n"
         "Recording:\n"
         "  --seconds N              record N seconds (a fraction is fine)\n"
         "  --records N              record N sample records (1..80000; with --stream up to 1000000000)\n"
         "  --out NAME.log           save as NAME.log, its data file NAME.dat and its sidecar NAME.json;\n"
         "                           checked before the module is set up\n"
         "  --force                  replace existing files of that name [never replaced]\n"
         "  --stream                 write each record to NAME.dat as it arrives (flushed every second,\n"
         "                           synced every 5 s): no store limit, --seconds up to 604800; NAME.json\n"
         "                           is written at the start, NAME.log at the end. After a crash,\n"
         "                           'ecg-convert --repair NAME.dat' writes the log and completes the sidecar\n"
         "  --reconnect              when the port is lost, try it again every second and go on with the\n"
         "                           recording when it is back (the set-up sent again, the gap marked in the\n"
         "                           records); without it a lost port ends the recording\n"
         "\n"
         "  Markers: a line \"mark [TEXT]\" on stdin, or SIGUSR1, adds a numbered marker at the next\n"
         "  record (the record's marker byte; the sidecar and the summary keep its number, record and text).\n"
         "  The summary's \"heart_rate\" gives the tool's own count (median over the recording, lead II or\n"
         "  the first lead) and the module's Pulse; more than 5 bpm apart is said on stderr.\n"
         "\n"
         "Service commands (sent after the set-up, before a recording):\n"
         "  --identify               ask for the identification text and print it (waits up to 2 s)\n"
         "  --calibrate              the 1 mV calibration signal; with a recording, its rectangle is\n"
         "                           measured in every recorded lead (the summary's \"calibration\":\n"
         "                           steps per mV and zero per lead) and, with --identify, kept for the\n"
         "                           module and stage in ~/.config/ecg-test-station/ecg-tool.ini, where a\n"
         "                           later recording at that stage (with --identify) finds it\n"
         "  --electrodes             the electrode search\n"
         "  --register ADDR=VALUE    write register ADDR (0..25) with VALUE (0..255, 0x.. or 0b........)\n"
         "\n"
         "  --help, --version\n"
         "\n"
         "Exit codes:\n"
         "  0  done: the files are saved and nothing was lost\n"
         "  2  bad arguments, or an output name that cannot be saved (nothing was sent)\n"
         "  3  port not available, a command could not be sent, or the port was lost (with --reconnect:\n"
         "     lost and not back by the end; what came is saved)\n"
         "  4  the module sent no sample frame (or no identification) in time; nothing saved\n"
         "  5  the files could not be saved (or, with --stream, written to the end)\n"
         "  6  saved, but data were lost: input gaps, rejected frames, the rate more than 2 % off the\n"
         "     set-up's, the line silent for more than 1 s, or the port lost and back (--reconnect) (the\n"
         "     reasons on stderr and in the summary's \"integrity\")\n"
         "  7  the recording ended before its first record; nothing saved\n"
         "  8  saved, but the summary could not be written to stdout\n";
}
