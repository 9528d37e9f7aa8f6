// What the module streams is what the last set-up OK asked for: boxes changed
// in the open set-up panel without OK must not change how frames are stored.
#include "window_support.h"

namespace {

class ConfirmedSetup : public WindowTest {};

TEST_F(ConfirmedSetup, BoxesChangedWithoutOkDuringARecordingKeepTheConfirmedLayout) {
  SetUpPort();  // defaults: eight channels, I, II and III
  Click("ReadButton");
  ModuleSends(Bytes({0xF8, 0, 10, 20, 30}));
  ASSERT_TRUE(WaitUntil([&] { return form->Store().Count() == 1; }));

  // The user opens the set-up panel, ticks aVR and 12-Channel, then cancels.
  // Read hides Setup while recording, so the panel is opened as a lost port
  // would leave it: through the handler itself.
  form->Guarded([&] { form->SetupButtonClick(); });
  SetChecked("CH_VR", true);
  SetChecked("CH_I", false);
  ModuleSends(Bytes({0xF8, 0, 11, 21, 31}));
  ASSERT_TRUE(WaitUntil([&] { return form->Store().Count() == 2; }));
  SetChecked("CheckBox12C", true);
  Click("SetupCancelButton");
  ModuleSends(Bytes({0xF8, 0, 12, 22, 32}));
  ASSERT_TRUE(WaitUntil([&] { return form->Store().Count() == 3; }));

  for (int slot = 1; slot <= 3; ++slot) {
    const SampleRecord& record = form->Store().At(slot);
    EXPECT_EQ(record.channels,
              (std::array<std::uint8_t, 8>{static_cast<std::uint8_t>(9 + slot), static_cast<std::uint8_t>(19 + slot),
                                           static_cast<std::uint8_t>(29 + slot), 0, 0, 0, 0, 0}))
        << "slot " << slot;
    EXPECT_EQ(record.chest, (std::array<std::uint8_t, 5>{})) << "slot " << slot;
  }
  EXPECT_FALSE(form->Session().TwelveChannelMode());
  EXPECT_EQ(form->SampleFramer().Size(), 5);
}

}  // namespace
