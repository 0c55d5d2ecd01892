#pragma once
// A GL back-end for tests: every entry logs its call as text
// ("glCallList(17)", "glEnable(GL_DEPTH_TEST)", "glVertex3f(1, 0.5, 0)") and
// keeps just enough state to answer what the drawing code asks: display
// lists, the render mode and the name stack, matrix stack depths, errors and
// the values of glGetIntegerv/glGetFloatv. Enumerations print by name
// (GLEnumName), glBegin's mode by primitive name, glClear's mask and
// bit-like values in hexadecimal, numbers in their shortest form, arrays as
// "[a b c]".
//
// The state is global, as the table's entries are plain functions. Use it
// as the base (SetGLBase(FakeGL::Table())), or through UseFakeGL.

#include <GL/gl.h>

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "graphics/ZavOpenGL.h"

namespace FakeGL {

// Forgets every call and list and restores the default state.
void Reset();
const GLProcTable& Table();

// Every call since Reset, in order.
const std::vector<std::string>& Calls();
// The calls without those of the named entries (e.g. {"glGetError"}).
std::vector<std::string> CallsExcept(std::initializer_list<std::string_view> names);
// How many calls the named entry got.
size_t CountOf(std::string_view name);
void ClearCalls();

// --- display lists -------------------------------------------------------------
// The lists that exist (closed by glEndList, or made by the font routine).
const std::set<GLuint>& Lists();
bool HasList(GLuint list);
// The calls issued while the list was being compiled (glNewList and
// glEndList excluded); empty for an unknown list.
std::vector<std::string> ListCalls(GLuint list);
// The list being compiled, if any.
std::optional<GLuint> OpenList();

// --- state ----------------------------------------------------------------------
GLenum RenderMode();
const std::vector<GLuint>& NameStack();
GLenum MatrixMode();
// Depth of the model-view, projection or texture stack (1 when nothing is
// pushed).
int MatrixDepth(GLenum mode);
bool InBeginEnd();
// The pixels of the last glTexImage2D (width * height * 4 bytes).
const std::vector<uint8_t>& LastTexImage();

// --- answers ----------------------------------------------------------------------
// Errors glGetError returns, oldest first, then 0. The fake queues its own
// (a nested glNewList: GL_INVALID_OPERATION) behind them.
void QueueError(GLenum error);
const std::deque<GLenum>& PendingErrors();
// The n-th glGetError from now (1: the next) answers the error, whatever
// is queued; the others answer as usual.
void FailAtCheck(size_t n, GLenum error);
// Values glGetIntegerv/glGetFloatv answer for a name (replacing the
// defaults: GL_VIEWPORT 0 0 640 480, GL_MODELVIEW_MATRIX and
// GL_PROJECTION_MATRIX identity, GL_MATRIX_MODE, GL_RENDER_MODE,
// GL_NAME_STACK_DEPTH, GL_LIST_INDEX and the stack depths from the state).
// Names with neither a set nor a default value are left unwritten.
void SetIntegers(GLenum name, std::vector<GLint> values);
void SetFloats(GLenum name, std::vector<GLfloat> values);
// What the glRenderMode that leaves GL_SELECT answers: the hit records are
// copied into the buffer of glSelectBuffer (as far as it holds them) and
// the hit count is returned.
void SetSelectionHits(GLint hitCount, std::vector<GLuint> records);

// --- the routine entries ------------------------------------------------------------
// The fake's bitmap-font routine (its entry 72): logs
// "CreateBitmapFontLists(Arial, 12, 1, 1000, 0)" and makes the lists
// firstList .. firstList+254. Install it as DirectGL's routine with
// InstallCreateBitmapFontLists(FakeGL::FontRoutine).
void FontRoutine(const char* faceName, GLint height, GLboolean bold, GLuint firstList, GLboolean italic);
// Entry 71 logs "DrawSphereBands(n, ...)" and then runs the real routine,
// whose calls come back to the fake as the base.

}  // namespace FakeGL

// For a test's scope: a reset fake as the base, direct mode, no null route;
// afterwards the recording is closed and DirectGL is the base again.
class UseFakeGL {
public:
  UseFakeGL();
  ~UseFakeGL();
  UseFakeGL(const UseFakeGL&) = delete;
  UseFakeGL& operator=(const UseFakeGL&) = delete;
};
