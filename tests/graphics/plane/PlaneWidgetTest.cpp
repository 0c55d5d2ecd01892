// The plane on Xvfb with Mesa: a main window over a real interpreter and its
// graphics, flat quads at known depths seen orthographically from +z
// (one unit per pixel, origin in the centre). Pixels, resizing,
// single-buffered drawing, picking, mouse events, losing and regaining the
// context, a format switch, and the picture saved, printed and copied.

#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QPrinter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTransform>
#include <cstdlib>

#include "core/Expr.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "core/Vars.h"
#include "environment/EnvHost.h"
#include "environment/EnvState.h"
#include "environment/Main.h"
#include "environment/MsgWin.h"
#include "environment/OutWin.h"
#include "environment/Prompts.h"
#include "graphics/Graphics.h"
#include "graphics/Projection.h"
#include "graphics/ZavOpenGL.h"
#include "graphics/plane/PixelFormats.h"
#include "graphics/plane/PlaneImage.h"
#include "graphics/plane/PlnWin.h"
#include "tests/support/TestState.h"

namespace {

class PlanePrompts : public Prompts {
public:
  std::optional<QString> saveFileName(QWidget*, int filterEntry) override {
    FilterAsked = filterEntry;
    return SaveAnswer;
  }
  bool setUpPrinter(QWidget*, QPrinter& printer) override {
    if (PdfPath.isEmpty()) return false;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(PdfPath);
    PageRect = printer.pageRect(QPrinter::DevicePixel);
    Resolution = printer.resolution();
    return true;
  }
  std::optional<QString> SaveAnswer;
  int FilterAsked = 0;
  QString PdfPath;
  QRectF PageRect;  // the printable area of the paper, device pixels
  int Resolution = 0;
};

// --- reading back a printed PDF ------------------------------------------------------

// The stream of object number (inflated when it is compressed) and its
// dictionary.
QByteArray PdfStream(const QByteArray& pdf, int object, QByteArray* dictionary) {
  const qsizetype header = pdf.indexOf("\n" + QByteArray::number(object) + " 0 obj");
  const qsizetype at = header < 0 ? -1 : pdf.indexOf("stream", header);
  if (at < 0 || at > pdf.indexOf("endobj", header)) return {};  // an object without a stream
  *dictionary = pdf.mid(header, at - header);
  qsizetype start = at + 6;
  while (start < pdf.size() && (pdf[start] == '\r' || pdf[start] == '\n')) ++start;
  const qsizetype end = pdf.indexOf("endstream", start);
  if (end < 0) return {};
  const QByteArray body = pdf.mid(start, end - start);
  if (!dictionary->contains("/FlateDecode")) return body;
  // qUncompress wants the size first; it grows a short guess itself.
  QByteArray packed(4, '\0');
  const quint32 guess = static_cast<quint32>(body.size() * 8 + 64);
  for (int i = 0; i < 4; ++i) packed[i] = static_cast<char>(guess >> (24 - 8 * i));
  return qUncompress(packed + body);
}

int PdfReference(const QByteArray& text, const QByteArray& key) {
  const QRegularExpression reference(QRegularExpression::escape(QString::fromLatin1(key)) +
                                     QStringLiteral("\\s+(\\d+) 0 R"));
  const QRegularExpressionMatch match = reference.match(QString::fromLatin1(text));
  return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// The one image of a one-page PDF: where the page's content stream puts it
// (the unit square under the transformation in force at its Do, in points
// from the paper's top-left corner) and its pixels.
struct PdfImage {
  QRectF Placement;
  QImage Pixels;
};
std::optional<PdfImage> ReadPdfImage(const QByteArray& pdf) {
  const QRegularExpressionMatch box =
      QRegularExpression(QStringLiteral("/MediaBox \\[0 0 ([\\d.]+) ([\\d.]+)\\]")).match(QString::fromLatin1(pdf));
  const qsizetype page = pdf.indexOf("/Type /Page\n");
  if (!box.hasMatch() || page < 0) return std::nullopt;
  const double paperHeight = box.captured(2).toDouble();
  QByteArray dictionary;
  const QByteArray content = PdfStream(pdf, PdfReference(pdf.mid(page), "/Contents"), &dictionary);
  // q, Q and cm keep the transformation; Do draws the named image.
  std::vector<QTransform> saved;
  QTransform ctm;
  std::vector<double> operands;
  std::optional<PdfImage> image;
  for (const QByteArray& token : content.simplified().split(' ')) {
    bool number = false;
    const double value = token.toDouble(&number);
    if (number) {
      operands.push_back(value);
      continue;
    }
    if (token == "q") saved.push_back(ctm);
    if (token == "Q" && !saved.empty()) {
      ctm = saved.back();
      saved.pop_back();
    }
    if (token == "cm" && operands.size() >= 6) {
      const double* m = &operands[operands.size() - 6];
      ctm = QTransform(m[0], m[1], m[2], m[3], m[4], m[5]) * ctm;
    }
    if (token.startsWith('/') && !image) {
      const int object = PdfReference(pdf, token);
      QByteArray imageDictionary;
      const QByteArray data = object < 0 ? QByteArray() : PdfStream(pdf, object, &imageDictionary);
      if (imageDictionary.contains("/Subtype /Image")) {
        const QRectF r = ctm.mapRect(QRectF(0, 0, 1, 1));
        image = PdfImage{QRectF(r.x(), paperHeight - r.bottom(), r.width(), r.height()), QImage::fromData(data)};
      }
    }
    if (!token.startsWith('/')) operands.clear();
  }
  return image;
}

// "flatquad x y z size r g b": a square of size units around (x, y, z).
constexpr std::u16string_view kFlatQuad = u"to flatquad :x :y :z :s :r :g :b\r\noutput dll.test.FLATQUAD\r\nend\r\n";

class PlaneWidgetTest : public ::testing::Test {
protected:
  PlaneWidgetTest() : s(host), env(s), in(s), g(in) {
    UseEnglishKeywords(s);
    s.EnterFrame(NewVariable(s, u"[Root]", nullptr));
    env.LanguageTexts.SetText(
        u"CAPTION.PLANE=Plane\nCAPTION.OUTPUT=Output\n"
        u"DIALOG.SAVEIMAGE.BADTYPE=bad type %s\nDIALOG.SAVEIMAGE.FAILED=cannot save %s: %s\n"
        u"DIALOG.PRINT.FAILED=cannot print %s");
    BindFlatQuad();
    main = std::make_unique<TMainForm>(in, env, prompts);
    host.attach(main.get());
    host.setGraphics(&g);
    env.EnvironmentReady = true;
    g.PlaneRedrawEnabled = true;
    g.PerspectiveProjection = false;
    g.CameraEyeX = 0, g.CameraEyeY = 0, g.CameraEyeZ = 100;
    g.CameraUpX = 0, g.CameraUpY = 1, g.CameraUpZ = 0;
    main->resize(1200, 900);
    main->openOutput();
    main->show();
    OpenPlane();
    EXPECT_EQ(RunText(in, ToCrLf(kFlatQuad), u"test"), rrOk);
  }
  ~PlaneWidgetTest() override {
    SetPlaneBufferRefusal({});
    SetMessageDialogRunner({});
    host.setGraphics(nullptr);
    host.attach(nullptr);
    main.reset();
  }

  void BindFlatQuad() {
    const int32_t index = static_cast<int32_t>(in.Routines.size());
    in.Routines.push_back([](TInterpreter& interp) -> TAtom* {
      TStructure& st = interp.S;
      const auto n = [&st](int32_t cell) { return static_cast<GLfloat>(TAtom::AsNumber(st, st.CellValue(cell))); };
      const GLfloat x = n(7), y = n(6), z = n(5), half = n(4) / 2;
      gl().glColor3ub(static_cast<GLubyte>(n(3)), static_cast<GLubyte>(n(2)), static_cast<GLubyte>(n(1)));
      gl().glBegin(GL_QUADS);
      gl().glVertex3f(x - half, y - half, z);
      gl().glVertex3f(x + half, y - half, z);
      gl().glVertex3f(x + half, y + half, z);
      gl().glVertex3f(x - half, y + half, z);
      gl().glEnd();
      return nullptr;
    });
    const TExternalBinder original = in.ExternalBinder;
    in.ExternalBinder = [index, original](TInterpreter& interp, TAtom& token) -> TBoundRoutine {
      if (UpperCase(token.Text) == u"DLL.TEST.FLATQUAD") return {ocPrimitive, index};
      if (!original) throw LanguageError(u"unbound " + token.Text.str());
      return original(interp, token);
    };
  }

  // Opens the plane with a 640 x 480 client area and waits for its context.
  void OpenPlane() {
    plane = main->openPlane();
    ASSERT_NE(plane, nullptr);
    SizeView(640, 480);
    ASSERT_TRUE(QTest::qWaitFor([this] { return plane->ready(); }, 5000)) << "no context";
    QTest::qWait(50);
  }
  void SizeView(int width, int height) {
    plane->resize(plane->size() + (QSize(width, height) - plane->view()->size()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return plane->view()->size() == QSize(width, height); }, 2000));
    QTest::qWait(30);
  }
  int Run(std::u16string_view text) { return RunText(in, ToCrLf(text), u"test"); }
  void Quad(const char16_t* name, int x, int y, int z, int size, int r, int gr, int b) {
    const std::u16string n(name);
    std::string numbers;
    for (int value : {x, y, z, size, r, gr, b}) numbers += QStringLiteral(" %1").arg(value).toStdString();
    const std::u16string program =
        u"make \"" + n + u" []\r\nmake \"" + n + u".ondrawimage [flatquad" + Utf8ToUtf16(numbers) + u"]\r\n";
    ASSERT_EQ(Run(program), rrOk);
  }
  static uint32_t Pixel(const PlanePicture& p, int x, int y) {
    const uint8_t* at = &p.Rgb[(static_cast<size_t>(y) * p.Width + x) * 3];
    return (uint32_t{at[0]} << 16) | (uint32_t{at[1]} << 8) | at[2];
  }
  std::string OutputText() const { return main->output() ? main->output()->Text().toStdString() : ""; }

  EnvironmentHost host;
  TStructure s;
  EnvState env;
  TInterpreter in;
  Graphics g;
  PlanePrompts prompts;
  std::unique_ptr<TMainForm> main;
  TPlane* plane = nullptr;
};

TEST_F(PlaneWidgetTest, TheSceneShowsExactColoursAtKnownPixels) {
  Quad(u"red", -100, 0, 0, 40, 255, 0, 0);
  Quad(u"green", 100, 50, 0, 40, 0, 255, 0);
  g.paintResume();
  const PlanePicture p = plane->capturePicture();
  ASSERT_EQ(p.Width, 640);
  ASSERT_EQ(p.Height, 480);
  EXPECT_EQ(Pixel(p, 220, 240), 0xFF0000u);
  EXPECT_EQ(Pixel(p, 420, 190), 0x00FF00u);
  EXPECT_EQ(Pixel(p, 5, 5), 0xFFFFFFu);
  EXPECT_EQ(Pixel(p, 639, 479), 0xFFFFFFu);
}

TEST_F(PlaneWidgetTest, ResizingRedrawsTheScene) {
  Quad(u"red", 0, 0, 0, 40, 255, 0, 0);
  g.paintResume();
  SizeView(400, 300);
  QTest::qWait(100);
  const PlanePicture p = plane->capturePicture();
  ASSERT_EQ(p.Width, 400);
  EXPECT_EQ(Pixel(p, 200, 150), 0xFF0000u);
  EXPECT_EQ(Pixel(p, 150, 150), 0xFFFFFFu);
}

TEST_F(PlaneWidgetTest, SingleBufferedDrawingIsShownByPresentingTheFront) {
  g.DoubleBuffered = false;
  plane->setResizable(false);
  {
    const GraphicsEntry entry(g);
    ASSERT_TRUE(entry.Live());
    gl().glDrawBuffer(GL_FRONT);
    gl().glClearColor(0, 0, 1, 1);
    gl().glClear(GL_COLOR_BUFFER_BIT);
    plane->presentFront();
  }
  const QImage shown = plane->view()->grabFramebuffer();
  EXPECT_EQ(shown.pixel(320, 240) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(plane->minimumSize(), plane->maximumSize());
}

TEST_F(PlaneWidgetTest, PickingAnOverlapNamesBothAndTheNearestIsTheFront) {
  Quad(u"back", 0, 0, -20, 60, 0, 0, 255);
  Quad(u"front", 0, 0, 20, 60, 255, 0, 0);
  g.paintResume();
  // The root's newest child is drawn first.
  EXPECT_EQ(PickAll(g, 320, 240, 0, 2), (std::vector<std::u16string>{u"front", u"back"}));
  EXPECT_EQ(PickNearest(g, 320, 240, 0, 2, nullptr), std::u16string(u"front"));
  EXPECT_TRUE(PickAll(g, 10, 10, 0, 2).empty());
  // The projection came back: the scene still draws where it did.
  EXPECT_EQ(Pixel(plane->capturePicture(), 320, 240), 0xFF0000u);
}

TEST_F(PlaneWidgetTest, ACentreClickRunsDownClickAndUpInOrder) {
  ASSERT_EQ(Run(u"to onmousedown :a :b :c :d :e\r\n(print \"down :a :b :c :d :e)\r\nend\r\n"
                u"to onmouseclick :a :b :c :d :e\r\n(print \"click :a :b :c :d :e)\r\nend\r\n"
                u"to onmouseup :a :b :c :d :e\r\n(print \"up :a :b :c :d :e)\r\nend\r\n"),
            rrOk);
  QTest::mouseClick(plane->view(), Qt::LeftButton, Qt::NoModifier, QPoint(320, 240));
  EXPECT_EQ(OutputText(), "down 0 0 320 240 8\nclick 0 0 320 240 8\nup 0 0 320 240 0");
  // Keys typed on the plane go to the keyboard buffer.
  QTest::keyClicks(plane->view(), QStringLiteral("ab"));
  EXPECT_EQ(s.KeyBuffer, u"ab");
}

TEST_F(PlaneWidgetTest, IdleAfterSettlingPaintsNothing) {
  Quad(u"red", 0, 0, 0, 40, 255, 0, 0);
  g.paintResume();
  QTest::qWait(200);
  const int64_t settled = plane->LastFrameTick();
  QTest::qWait(300);
  EXPECT_EQ(plane->LastFrameTick(), settled);
  // Once the window is up, each frame is shown as it is presented, also
  // with no event loop running (as inside a run).
  const int late = plane->LatePresents();
  for (int i = 0; i < 5; ++i) g.redrawScene();
  EXPECT_EQ(plane->LatePresents(), late);
}

TEST_F(PlaneWidgetTest, ClosingLeavesTheNullBackEndAndReopeningRegainsTheScene) {
  Quad(u"red", 0, 0, 0, 40, 255, 0, 0);
  g.paintResume();
  plane->close();
  QTest::qWait(50);
  EXPECT_EQ(g.plane(), nullptr);
  EXPECT_EQ(&GLBase(), &NullGL());
  EXPECT_EQ(main->plane(), nullptr);
  EXPECT_EQ(Run(u"make \"red.size 1"), rrOk);  // drawing without a plane is harmless
  OpenPlane();
  g.paintResume();
  EXPECT_EQ(Pixel(plane->capturePicture(), 320, 240), 0xFF0000u);
}

TEST_F(PlaneWidgetTest, AFormatSwitchKeepsListsAndPixels) {
  Quad(u"red", 0, 0, 0, 40, 255, 0, 0);
  g.paintResume();
  const uint32_t red = s.FindName(u"red")->Identity();
  plane->RecreateContext(2);
  {
    const GraphicsEntry entry(g);
    ASSERT_TRUE(entry.Live());
    EXPECT_TRUE(gl().glIsList(red));
  }
  EXPECT_TRUE(g.HasList(red));
  EXPECT_EQ(Pixel(plane->capturePicture(), 320, 240), 0xFF0000u);
}

TEST_F(PlaneWidgetTest, SavedPicturesDecodeToTheCapturedPixels) {
  Quad(u"red", -100, 0, 0, 40, 255, 0, 0);
  Quad(u"green", 300, -220, 0, 40, 0, 255, 0);  // reaches the last column and row
  g.paintResume();
  const PlanePicture captured = plane->capturePicture();
  ASSERT_EQ(Pixel(captured, 639, 479), 0x00FF00u);
  QTemporaryDir folder;
  for (const char* name : {"p.bmp", "p.png", "p.gif", "p.jpg"}) {
    SCOPED_TRACE(name);
    const QString path = folder.filePath(QString::fromLatin1(name));
    EXPECT_EQ(plane->savePicture(captured, path.toStdU16String(), 90, false), "");
    const PlanePicture read = PictureOfImage(QImage(path));
    ASSERT_EQ(read.Width, captured.Width);
    ASSERT_EQ(read.Height, captured.Height);
    if (std::string(name) != "p.jpg") {
      EXPECT_TRUE(read.Rgb == captured.Rgb);
      continue;
    }
    // JPEG: within 8 away from the edges of the quads.
    for (const auto& [x, y] : {std::pair{220, 240}, std::pair{10, 10}, std::pair{630, 470}}) {
      const uint32_t a = Pixel(read, x, y), b = Pixel(captured, x, y);
      for (int shift : {0, 8, 16})
        EXPECT_LE(std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)), 8) << x << "," << y;
    }
  }
}

TEST_F(PlaneWidgetTest, SaveAsAsksWithTheJpegEntryAndReportsBadTypesAndFailures) {
  QTemporaryDir folder;
  const QString existing = folder.filePath(QStringLiteral("keep.gif"));
  {
    QFile file(existing);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("old");
  }
  // Closes the message the save shows, keeping its text.
  QString shown;
  const auto closeDialog = [&shown] {
    shown.clear();
    QTimer::singleShot(200, [&shown] {
      if (QWidget* dialog = QApplication::activeModalWidget()) {
        for (const QLabel* label : dialog->findChildren<QLabel*>()) shown += label->text();
        dialog->close();
      }
    });
  };
  prompts.SaveAnswer = folder.filePath(QStringLiteral("p.tif"));
  closeDialog();
  plane->SaveImageAs();
  EXPECT_EQ(prompts.FilterAsked, sfJpeg);
  EXPECT_EQ(main->saveDialog().FilterEntry(), sfZavta);
  EXPECT_FALSE(QFile::exists(*prompts.SaveAnswer));
  EXPECT_TRUE(shown.contains(QStringLiteral("bad type .tif"))) << shown.toStdString();

  prompts.SaveAnswer = folder.filePath(QStringLiteral("no/such/folder/p.png"));
  closeDialog();
  plane->SaveImageAs();
  EXPECT_TRUE(shown.startsWith(QStringLiteral("cannot save ") + *prompts.SaveAnswer)) << shown.toStdString();

  // A write that fails leaves the existing file as it was.
  EXPECT_NE(plane->savePicture(PlanePicture{}, existing.toStdU16String(), 90, false), "");
  QFile file(existing);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), QByteArray("old"));
}

TEST_F(PlaneWidgetTest, PrintingToPdfPutsThePictureInTheComputedRectangleOfOnePage) {
  Quad(u"red", 0, 0, 0, 40, 255, 0, 0);
  g.paintResume();
  QTemporaryDir folder;
  prompts.PdfPath = folder.filePath(QStringLiteral("plane.pdf"));
  plane->PrintPlane();
  QFile pdf(prompts.PdfPath);
  ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
  const QByteArray bytes = pdf.readAll();
  EXPECT_TRUE(bytes.startsWith("%PDF"));
  EXPECT_EQ(bytes.count("/Type /Page\n") + bytes.count("/Type /Page\r") + bytes.count("/Type /Page "), 1);

  const std::optional<PdfImage> image = ReadPdfImage(bytes);
  ASSERT_TRUE(image.has_value());
  // The rectangle on the printable area, in points from the paper's corner.
  const QRectF page = prompts.PageRect;
  const PrintRect r = PrintGeometry(640, 480, qRound(page.width()), qRound(page.height()));
  const double points = 72.0 / prompts.Resolution;
  const QRectF expected((page.x() + r.Left) * points, (page.y() + r.Top) * points, r.Width * points, r.Height * points);
  const QRectF placed = image->Placement;
  for (const auto& [got, want] :
       {std::pair{placed.left(), expected.left()}, std::pair{placed.top(), expected.top()},
        std::pair{placed.width(), expected.width()}, std::pair{placed.height(), expected.height()}})
    EXPECT_NEAR(got, want, 0.01) << "placed " << placed.x() << "," << placed.y() << " " << placed.width() << "x"
                                 << placed.height();
  // The picture itself, whole (JPEG: within 8 away from the quad's edges).
  const PlanePicture printed = PictureOfImage(image->Pixels);
  ASSERT_EQ(printed.Width, 640);
  ASSERT_EQ(printed.Height, 480);
  for (const auto& [x, y, colour] :
       {std::tuple{320, 240, 0xFF0000u}, std::tuple{5, 5, 0xFFFFFFu}, std::tuple{639, 479, 0xFFFFFFu}}) {
    const uint32_t got = Pixel(printed, x, y);
    for (int shift : {0, 8, 16})
      EXPECT_LE(std::abs(int((got >> shift) & 0xFF) - int((colour >> shift) & 0xFF)), 8) << x << "," << y;
  }
}

TEST_F(PlaneWidgetTest, CopyPutsThePictureOnTheClipboard) {
  Quad(u"red", 0, 0, 0, 40, 255, 0, 0);
  g.paintResume();
  const PlanePicture captured = plane->capturePicture();
  plane->CopyToClipboard();
  const PlanePicture pasted = PictureOfImage(QGuiApplication::clipboard()->image());
  EXPECT_EQ(pasted.Width, captured.Width);
  EXPECT_TRUE(pasted.Rgb == captured.Rgb);
}

}  // namespace

namespace {

// Run with QT_SCALE_FACTOR=2 (its own test): sizes and click numbers are
// device pixels; without the factor it checks the same at scale 1.
TEST_F(PlaneWidgetTest, SizesAndClicksAreInDevicePixels) {
  const qreal ratio = plane->view()->devicePixelRatioF();
  SizeView(static_cast<int>(640 / ratio), static_cast<int>(480 / ratio));
  const PlaneSize size = plane->clientSize();
  EXPECT_EQ(size.Width, 640);
  EXPECT_EQ(size.Height, 480);
  ASSERT_EQ(Run(u"to onmousedown :a :b :c :d :e\r\n(print \"down :a :b :c :d :e)\r\nend\r\n"), rrOk);
  QTest::mousePress(plane->view(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(static_cast<int>(320 / ratio), static_cast<int>(240 / ratio)));
  QTest::mouseRelease(plane->view(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(static_cast<int>(320 / ratio), static_cast<int>(240 / ratio)));
  EXPECT_EQ(OutputText(), "down 0 0 320 240 8");
  Quad(u"red", 0, 0, 0, 40, 255, 0, 0);
  g.paintResume();
  const PlanePicture p = plane->capturePicture();
  EXPECT_EQ(p.Width, 640);
  EXPECT_EQ(Pixel(p, 320, 240), 0xFF0000u);
  if (qEnvironmentVariableIsSet("ZAVTA_EXPECT_SCALE")) {
    EXPECT_EQ(ratio, qEnvironmentVariable("ZAVTA_EXPECT_SCALE").toDouble());
  }
}

}  // namespace

namespace {

TEST_F(PlaneWidgetTest, TheFormatListOffersSoftwareOnlyWithTheDefaultChecked) {
  QTemporaryDir folder;
  env.UserFolder = (folder.path() + u'/').toStdU16String();
  QMenu advanced;
  QAction hardware(QStringLiteral("Hardware")), software(QStringLiteral("Software (emulated)"));
  g.PixelFormatIndex = 9999;  // not listed: counts as none
  BuildPixelFormatMenu(*main, g, {&advanced, &hardware, &software});
  ASSERT_NE(g.PixelFormatIndex, 0);
  EXPECT_EQ(g.PixelFormatIndex, ChooseDefaultFormat(EnumeratePixelFormats()));
  EXPECT_FALSE(hardware.isEnabled());
  EXPECT_TRUE(software.isEnabled());

  QFile log(folder.filePath(QStringLiteral("opengl.log")));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = log.readAll().split('\n');
  ASSERT_GE(lines.size(), 4);
  EXPECT_EQ(lines[0], QByteArray(kPixelFormatHeader));
  EXPECT_EQ(lines[1], QByteArray(75, '-'));
  int checked = 0;
  for (qsizetype i = 2; i + 1 < lines.size(); ++i) {
    EXPECT_EQ(lines[i].mid(5, 8), "Software") << lines[i].toStdString();
    EXPECT_FALSE(lines[i].contains('\r'));
  }
  for (const QAction* item : advanced.actions())
    if (item->isChecked()) {
      ++checked;
      EXPECT_EQ(item->data().toInt(), g.PixelFormatIndex);
    }
  EXPECT_EQ(checked, 1);
  EXPECT_TRUE(lines.back().isEmpty());  // the last line ends in LF too
}

}  // namespace

namespace {

TEST(PlaneGif, ManyColoursAreQuantisedAndAnEmptyPictureIsRefused) {
  PlanePicture picture;
  picture.Width = 64;
  picture.Height = 32;
  for (int i = 0; i < 64 * 32; ++i)
    picture.Rgb.insert(picture.Rgb.end(), {uint8_t(i * 4), uint8_t(i / 8), uint8_t(255 - i % 256)});
  QTemporaryDir folder;
  const QString path = folder.filePath(QStringLiteral("many.gif"));
  EXPECT_EQ(SavePictureFile(picture, path, PictureType::Gif, 90), "");
  const QImage read(path);
  EXPECT_EQ(read.size(), QSize(64, 32));
  EXPECT_NE(SavePictureFile(PlanePicture{}, path, PictureType::Gif, 90), "");
  EXPECT_EQ(QImage(path).size(), QSize(64, 32));  // the first file stays
}

}  // namespace

namespace {

TEST(PlanePrint, ThePictureFillsTheComputedRectangleOfThePage) {
  QImage page(480, 660, QImage::Format_RGB32);
  page.fill(Qt::white);
  QImage picture(60, 40, QImage::Format_RGB32);
  picture.fill(Qt::red);
  QPainter painter(&page);
  const PrintRect r = DrawPictureOnPage(painter, page.size(), picture);
  painter.end();
  EXPECT_EQ((std::array<int, 4>{r.Left, r.Top, r.Width, r.Height}), (std::array<int, 4>{24, 186, 432, 288}));
  for (const auto& [x, y, red] : {std::tuple{24, 186, true}, std::tuple{455, 473, true}, std::tuple{23, 186, false},
                                  std::tuple{24, 185, false}, std::tuple{456, 300, false}, std::tuple{100, 474, false}})
    EXPECT_EQ(page.pixel(x, y) == QColor(Qt::red).rgb(), red) << x << "," << y;
}

}  // namespace

namespace {

TEST_F(PlaneWidgetTest, AnIncompleteFramebufferIsReportedAndNothingIsKept) {
  plane->view()->makeCurrent();
  QOpenGLExtraFunctions f(plane->view()->context());
  GLint largest = 0;
  f.glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &largest);
  PlaneBuffers buffers;
  EXPECT_FALSE(buffers.Create(f, largest + 1, 4, PlaneBufferFormat{}, 0xFFFFFF));
  EXPECT_FALSE(buffers.Exists());
  while (f.glGetError() != GL_NO_ERROR) {
  }
  EXPECT_TRUE(buffers.Create(f, 8, 4, PlaneBufferFormat{}, 0xFFFFFF));
  buffers.Destroy(f);
  EXPECT_FALSE(buffers.Exists());
}

}  // namespace

namespace {

// Formats without stencil bits stand for ones the driver refuses; the
// default format has 8.
TEST_F(PlaneWidgetTest, ARefusedFormatIsReportedOnceThenTheDefaultOrNothingDraws) {
  std::vector<QString> shown;
  SetMessageDialogRunner([&shown](TMsg& dialog) {
    shown.push_back(dialog.MessageText());
    return int{mrOk};
  });
  int refused = 0;
  for (const PixelFormatDesc& f : EnumeratePixelFormats())
    if (f.StencilBits == 0 && refused == 0) refused = f.Index;
  ASSERT_NE(refused, 0);
  Quad(u"red", 0, 0, 0, 40, 255, 0, 0);
  plane->close();
  SetPlaneBufferRefusal([](const PlaneBufferFormat& f) { return f.StencilBits == 0; });
  g.PixelFormatIndex = refused;
  OpenPlane();
  g.paintResume();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.empty(); }, 1000));
  EXPECT_TRUE(shown[0].startsWith(QStringLiteral("SetPixelFormat failed."))) << shown[0].toStdString();
  SizeView(500, 400);  // the buffers are made again: no second box
  QTest::qWait(50);
  EXPECT_EQ(Pixel(plane->capturePicture(), 250, 200), 0xFF0000u);
  EXPECT_EQ(shown.size(), 1u);

  // Every format refused: the null back-end, and drawing, picking, painting
  // and resizing are harmless.
  SetPlaneBufferRefusal([](const PlaneBufferFormat&) { return true; });
  plane->RecreateContext(refused);
  EXPECT_FALSE(plane->ready());
  EXPECT_EQ(&GLBase(), &NullGL());
  EXPECT_EQ(Run(u"make \"red.size 30"), rrOk);
  EXPECT_TRUE(PickAll(g, 250, 200, 0, 2).empty());
  SizeView(400, 300);
  QTest::qWait(50);
  EXPECT_EQ(Pixel(plane->capturePicture(), 200, 150), 0xFFFFFFu);
  EXPECT_EQ(shown.size(), 2u);  // one for the new choice

  // A format the driver takes brings the scene back.
  SetPlaneBufferRefusal({});
  plane->RecreateContext(ChooseDefaultFormat(EnumeratePixelFormats()));
  EXPECT_TRUE(plane->ready());
  g.paintResume();
  EXPECT_EQ(Pixel(plane->capturePicture(), 200, 150), 0xFF0000u);
  EXPECT_EQ(shown.size(), 2u);
}

TEST_F(PlaneWidgetTest, ADoubleClicksSecondPressIsADownWith64AndNoClick) {
  ASSERT_EQ(Run(u"to onmousedown :a :b :c :d :e\r\n(print \"down :e)\r\nend\r\n"
                u"to onmouseclick :a :b :c :d :e\r\n(print \"click :e)\r\nend\r\n"
                u"to onmouseup :a :b :c :d :e\r\n(print \"up :e)\r\nend\r\n"),
            rrOk);
  // The system's order: press, release, the double-click press, release.
  QWidget* view = plane->view();
  QTest::mousePress(view, Qt::LeftButton, Qt::ShiftModifier, QPoint(10, 10));
  QTest::mouseRelease(view, Qt::LeftButton, Qt::ShiftModifier, QPoint(10, 10));
  QTest::mouseDClick(view, Qt::LeftButton, Qt::ShiftModifier, QPoint(10, 10));
  QTest::mouseRelease(view, Qt::LeftButton, Qt::ShiftModifier, QPoint(10, 10));
  EXPECT_EQ(OutputText(), "down 9\nclick 9\nup 1\ndown 73\nup 1");
}

}  // namespace

namespace {

TEST_F(PlaneWidgetTest, APaintWaitsForAnOpenListToClose) {
  Quad(u"red", 0, 0, 0, 40, 255, 0, 0);
  g.paintResume();
  QTest::qWait(100);
  const int64_t before = plane->LastFrameTick();
  ++g.ListCompileDepth;
  plane->Paint();
  plane->presentFrame();
  EXPECT_EQ(plane->LastFrameTick(), before);
  --g.ListCompileDepth;
  EXPECT_TRUE(QTest::qWaitFor([&] { return plane->LastFrameTick() != before; }, 1000));
}

TEST_F(PlaneWidgetTest, TheRegenerationTimerPressesStopForARequestedHaltWhenIdle) {
  s.HaltRequested = true;
  in.RunState = rsRunning;
  plane->StartRegenerateTimer();
  QTest::qWait(50);
  EXPECT_TRUE(s.HaltRequested);  // a running program redraws and halts itself
  in.RunState = rsIdle;
  plane->StartRegenerateTimer();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !s.HaltRequested; }, 1000));
}

}  // namespace

namespace {

// Run on the offscreen platform (its own test): no X11 display, no GLX.
TEST(PlaneFormatsWithoutGlx, OneEntryFromTheSurfaceFormatIsTheDefault) {
  if (QGuiApplication::platformName() != QStringLiteral("offscreen")) GTEST_SKIP() << "needs the offscreen platform";
  const std::vector<PixelFormatDesc> formats = EnumeratePixelFormats();
  ASSERT_EQ(formats.size(), 1u);
  EXPECT_EQ(formats[0].Index, 1);
  EXPECT_EQ(formats[0].DepthBits, 24);
  EXPECT_EQ(formats[0].StencilBits, 8);
  EXPECT_TRUE(formats[0].DoubleBuffered);
  EXPECT_EQ(ChooseDefaultFormat(formats), 1);
  EXPECT_EQ(BufferFormatOf(formats, 1).DepthBits, 24);
}

}  // namespace
