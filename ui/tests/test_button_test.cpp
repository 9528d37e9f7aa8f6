// The Test button in service mode: the acceptance run against the module
// simulator on a pseudo-terminal, in process, from the plan's choice to the
// verdict and the saved report; the window gives its port up for it.
#include <QComboBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <fstream>

#include "serial/VirtualPortDirectory.h"
#include "simulator/ModuleSimulator.h"
#include "ui/AcceptanceRun.h"
#include "ui/SessionTexts.h"
#include "window_support.h"

namespace {

enum PlanChoice : std::size_t { kDefaultPlan, kPlanFile, kCancel };
enum VerdictChoice : std::size_t { kSaveReport, kClose };

class TestButton : public WindowTest {
 protected:
  // The window set up on the simulator's port, in service mode.
  void SetUpOnSimulator() {
    SimulatorOptions options;
    options.registerLink = false;
    simulator = std::make_unique<ModuleSimulator>(options);
    simulator->Start();
    port.reset();
    port = std::make_unique<ScopedVirtualPort>(VirtualPortDirectory(), "ECG0", simulator->DevicePath());
    Click("SetupButton");
    Find<QComboBox>("ComSetupBox")->setEditText(QString::fromStdString(PortName()));
    Click("SetupOKButton");
    ASSERT_TRUE(form->Port().Connected());
    EXPECT_FALSE(Shown("TestButton")) << "a service command";
    form->Guarded([this] { form->ServiceModeKey(); });
  }
  std::string Plan(const char* text) {
    const std::string path = dir.filePath("plan.toml").toStdString();
    std::ofstream(path) << text;
    return path;
  }
  void TearDown() override {
    WindowTest::TearDown();
    simulator.reset();
  }

  QTemporaryDir dir;
  std::unique_ptr<ModuleSimulator> simulator;
};

TEST_F(TestButton, RunsTheChosenPlanShowsTheVerdictAndSavesTheReport) {
  SetUpOnSimulator();
  dialogs.chooseAnswers = {kPlanFile, kSaveReport};
  dialogs.openAnswers = {Plan("name = \"Ident only\"\n[[check]]\nkind = \"identification\"\npattern = \"^ECG-SIM\"\n")};
  const std::string report = dir.filePath("report.pdf").toStdString();
  dialogs.saveAnswers = {report};
  int progressShown = 0;
  dialogs.whileOpen = [&](const FakeDialogs::Shown&) {
    if (auto* progress = form->findChild<QProgressDialog*>("TestProgress"); progress && progress->isVisible())
      ++progressShown;
  };
  Click("TestButton");

  const std::vector<ShownMessage> asked = dialogs.Choices();
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_NE(asked[0].text.find(PortName()), std::string::npos) << asked[0].text;
  const std::string& verdict = asked[1].text;
  EXPECT_EQ(asked[1].caption, kTestCaption);
  EXPECT_NE(verdict.find("Plan \"Ident only\""), std::string::npos) << verdict;
  EXPECT_NE(verdict.find("ECG-SIM 1.0"), std::string::npos) << verdict;
  EXPECT_NE(verdict.find(" 0 failed, 0 errors"), std::string::npos) << verdict;
  EXPECT_EQ(verdict.substr(verdict.size() - 5), "PASS\n");
  EXPECT_EQ(progressShown, 0) << "the progress dialog closes before the verdict";
  std::ifstream pdf(report, std::ios::binary);
  std::string head(5, '\0');
  pdf.read(head.data(), 5);
  EXPECT_EQ(head, "%PDF-");
  EXPECT_TRUE(dialogs.Messages().empty());

  // The port went to the test and stays closed, no loss to reconnect from
  // (the window's clock ticks): Setup is the way on.
  QTest::qWait(1500);
  EXPECT_FALSE(form->Port().Connected());
  EXPECT_FALSE(form->Session().PortLostNow());
  EXPECT_EQ(Panel(spPort), kPortPanelClosed);
  EXPECT_EQ(Panel(spStatus), kPortClosedByTestText);
  EXPECT_FALSE(Shown("TestButton"));
  EXPECT_FALSE(Shown("ReadButton"));
  EXPECT_TRUE(Shown("SetupButton"));
}

TEST_F(TestButton, CancelInTheProgressDialogEndsTheDefaultPlanAtOnce) {
  SetUpOnSimulator();
  dialogs.chooseAnswers = {kDefaultPlan, kClose};
  QTimer canceller;
  QObject::connect(&canceller, &QTimer::timeout, [this] {
    auto* progress = form->findChild<QProgressDialog*>("TestProgress");
    if (progress && progress->isVisible() && progress->labelText().contains("Step 1 of "))
      progress->findChild<QPushButton*>()->click();
  });
  canceller.start(50);
  const auto started = std::chrono::steady_clock::now();
  Click("TestButton");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));

  const std::vector<ShownMessage> asked = dialogs.Choices();
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_NE(asked[1].text.find("cancelled after 1 of "), std::string::npos) << asked[1].text;
  EXPECT_EQ(asked[1].text.substr(asked[1].text.size() - 5), "FAIL\n");
  EXPECT_TRUE(dialogs.saveDialogs.empty());
}

// Until a plan is there to run, the window keeps its port.
TEST_F(TestButton, NoPlanKeepsThePort) {
  SetUpOnSimulator();
  dialogs.chooseAnswers = {kCancel, kPlanFile, kPlanFile};
  dialogs.openAnswers = {std::nullopt, Plan("name = \"x\"\n[[check]]\nkind = \"rate\"\nrates = [120]\n")};
  for (int i = 0; i < 3; ++i) Click("TestButton");
  EXPECT_EQ(dialogs.Choices().size(), 3u);
  ASSERT_EQ(dialogs.Messages().size(), 1u);
  EXPECT_NE(dialogs.Messages()[0].find("plan.toml:4:"), std::string::npos) << dialogs.Messages()[0];
  EXPECT_TRUE(form->Port().Connected());
  EXPECT_TRUE(Shown("TestButton"));
  EXPECT_TRUE(Shown("ReadButton"));
}

}  // namespace
