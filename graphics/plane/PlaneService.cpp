#include "graphics/plane/PlaneService.h"

#include <cmath>

#include "core/Trans.h"
#include "environment/Main.h"
#include "graphics/Graphics.h"
#include "graphics/plane/PixelFormats.h"
#include "graphics/plane/PlnWin.h"

namespace {

uint32_t Channel(long double component) {
  const long double value = std::nearbyint(component * 255.0L);
  return value < 0 ? 0u : value > 255 ? 255u : static_cast<uint32_t>(value);
}

}  // namespace

void TPlaneServices::buildPixelFormatMenu(TMainForm& main, const PixelFormatMenuTargets& targets) {
  BuildPixelFormatMenu(main, Graphics::Of(main.interpreter()), targets);
}

bool TPlaneServices::openPlane(TMainForm& main) {
  TPlane* plane = main.openPlane();
  if (plane == nullptr) return false;
  Graphics& g = plane->graphics();
  // The background is the clear colour, as the drawing code sets it.
  plane->setBackground(Channel(g.ClearColorR) | (Channel(g.ClearColorG) << 8) | (Channel(g.ClearColorB) << 16));
  plane->Paint();
  plane->applySettings();
  GuardCoreEntry(main.interpreter(), [&main, &g] {
    g.paintResume();
    RedrawScene(main.interpreter());
  });
  return true;
}

void TPlaneServices::closePlane(TMainForm& main) {
  if (TPlane* plane = main.plane()) plane->close();
}

bool TPlaneServices::isOpen(TMainForm& main) { return main.plane() != nullptr; }

void TPlaneServices::recreateContext(TMainForm& main, int pixelFormatIndex) {
  if (TPlane* plane = main.plane()) plane->RecreateContext(pixelFormatIndex);
}

void TPlaneServices::paint(TMainForm& main) {
  if (TPlane* plane = main.plane()) plane->Paint();
}
