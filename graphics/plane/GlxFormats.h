#pragma once
// The GLX framebuffer configurations of an X display as the plane lists
// them (see PixelFormats.h).

#include <functional>
#include <string>
#include <vector>

#include "graphics/PixelFormatMenu.h"

// display: the X11 Display of the application; rendererName: GL_RENDERER,
// asked only when the driver cannot say itself whether it is accelerated.
std::vector<PixelFormatDesc> GlxFormats(void* display, const std::function<std::string()>& rendererName);
