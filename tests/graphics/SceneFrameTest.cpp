// Recorded frames of the scene redraw against golden files, and the start
// of a recording, which repaints the whole scene into the file.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "graphics/Scene.h"
#include "graphics/ZavOpenGL.h"
#include "tests/graphics/support/Golden.h"
#include "tests/graphics/support/SceneFixture.h"
#include "tests/support/TempFolder.h"

namespace {

class SceneFrameTest : public SceneTest {
protected:
  // The bytes one redraw records.
  std::vector<uint8_t> RecordOneRedraw() {
    EXPECT_TRUE(OpenGLRecording(Folder.Name("frame.rec")));
    G.redrawScene();
    CloseGLRecording();
    return ReadRecording(Folder.Path / "frame.rec");
  }
  TempFolder Folder;
};

TEST_F(SceneFrameTest, AnEmptySceneRecordsOneFixedFrame) {
  const std::vector<uint8_t> frame = RecordOneRedraw();
  EXPECT_EQ(frame.size(), 272u);
  EXPECT_TRUE(SameRecording(LoadGolden("frame-empty.hex"), frame));
  EXPECT_EQ(Plane.Presents, 1);
  EXPECT_EQ(Plane.Swaps, 1);
  // The redraw's read-back of the model-view matrix is direct: it reached
  // the base but not the file.
  EXPECT_EQ(FakeGL::CountOf("glGetFloatv"), 1u);
}

TEST_F(SceneFrameTest, ObjectsAreCalledInTheRootsChildOrder) {
  MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  MakeQuadObject(u"b", 2, 0, 0, 255, 0);
  G.paintResume();
  const GoldenIds ids{{"a", Id(u"a")}, {"b", Id(u"b")}};
  EXPECT_TRUE(SameRecording(LoadGolden("frame-two-objects.hex", ids), RecordOneRedraw(), ids));
}

TEST_F(SceneFrameTest, OnBeforeDrawRunsBeforeTheViewportAndTheClear) {
  ASSERT_EQ(Run(u"make \"onbeforedraw []\r\nmake \"onbeforedraw.ondrawimage [testquad 0 0 0 0 0]"), rrOk);
  G.paintResume();
  const GoldenIds ids{{"onbeforedraw", Id(u"onbeforedraw")}};
  EXPECT_TRUE(SameRecording(LoadGolden("frame-onbeforedraw.hex", ids), RecordOneRedraw(), ids));
}

TEST_F(SceneFrameTest, StartingARecordingRecompilesAndRepaintsTheScene) {
  MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  G.paintResume();
  Plane.Repaints = 0;
  G.PaintSuspended = true;  // starting clears it
  G.StartGLRecording(Folder.Name("start.rec"));
  G.StopGLRecording();
  const GoldenIds ids{{"a", Id(u"a")}};
  EXPECT_TRUE(SameRecording(LoadGolden("start-recording-quad.hex", ids), ReadRecording(Folder.Path / "start.rec"), ids));
  EXPECT_EQ(Plane.Repaints, 1);
  EXPECT_FALSE(G.PaintSuspended);
  EXPECT_FALSE(GLRecordingActive());
}

TEST_F(SceneFrameTest, AFileThatCannotBeMadeStillRepaintsDirectly) {
  const std::u16string missing = Folder.Name("no-such-folder/x.rec");
  G.StartGLRecording(missing);
  EXPECT_FALSE(GLRecordingActive());
  EXPECT_FALSE(std::filesystem::exists(Folder.Path / "no-such-folder"));
  EXPECT_EQ(Plane.Presents, 1);
  EXPECT_EQ(Plane.Repaints, 1);
  EXPECT_EQ(Output(), "");
}

TEST_F(SceneFrameTest, AFullDeviceReportsTheFailureOnceAndGoesDirect) {
  MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  G.StartGLRecording(u"/dev/full");
  G.redrawScene();
  EXPECT_FALSE(GLRecordingActive());
  EXPECT_EQ(Output(), "The recording to /dev/full failed");
  EXPECT_EQ(Plane.Repaints, 1);
  EXPECT_EQ(Plane.Presents, 2);
}

TEST_F(SceneFrameTest, ASingleBufferedRedrawRecordsOnlyTheFlushAndTheFrameEnd) {
  G.DoubleBuffered = false;
  EXPECT_TRUE(SameRecording(ParseGoldenHex("11 00  00 00 00 00"), RecordOneRedraw()));
  // The invisible mark went to the base directly.
  EXPECT_EQ(FakeGL::CallsExcept({"glGetError"}),
            (std::vector<std::string>{"glPointSize(1)", "glEnable(GL_BLEND)",
                                      "glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA)", "glColor4ub(0, 0, 0, 0)",
                                      "glBegin(GL_POINTS)", "glVertex3f(0, 0, 0)", "glEnd()", "glFlush()", "glFlush()"}));
  EXPECT_EQ(Plane.Swaps, 0);
  EXPECT_EQ(Plane.FrontPresents, 1);
  EXPECT_EQ(Plane.Presents, 0);
}

}  // namespace
