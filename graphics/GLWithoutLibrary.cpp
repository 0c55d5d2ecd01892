// The library table of a program that never makes a GL context (zavrun):
// calls that do nothing, so that no GL library is loaded at start-up. Its
// drawing goes to the null table anyway; this is where a call made outside
// a graphics entry ends, as one into the GL library without a current
// context would.

#include "graphics/GLNullTable.h"
#include "graphics/ZavOpenGL.h"

namespace {

constexpr GLProcTable TableWithoutLibrary() {
  GLProcTable table = kNullGLTable;
  table.DrawSphereBands = DrawSphereBands;
  table.CreateBitmapFontLists = zavgl_detail::CreateInstalledBitmapFontLists;
  return table;
}

}  // namespace

constinit const GLProcTable zavgl_detail::kLibraryTable = TableWithoutLibrary();
