#pragma once
// The pixel formats the plane offers: the GLX framebuffer configurations
// of the display (RGBA, drawable to a window with a visual, no samples,
// not float), each distinct line once, at most 128, numbered from 1; on a
// platform other than xcb one entry made from the default surface format.
// The menu builder picks the format in use, fills Graphics > Advanced mode
// and writes opengl.log into the user folder.

#include <QString>
#include <vector>

#include "graphics/PixelFormatMenu.h"
#include "graphics/plane/PlaneBuffers.h"

class Graphics;
class QAction;
class QMenu;
class TMainForm;

std::vector<PixelFormatDesc> EnumeratePixelFormats();

struct PixelFormatMenuTargets {
  QMenu* AdvancedMode = nullptr;  // null: no menu, only the choice and the log
  QAction* Hardware = nullptr;
  QAction* Software = nullptr;
};
// Chooses the format (a stored index not listed counts as none), builds the
// menu and writes opengl.log (going on without it when it cannot be
// written). No format at all: the SYSTEMERROR message.
void BuildPixelFormatMenu(TMainForm& main, Graphics& g, const PixelFormatMenuTargets& targets);
// The buffers of the format with the index (the default buffers when it is
// not listed).
PlaneBufferFormat BufferFormatOf(const std::vector<PixelFormatDesc>& formats, int index);
