// Kept apart from Qt: the X11 headers define macros (None, Bool, Status)
// that Qt's headers also use as names.
#include "graphics/plane/GlxFormats.h"

#include <GL/glx.h>
#include <GL/glxext.h>

#include <optional>

namespace {

constexpr size_t kMaxFormats = 128;

// Mesa's answer whether the display's renderer is accelerated, given
// without a context; none from a driver without the query.
std::optional<bool> MesaAccelerated(Display* display) {
  using Query = Bool (*)(Display*, int, int, int, unsigned int*);
  auto query =
      reinterpret_cast<Query>(glXGetProcAddress(reinterpret_cast<const GLubyte*>("glXQueryRendererIntegerMESA")));
  unsigned int accelerated = 1;
  if (query == nullptr || !query(display, DefaultScreen(display), 0, GLX_RENDERER_ACCELERATED_MESA, &accelerated))
    return std::nullopt;
  return accelerated != 0;
}

bool SameColumns(const PixelFormatDesc& a, const PixelFormatDesc& b) {
  return a.DepthBits == b.DepthBits && a.RedBits == b.RedBits && a.GreenBits == b.GreenBits &&
         a.BlueBits == b.BlueBits && a.AlphaBits == b.AlphaBits && a.AccumBits == b.AccumBits &&
         a.StencilBits == b.StencilBits && a.DoubleBuffered == b.DoubleBuffered && a.DrawToWindow == b.DrawToWindow &&
         a.DrawToBitmap == b.DrawToBitmap && a.Software == b.Software && a.SwapCopy == b.SwapCopy &&
         a.SwapExchange == b.SwapExchange;
}

}  // namespace

std::vector<PixelFormatDesc> GlxFormats(void* connection, const std::function<std::string()>& rendererName) {
  auto* display = static_cast<Display*>(connection);
  std::vector<PixelFormatDesc> formats;
  int count = 0;
  GLXFBConfig* configs = glXGetFBConfigs(display, DefaultScreen(display), &count);
  if (configs == nullptr) return formats;
  const std::optional<bool> accelerated = MesaAccelerated(display);
  const bool software = IsSoftwareRenderer(accelerated, accelerated ? std::string() : rendererName());
  for (int i = 0; i < count && formats.size() < kMaxFormats; ++i) {
    const auto get = [&](int attribute) {
      int value = 0;
      glXGetFBConfigAttrib(display, configs[i], attribute, &value);
      return value;
    };
    const int drawable = get(GLX_DRAWABLE_TYPE);
    if (get(GLX_RENDER_TYPE) != GLX_RGBA_BIT || (drawable & GLX_WINDOW_BIT) == 0 || get(GLX_VISUAL_ID) == 0 ||
        get(GLX_SAMPLES) != 0)
      continue;
    PixelFormatDesc f;
    f.DepthBits = get(GLX_DEPTH_SIZE);
    f.RedBits = get(GLX_RED_SIZE);
    f.GreenBits = get(GLX_GREEN_SIZE);
    f.BlueBits = get(GLX_BLUE_SIZE);
    f.AlphaBits = get(GLX_ALPHA_SIZE);
    f.AccumBits =
        get(GLX_ACCUM_RED_SIZE) + get(GLX_ACCUM_GREEN_SIZE) + get(GLX_ACCUM_BLUE_SIZE) + get(GLX_ACCUM_ALPHA_SIZE);
    f.StencilBits = get(GLX_STENCIL_SIZE);
    f.DoubleBuffered = get(GLX_DOUBLEBUFFER) != 0;
    f.DrawToWindow = true;
    f.DrawToBitmap = (drawable & GLX_PIXMAP_BIT) != 0;
    f.Software = software;
    const int swap = get(GLX_SWAP_METHOD_OML);
    f.SwapCopy = swap == GLX_SWAP_COPY_OML;
    f.SwapExchange = swap == GLX_SWAP_EXCHANGE_OML;
    bool seen = false;
    for (const PixelFormatDesc& other : formats) seen = seen || SameColumns(other, f);
    if (seen) continue;
    f.Index = static_cast<int>(formats.size()) + 1;
    formats.push_back(f);
  }
  XFree(configs);
  return formats;
}
