// Plane events with a real interpreter: the call text (also under a
// comma-decimal locale), which events run, queue or drop, and the replay of
// the queue after a regeneration pass.

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "graphics/PlaneEvents.h"
#include "graphics/Scene.h"
#include "tests/graphics/support/SceneFixture.h"
#include "tests/support/TempFolder.h"

namespace {

class PlaneEventsTest : public SceneTest {
protected:
  PlaneEventsTest() : Events(G, Ready) {
    Plane.Size = {640, 480};
    Plane.OnDispatch = [this](const PlaneEvent& event) { Events.Dispatch(event); };
    // Each handler prints its name and inputs.
    EXPECT_EQ(Run(u"to onmousedown :a :b :c :d :e\r\n(print \"down :a :b :c :d :e)\r\nend\r\n"
                  u"to onmouseup :a :b :c :d :e\r\n(print \"up :a :b :c :d :e)\r\nend\r\n"
                  u"to onmouseclick :a :b :c :d :e\r\n(print \"click :a :b :c :d :e)\r\nend\r\n"
                  u"to onmousemove :a :b :c :d :e\r\n(print \"move :a :b :c :d :e)\r\nend\r\n"),
              rrOk)
        << Output();
    T.Host.Lines.clear();
  }
  PlaneEvent Event(int keyword, uint32_t shift, int x, int y) {
    return PlaneEvent{S.Keyword(keyword), shift, y, x};
  }
  bool Ready = true;
  PlaneEvents Events;
};

TEST(PlaneEventCallText, CentredAndWindowCoordinatesInTheCLocale) {
  struct Case {
    PlaneSize Size;
    PlaneEvent Event;
    const char16_t* Expected;
  };
  const Case cases[] = {
      {{640, 480}, {u"onmousedown", 8, 240, 320}, u"(onmousedown (0.00000) (0.00000) (320.00000) (240.00000) (8))"},
      {{641, 480}, {u"onmousedown", 8, 240, 320}, u"(onmousedown (-0.50000) (0.00000) (320.00000) (240.00000) (8))"},
      {{640, 480}, {u"onmousemove", 0x80 | 64 | 1, 0, 0},
       u"(onmousemove (-320.00000) (240.00000) (0.00000) (0.00000) (65))"},
  };
  const auto check = [&] {
    for (const Case& c : cases) EXPECT_EQ(EventCallText(c.Event, c.Size), c.Expected);
  };
  check();
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous != nullptr ? previous : "C";
  // A German locale, made here when the system has none installed.
  const TempFolder folder;
  bool comma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  if (!comma && std::system(("localedef -i de_DE -f UTF-8 " + (folder.Path / "de_DE.UTF-8").string() +
                             " >/dev/null 2>&1")
                                .c_str()) == 0) {
    setenv("LOCPATH", folder.Path.c_str(), 1);
    comma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  }
  if (comma) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", 0.5);
    EXPECT_STREQ(text, "0,5");
    check();
  }
  unsetenv("LOCPATH");
  std::setlocale(LC_NUMERIC, saved.c_str());
  if (!comma) GTEST_SKIP() << "no comma-decimal locale installed";
}

TEST_F(PlaneEventsTest, MouseHandlersGetCentredAndWindowCoordinates) {
  Events.MouseDown(psLeft, 320, 240);
  Events.Click();
  Events.MouseUp(0, 320, 240);
  EXPECT_EQ(Output(), "down 0 0 320 240 8\nclick 0 0 320 240 8\nup 0 0 320 240 0");
  EXPECT_EQ(Events.EventDepth(), 0);
  EXPECT_FALSE(I.InPlaneEvent);
}

TEST_F(PlaneEventsTest, WhichEventsRun) {
  struct Case {
    const char* Name;
    std::function<void()> Act;
    const char* Expected;
  };
  const Case cases[] = {
      {"two moves to one pixel make one call",
       [this] {
         Events.MouseMove(0, 10, 10);
         Events.MouseMove(0, 10, 10);
       },
       "move -310 230 10 10 0"},
      {"paused: dropped",
       [this] {
         I.RunState = rsPaused;
         Events.MouseDown(psLeft, 1, 1);
         I.RunState = rsIdle;
       },
       ""},
      {"environment not ready: dropped",
       [this] {
         Ready = false;
         Events.MouseDown(psLeft, 1, 1);
         Ready = true;
       },
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    T.Host.Lines.clear();
    c.Act();
    EXPECT_EQ(Output(), c.Expected);
  }
}

class PlaneEventsWithoutHandlers : public SceneTest {};

TEST_F(PlaneEventsWithoutHandlers, NothingRunsAndNothingIsReported) {
  bool ready = true;
  PlaneEvents events(G, ready);
  events.MouseDown(psLeft, 1, 1);
  events.Click();
  EXPECT_EQ(Output(), "");
  EXPECT_EQ(T.Host.Dialogs.size(), 0u);
}

TEST_F(PlaneEventsTest, SuspendedEventsLeaveOneOfEachAndTheClickReplaysFirst) {
  S.EventsSuspended = true;
  for (int i = 0; i < 3; ++i) Events.Dispatch(Event(kwOnmouseclick, 8, 100 + i, 50));
  for (int i = 0; i < 5; ++i) Events.MouseMove(0, 10 + i, 20);
  S.EventsSuspended = false;
  ASSERT_TRUE(G.QueuedEvent && G.QueuedMove);
  EXPECT_EQ(G.QueuedEvent->X, 100);
  EXPECT_EQ(G.QueuedMove->X, 10);
  EXPECT_EQ(Output(), "");
  G.paintResume();
  EXPECT_EQ(Output(), "click -220 190 100 50 8\nmove -310 220 10 20 0");
  EXPECT_FALSE(G.QueuedEvent);
  EXPECT_FALSE(G.QueuedMove);
}

TEST_F(PlaneEventsTest, AnEventWhileAListIsOpenWaitsInItsSlot) {
  ++G.ListCompileDepth;
  Events.MouseDown(psLeft, 320, 240);
  --G.ListCompileDepth;
  EXPECT_EQ(Output(), "");
  ASSERT_TRUE(G.QueuedEvent);
  EXPECT_EQ(G.QueuedEvent->Keyword, u"onmousedown");
}

}  // namespace
