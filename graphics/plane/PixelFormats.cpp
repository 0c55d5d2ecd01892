#include "graphics/plane/PixelFormats.h"

#include <QAction>
#include <QActionGroup>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QSurfaceFormat>

#include "core/Host.h"
#include "environment/EnvState.h"
#include "environment/Main.h"
#include "graphics/Graphics.h"
#include "graphics/plane/GlxFormats.h"

namespace {

// GL_RENDERER of the process's driver, read once: on the current context,
// else on a context of its own that leaves none current behind. "" when no
// context can be made.
std::string RendererName() {
  static const std::string name = [] {
    const auto read = [] {
      const auto* text =
          reinterpret_cast<const char*>(QOpenGLContext::currentContext()->functions()->glGetString(GL_RENDERER));
      return std::string(text != nullptr ? text : "");
    };
    if (QOpenGLContext::currentContext() != nullptr) return read();
    QOpenGLContext context;
    QOffscreenSurface surface;
    surface.create();
    if (!context.create() || !context.makeCurrent(&surface)) return std::string();
    const std::string renderer = read();
    context.doneCurrent();
    return renderer;
  }();
  return name;
}

// The one entry of a platform without GLX: the default surface format.
std::vector<PixelFormatDesc> SurfaceFormat() {
  const QSurfaceFormat surface = QSurfaceFormat::defaultFormat();
  PixelFormatDesc f;
  f.Index = 1;
  f.DepthBits = surface.depthBufferSize();
  f.RedBits = std::max(surface.redBufferSize(), 8);
  f.GreenBits = std::max(surface.greenBufferSize(), 8);
  f.BlueBits = std::max(surface.blueBufferSize(), 8);
  f.AlphaBits = std::max(surface.alphaBufferSize(), 0);
  f.StencilBits = std::max(surface.stencilBufferSize(), 0);
  f.DoubleBuffered = surface.swapBehavior() != QSurfaceFormat::SingleBuffer;
  f.Software = IsSoftwareRenderer(std::nullopt, RendererName());
  return {f};
}

}  // namespace

std::vector<PixelFormatDesc> EnumeratePixelFormats() {
  if (auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr)
    if (void* display = x11->display()) return GlxFormats(display, RendererName);
  return SurfaceFormat();
}

PlaneBufferFormat BufferFormatOf(const std::vector<PixelFormatDesc>& formats, int index) {
  for (const PixelFormatDesc& f : formats)
    if (f.Index == index) return {f.DepthBits, f.StencilBits, f.AlphaBits > 0};
  return {};
}

void BuildPixelFormatMenu(TMainForm& main, Graphics& g, const PixelFormatMenuTargets& targets) {
  EnvState& env = main.env();
  const std::vector<PixelFormatDesc> formats = EnumeratePixelFormats();
  g.PixelFormatIndex = ResolvePixelFormatIndex(formats, g.PixelFormatIndex);
  if (g.PixelFormatIndex == 0) {
    main.showMessage(QString::fromStdU16String(env.LanguageTexts.GetValueOrKey(u"SYSTEMERROR")) +
                         QStringLiteral(" ChoosePixelFormat failed"),
                     QString(), dfOk);
    return;
  }
  const PixelFormatModel model = BuildPixelFormatModel(formats, g.PixelFormatIndex);
  if (!env.UserFolder.empty()) {
    QFile log(QString::fromStdU16String(env.UserFolder + u"opengl.log"));
    if (log.open(QIODevice::WriteOnly | QIODevice::Truncate)) log.write(PixelFormatLogText(model).c_str());
  }
  if (targets.AdvancedMode != nullptr) {
    auto* group = new QActionGroup(targets.AdvancedMode);
    for (const PixelFormatItem& item : model.Items) {
      if (item.Separator) {
        targets.AdvancedMode->addSeparator();
        continue;
      }
      QAction* action = targets.AdvancedMode->addAction(QString::fromStdString(item.Caption));
      action->setData(item.Tag);
      action->setCheckable(true);
      action->setChecked(item.Checked);
      action->setActionGroup(group);
      action->setFont(QFont(QStringLiteral("Monospace")));
    }
  }
  const auto setUp = [](QAction* action, int tag, bool checked) {
    if (action == nullptr) return;
    action->setData(tag);
    action->setCheckable(true);
    action->setChecked(checked);
    action->setEnabled(tag != 0);
  };
  setUp(targets.Hardware, model.HardwareTag, model.HardwareChecked);
  setUp(targets.Software, model.SoftwareTag, model.SoftwareChecked);
}
