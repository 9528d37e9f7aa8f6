#include "e2e_support.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "serial/TComDataPacket.h"
#include "serial/VirtualPortDirectory.h"
#include "simulator/ModuleFrames.h"
#include "simulator/SyntheticEcg.h"
#include "store/LocaleFormat.h"
#include "ui/QtDialogs.h"
#include "ui/RadioGroup.h"

// ---- Waiting ----------------------------------------------------------------

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    // Gives the port's event thread and the simulator a moment between
    // looks; the outcome is waited for by the condition, not by this.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// ---- Directories ------------------------------------------------------------

ScratchDir::ScratchDir(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a scratch directory");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  if (keep_) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

ScopedRuntimeDir::ScopedRuntimeDir(const std::filesystem::path& dir) {
  if (const char* old = std::getenv("XDG_RUNTIME_DIR")) previous_ = old;
  setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
}

ScopedRuntimeDir::~ScopedRuntimeDir() {
  if (previous_) {
    setenv("XDG_RUNTIME_DIR", previous_->c_str(), 1);
  } else {
    unsetenv("XDG_RUNTIME_DIR");
  }
}

// ---- FrameTap ---------------------------------------------------------------

namespace {
// Wraps a framer's handler: the handler runs as before, and `log` learns
// what it did with each packet.
void Tap(TComDataPacket& framer, TForm1& form, std::vector<FrameTap::Delivery>& log) {
  framer.OnPacket = [&form, &log, inner = std::move(framer.OnPacket)](TComDataPacket& sender,
                                                                      const std::string& packet) {
    FrameTap::Delivery delivery;
    delivery.sequence = packet.size() > 1 ? static_cast<std::uint8_t>(packet[1]) : 0;
    delivery.number = delivery.sequence;
    if (!log.empty()) {
      const long long last = log.back().number;
      long long step = (delivery.sequence - last % kSequenceModulus + kSequenceModulus) % kSequenceModulus;
      if (step == 0) step = kSequenceModulus;
      delivery.number = last + step;
    }
    delivery.receiving = form.Store().Settings().state == AcquisitionState::Receiving;
    delivery.countBefore = form.Store().Count();
    if (inner) inner(sender, packet);
    delivery.countAfter = form.Store().Count();
    log.push_back(delivery);
  };
}
}  // namespace

FrameTap::FrameTap(TForm1& form) {
  samples_.reserve(200000);
  chests_.reserve(200000);
  Tap(form.SampleFramer(), form, samples_);
  Tap(form.ChestFramer(), form, chests_);
}

std::vector<long long> FrameTap::StoredFrames(int count) const {
  // Later recordings overwrite the slots of earlier ones.
  std::vector<long long> frames(static_cast<std::size_t>(count) + 1, -1);
  for (std::size_t i = 0; i < samples_.size(); ++i) {
    const Delivery& d = samples_[i];
    if (d.Stored() && d.countAfter <= count) frames[static_cast<std::size_t>(d.countAfter)] = d.number;
  }
  return frames;
}

// ---- The simulator's stream -------------------------------------------------

std::vector<SampleBytes> SentSamples(const ModuleConfig& config, std::size_t count, int heartRate,
                                     int respirationRate) {
  SyntheticEcg ecg(heartRate, respirationRate);
  std::vector<SampleBytes> samples;
  samples.reserve(count);
  double seconds = 0;
  for (std::size_t i = 0; i < count; ++i) {
    samples.push_back(SyntheticEcg::ToBytes(ecg.At(seconds), config.amplification));
    // Summed as the simulator sums it, so rounding agrees to the last bit.
    seconds += 1.0 / config.NominalRate();
  }
  return samples;
}

std::array<std::uint8_t, 8> SelectedChannels(const SampleBytes& sent, std::uint8_t mask) {
  std::array<std::uint8_t, 8> channels{};
  for (std::size_t c = 0; c < channels.size(); ++c)
    if (mask & (1u << c)) channels[c] = sent.channels[c];
  return channels;
}

// ---- Files --------------------------------------------------------------------

std::vector<SampleRecord> ReadDataFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path.string());
  std::vector<SampleRecord> records;
  SampleRecord record{};
  while (in.read(reinterpret_cast<char*>(&record), sizeof record)) records.push_back(record);
  if (in.gcount() != 0) ADD_FAILURE() << path << " ends with a piece of " << in.gcount() << " bytes";
  return records;
}

std::vector<std::string> ReadLogLines(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path.string());
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "the last line of " << path << " has no CR LF: " << text.substr(start, 80);
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::vector<std::string> SplitAtTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

std::optional<std::string> CommandOutput(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string output;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int status = pclose(pipe);
  if (status != 0) return std::nullopt;
  return output;
}

bool ProgramAvailable(const std::string& name) {
  return CommandOutput("command -v " + name + " >/dev/null 2>&1 && echo yes").value_or("") == "yes\n";
}

// ---- Checks of a finished recording ----------------------------------------

void ExpectUnbrokenSequence(const std::vector<FrameTap::Delivery>& frames, const char* kind) {
  // Read drops the frames waiting for it: the first frame of a recording
  // may follow the one before with a jump.
  for (std::size_t i = 1; i < frames.size(); ++i) {
    if (frames[i].receiving && !frames[i - 1].receiving) continue;
    const auto expected = static_cast<std::uint8_t>((frames[i - 1].sequence + 1) % kSequenceModulus);
    if (frames[i].sequence != expected) {
      ADD_FAILURE() << kind << " frame " << i << " carries sequence " << int(frames[i].sequence) << ", expected "
                    << int(expected) << ": frames were lost or cut wrongly";
      return;
    }
  }
}

StreamMatch MatchStoreWithStream(const SampleStore& store, const FrameTap& tap, const ModuleConfig& config) {
  StreamMatch match;
  const int count = store.Count();
  if (count == 0) return match;
  const std::vector<long long> frames = tap.StoredFrames(count);
  match.firstFrame = frames[1];
  match.lastFrame = frames[static_cast<std::size_t>(count)];
  long long newestFrame = 1;
  for (const auto* log : {&tap.Samples(), &tap.Chests()})
    if (!log->empty()) newestFrame = std::max(newestFrame, log->back().number + 2);
  const std::vector<SampleBytes> sent = SentSamples(config, static_cast<std::size_t>(newestFrame));

  for (int slot = 1; slot <= count; ++slot) {
    const std::size_t s = static_cast<std::size_t>(slot);
    const SampleRecord& record = store.At(slot);
    const long long frame = frames[s];
    if (frame < 0 || frame != match.firstFrame + slot - 1) {
      ADD_FAILURE() << "slot " << slot << " holds sample frame " << frame << ", expected "
                    << match.firstFrame + slot - 1 << ": the recording has a gap";
      return match;
    }
    const SampleBytes& own = sent[static_cast<std::size_t>(frame)];
    std::array<std::uint8_t, 8> channels{};
    std::array<std::uint8_t, 5> chest{};
    if (config.TwelveChannel()) {
      std::copy_n(own.channels.begin(), 7, channels.begin());
      // Which sample's chest frame completed the record: its own, the next,
      // one further on, or none (chest leads still 0).
      chest = record.chest;
      if (record.chest == own.chest) {
        ++match.chestOwnSample;
      } else if (record.chest == std::array<std::uint8_t, 5>{}) {
        ++match.chestMissing;
      } else if (static_cast<std::size_t>(frame) + 1 < sent.size() &&
                 record.chest == sent[static_cast<std::size_t>(frame) + 1].chest) {
        ++match.chestNextSample;
      } else {
        bool later = false;
        for (std::size_t k = static_cast<std::size_t>(frame) + 2;
             k < sent.size() && k <= static_cast<std::size_t>(frame) + 64; ++k) {
          if (record.chest == sent[k].chest) later = true;
        }
        if (later) {
          ++match.chestLaterSample;
        } else {
          ADD_FAILURE() << "slot " << slot << " (sample " << frame << ") holds chest leads no later sample carried";
        }
      }
    } else {
      channels = SelectedChannels(own, config.channelMask);
    }
    const bool same =
        record.channels == channels && record.chest == chest && record.reserved == std::array<std::uint8_t, 3>{};
    if (!same && match.mismatches++ < 5) {
      ADD_FAILURE() << "slot " << slot << " (sample " << frame << ") does not hold what the simulator sent";
    }
  }
  return match;
}

void ExpectFilesHoldStore(const std::filesystem::path& log, const std::filesystem::path& dat,
                          const SampleStore& store) {
  const int count = store.Count();
  const std::vector<SampleRecord> records = ReadDataFile(dat);
  ASSERT_EQ(records.size(), static_cast<std::size_t>(count) + 1) << dat;
  EXPECT_EQ(records[0].channels[0], 5) << "file-type marker";
  int differing = 0;
  for (int slot = 1; slot <= count; ++slot) {
    if (std::memcmp(&records[static_cast<std::size_t>(slot)], &store.At(slot), sizeof(SampleRecord)) != 0 &&
        differing++ < 5) {
      ADD_FAILURE() << "record " << slot << " of " << dat << " differs from the store's slot";
    }
  }

  const std::vector<std::string> lines = ReadLogLines(log);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(count) + 5) << log;
  EXPECT_EQ(lines[0], "VARNOK ECG Data : " + log.string());
  EXPECT_EQ(lines[1].rfind("File created: ", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[3], "TIME    \tI\tII\tIII\tVR\tVL\tVF\tC1\tC2\tC3\tC4\tC5\tC6\tRESP");
  EXPECT_EQ(lines[4], "");
  for (int slot = 1; slot <= count; ++slot) {
    const SampleRecord& record = store.At(slot);
    std::vector<std::string> expected{LongTimeText(record.time)};
    for (std::size_t c = 0; c < 7; ++c) expected.push_back(std::to_string(record.channels[c]));
    for (std::uint8_t value : record.chest) expected.push_back(std::to_string(value));
    expected.push_back(std::to_string(record.channels[chResp]));
    expected.push_back("");  // every field, the last one too, ends with a TAB
    const std::string& line = lines[static_cast<std::size_t>(slot) + 4];
    if (SplitAtTabs(line) != expected && differing++ < 5) {
      ADD_FAILURE() << "log line of record " << slot << " reads \"" << line << "\"";
    }
  }
}

// ---- EndToEnd -----------------------------------------------------------------

void EndToEnd::SetUp() {
  scratch = std::make_unique<ScratchDir>();
  std::filesystem::create_directory(Scratch() / "runtime");
  runtime = std::make_unique<ScopedRuntimeDir>(Scratch() / "runtime");
  SimulatorOptions options;
  options.name = "ECG-SIM0";
  options.directory = VirtualPortDirectory();
  sim = std::make_unique<ModuleSimulator>(options);
  sim->Start();
  form = std::make_unique<TForm1>(dialogs, 1280);
  // Before the first set-up, so that frame n seen is the simulator's sample n.
  tap = std::make_unique<FrameTap>(*form);
  form->show();
  ASSERT_TRUE(WaitUntil([&] { return form->isVisible(); }));
}

void EndToEnd::TearDown() {
  // The window closes its port first, serving the deliveries still waiting,
  // which pass through the tap; the simulator then sees the tool go.
  form.reset();
  tap.reset();
  sim.reset();
  runtime.reset();
  // ECG_E2E_KEEP=1 keeps the files of a run (saved recordings, PDF) to look at.
  if (std::getenv("ECG_E2E_KEEP")) {
    std::printf("[ kept ] %s\n", Scratch().c_str());
    scratch->Keep();
  }
  scratch.reset();
}

bool EndToEnd::Shown(const char* name) const {
  QWidget* widget = Find(name);
  return widget && widget->isVisible();
}

void EndToEnd::Click(const char* name) {
  auto* button = Find<QAbstractButton>(name);
  ASSERT_TRUE(button);
  ASSERT_TRUE(button->isVisible()) << name << " is hidden";
  ASSERT_TRUE(button->isEnabled()) << name << " is disabled";
  button->click();
}

void EndToEnd::Check(const char* name, bool checked) {
  auto* box = Find<QAbstractButton>(name);
  ASSERT_TRUE(box);
  if (box->isChecked() != checked) Click(name);
  ASSERT_EQ(box->isChecked(), checked) << name;
}

std::string EndToEnd::Caption(const char* name) const {
  QWidget* widget = Find(name);
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text().toStdString();
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text().toStdString();
  if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title().toStdString();
  return {};
}

void EndToEnd::SetUpModule(const Choices& choices) {
  const std::uint8_t channelMask = choices.channelMask;
  const bool twelveChannels = choices.twelveChannels;
  const std::size_t setupsBefore = sim->State().setupsAccepted;
  Click("SetupButton");
  ASSERT_TRUE(Shown("SetupBox"));

  // The simulator's port is in the list; the user picks it there.
  auto* ports = Find<QComboBox>("ComSetupBox");
  ASSERT_TRUE(ports);
  const int index = ports->findText(QString::fromStdString(sim->PortPath()));
  ASSERT_GE(index, 0) << sim->PortPath() << " is not among the " << ports->count() << " ports listed";
  ports->setCurrentIndex(index);
  ASSERT_EQ(ports->currentText().toStdString(), sim->PortPath());

  for (const auto& [groupName, itemText] : choices.items) {
    auto* group = Find<TRadioGroup>(groupName);
    ASSERT_TRUE(group);
    int item = -1;
    for (int i = 0; i < group->ItemCount(); ++i)
      if (group->Item(i) == itemText) item = i;
    ASSERT_GE(item, 0) << groupName << " has no item " << itemText;
    group->Button(item)->click();
    ASSERT_EQ(group->ItemIndex(), item);
  }
  Check("CheckBox12C", twelveChannels);
  if (!twelveChannels) {
    static const char* const boxes[] = {"CH_I", "CH_II", "CH_III", "CH_VR", "CH_VL", "CH_VF", "CH_C1", "CH_RE"};
    for (std::size_t c = 0; c < 8; ++c) Check(boxes[c], (channelMask & (1u << c)) != 0);
  }
  Click("SetupOKButton");
  EXPECT_FALSE(Shown("SetupBox"));
  EXPECT_EQ(dialogs.Messages(), std::vector<std::string>{}) << "the port opened without complaint";
  EXPECT_EQ(Panel(0), "Port: " + sim->PortPath());
  ASSERT_TRUE(sim->WaitFor([&](const SimulatorState& s) { return s.setupsAccepted > setupsBefore; }, kDeadline))
      << "the simulator never accepted a set-up";
  const SimulatorState state = sim->State();
  EXPECT_EQ(state.rejectedCommands, 0u);
  ASSERT_TRUE(state.config);
  EXPECT_EQ(state.config->TwelveChannel(), twelveChannels);
  if (!twelveChannels) {
    EXPECT_EQ(state.config->channelMask, channelMask);
  }
}

EndToEnd::Around EndToEnd::ClickAndCount(const char* name) {
  Around around;
  around.sentBefore = sim->State().samplesSinceSetup;
  // Handlers run on this thread only, so nothing is handled during the click.
  around.handled = tap->NextSampleNumber();
  Click(name);
  around.sentAfter = sim->State().samplesSinceSetup;
  return around;
}
