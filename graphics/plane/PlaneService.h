#pragma once
// The plane's services for the environment over the real plane window: the
// GLX pixel-format menu, the plane opened through the View item's steps, a
// new rendering context for another format, and its paint.

#include "environment/EnvServices.h"

class TPlaneServices : public PlaneServices {
public:
  void buildPixelFormatMenu(TMainForm& main, const PixelFormatMenuTargets& targets) override;
  bool openPlane(TMainForm& main) override;
  void closePlane(TMainForm& main) override;
  bool isOpen(TMainForm& main) override;
  void recreateContext(TMainForm& main, int pixelFormatIndex) override;
  void paint(TMainForm& main) override;
};
