// The emitters the module wrote come back whatever the simulator did to them
// meanwhile, and nothing of the module stays in them.
#include <functional>
#include <vector>

#include "tests/emitter_give_back.h"

// What a real simulator may do to its emitters around a load and a drop; each
// story ends with the aircraft's own values and nothing of the module in them.
TEST_F(EmitterGiveBackTest, EmittersComeBackWhateverTheSimulatorDidToThem) {
  // Closing the window asks the simulator for the aircraft only while slots
  // written by the module are not all given back.
  const struct {
    const char* story;
    bool closingAsksForTheAircraft;
    std::function<void()> play;
  } stories[] = {
      {"aircraft changed mid-drop", true,
       [&] {
         StartVisualisedDrop();
         TickDrop();
         SimSetCurrentAircraft(SimAddAircraft(5));
         TickDrop();
         TickUntilDropEnds();
       }},
      {"the aircraft's record gets a new chain mid-drop", true,
       [&] {
         StartVisualisedDrop();
         TickDrop();
         SimReplaceEmitters(aircraft_, 6, false);
         TickDrop();
         TickUntilDropEnds();
       }},
      {"slot blocks reused for the next aircraft after a load without a drop", false,
       [&] {
         LoadVisualised();  // no drop
         EffectSlot* firstBlock = aircraft_->slots[0];
         SimFreeEmitters(aircraft_);
         SimAircraft* next = SimAddAircraft(6);  // in the same blocks, with names of its own
         SimSetCurrentAircraft(next);
         ASSERT_EQ(firstBlock, next->slots[0]);
         PressLoad();
         PressDrop();
         TickUntilDropEnds();
       }},
      {"emitters replaced in place mid-drop", false,
       [&] {
         StartVisualisedDrop();
         TickDrop();
         SimReplaceEmitters(aircraft_, 6, true);
         TickDrop();
         TickUntilDropEnds();
       }},
      {"chain grown mid-drop, after its first slots were written", false,
       [&] {
         SimReplaceEmitters(aircraft_, 2, true);
         StartVisualisedDrop();
         TickDrop();
         SimAppendSlots(aircraft_, 3);
         TickDrop();
         TickUntilDropEnds();
       }},
      {"the simulator sets a programmed slot mid-drop", false,
       [&] {
         StartVisualisedDrop();
         TickDrop();
         SimChangeSlot(aircraft_, 1, false);  // still under the module's name
         SimChangeSlot(aircraft_, 2, true);   // under a name of its own
         TickUntilDropEnds();
       }},
      {"window closed after a load without a drop", false,
       [&] {
         LoadVisualised();
         SimChangeSlot(aircraft_, 1, true);  // the simulator's own later setting must stay
       }},
      // A chain is walked no further than its 256th slot, so that a broken one cannot hang the simulator.
      {"a chain grown in front to 300 slots mid-drop, two written slots past the 256th", true,
       [&] {
         SimAppendSlots(aircraft_, 40);
         StartVisualisedDrop();
         TickDrop();
         SimPrependSlots(aircraft_, 254);  // the four written slots are now the 255th to the 258th
         TickDrop();
         NoteSlotsPastTheWalk();
         TickUntilDropEnds();
       }},
      {"a chain that leads back into itself, the save table full", true,
       [&] {
         StartVisualisedDrop();
         TickDrop();
         for (int left = 0; left < 3; ++left) {  // four aircraft left mid-drop hold all sixteen saves
           SimSetCurrentAircraft(SimAddAircraft(4));
           TickDrop();
         }
         SimAircraft* looped = SimAddAircraft(6);
         SimLoopChain(looped, 3);
         SimSetCurrentAircraft(looped);
         TickDrop();  // room is made by walking the chain for each save held
         EXPECT_FALSE(SimSlotIsOriginal(looped, 1));
         TickUntilDropEnds();
       }},
      {"the saves of four aircraft left mid-drop in freed blocks down a chain of 300", false,
       [&] {
         StartVisualisedDrop();
         SimAircraft* next = SimAddAircraft(4);
         std::vector<SimAircraft*> left = {aircraft_};
         TickDrop();
         for (int i = 0; i < 3; ++i) {
           left.push_back(SimAddAircraft(4));
           SimSetCurrentAircraft(left.back());
           TickDrop();
         }
         // The last block freed is reused first: the sixteen saved ones come back first,
         // named by the simulator anew, then the first aircraft's unsaved two, then new blocks.
         for (SimAircraft* aircraft : left) SimFreeEmitters(aircraft);
         SimAppendSlots(next, 18 + 41);
         SimPrependSlots(next, 237);  // the saved blocks now lie from the 242nd slot to the 257th
         SimSetCurrentAircraft(next);
         TickDrop();
         // Only the save past the walk makes room; a slot the module cannot save it leaves alone.
         EXPECT_FALSE(SimSlotIsOriginal(next, 1));
         for (int position = 2; position <= 4; ++position) EXPECT_TRUE(SimSlotIsOriginal(next, position)) << position;
         TickUntilDropEnds();
       }},
  };
  for (const auto& row : stories) {
    SCOPED_TRACE(row.story);
    pastTheWalk_.clear();
    SimDestroyMainWindow();
    SimReset();
    SimCreateMainWindow();
    aircraft_ = SimAddAircraft(6);
    SimSetCurrentAircraft(aircraft_);
    module_ = SimLoadModule(ModuleDllPath().c_str(), loadOptions_);
    ASSERT_TRUE(module_ != nullptr);
    imageSize_ = SimImageSize(module_);
    row.play();
    ExpectEmittersGivenBack("after the drop");
    FreeLibraryChangesNothing();
    SimClearLog();
    SimDestroyMainWindow();
    EXPECT_EQ(row.closingAsksForTheAircraft, SimCount(kSimCurrentAircraft) > 0);
    ExpectEmittersGivenBack("after the simulator closed its window");
  }
}
