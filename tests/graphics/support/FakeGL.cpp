#include "tests/graphics/support/FakeGL.h"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <utility>

#include "tests/graphics/support/GLNames.h"

namespace {

constexpr GLint kDefaultViewport[4] = {0, 0, 640, 480};
constexpr int kModelViewStackMax = 32;
constexpr int kProjectionStackMax = 32;
constexpr int kTextureStackMax = 10;
constexpr int kFontGlyphLists = 255;  // character codes 0..254

struct FakeState {
  std::vector<std::string> calls;
  std::set<GLuint> lists;
  std::map<GLuint, std::vector<std::string>> listCalls;
  std::optional<GLuint> openList;
  std::vector<std::string> compiling;  // the calls of the open list
  GLenum renderMode = GL_RENDER;
  std::vector<GLuint> names;
  GLenum matrixMode = GL_MODELVIEW;
  int modelViewDepth = 1;
  int projectionDepth = 1;
  int textureDepth = 1;
  bool inBeginEnd = false;
  std::vector<uint8_t> lastTexImage;
  std::deque<GLenum> errors;
  std::map<GLenum, std::vector<GLint>> integers;
  std::map<GLenum, std::vector<GLfloat>> floats;
  GLint viewport[4] = {kDefaultViewport[0], kDefaultViewport[1], kDefaultViewport[2], kDefaultViewport[3]};
  GLuint* selectBuffer = nullptr;
  GLsizei selectSize = 0;
  GLint hitCount = 0;
  std::vector<GLuint> hitRecords;
  std::map<size_t, GLenum> failingChecks;  // glGetError calls to come (1 = the next) and their errors
  size_t checksMade = 0;                   // glGetError calls since the failures were set
};

FakeState& State() {
  static FakeState state;
  return state;
}

// --- argument text ------------------------------------------------------------------

std::string Int(long long value) { return std::to_string(value); }
std::string Num(float value) { return NumberText(value); }
std::string Num(double value) { return NumberText(value); }
std::string Enum(GLenum value) { return GLEnumName(value); }
// An integer parameter that carries an enumeration (glTexParameteri's value).
std::string EnumOrInt(GLint value) { return value >= 0x100 ? GLEnumName(static_cast<GLenum>(value)) : Int(value); }

template <typename T>
std::string Array(const T* values, size_t count) {
  std::string text = "[";
  for (size_t k = 0; k < count; ++k) {
    if (k > 0) text += ' ';
    if constexpr (std::is_floating_point_v<T>)
      text += Num(values[k]);
    else
      text += Int(static_cast<long long>(values[k]));
  }
  return text + "]";
}

void Log(std::string_view name, std::initializer_list<std::string> args = {}) {
  std::string call(name);
  call += '(';
  bool first = true;
  for (const std::string& arg : args) {
    if (!first) call += ", ";
    call += arg;
    first = false;
  }
  call += ')';
  FakeState& st = State();
  if (st.openList && name != "glNewList" && name != "glEndList") st.compiling.push_back(call);
  st.calls.push_back(std::move(call));
}

void Raise(GLenum error) { State().errors.push_back(error); }

// --- state ----------------------------------------------------------------------------

int* DepthOf(GLenum mode) {
  FakeState& st = State();
  switch (mode) {
    case GL_MODELVIEW: return &st.modelViewDepth;
    case GL_PROJECTION: return &st.projectionDepth;
    case GL_TEXTURE: return &st.textureDepth;
    default: return nullptr;
  }
}

int DepthLimitOf(GLenum mode) {
  switch (mode) {
    case GL_MODELVIEW: return kModelViewStackMax;
    case GL_PROJECTION: return kProjectionStackMax;
    default: return kTextureStackMax;
  }
}

void EraseLists(GLuint first, GLsizei range) {
  FakeState& st = State();
  const uint64_t end = uint64_t{first} + static_cast<uint64_t>(range);
  for (auto it = st.lists.lower_bound(first); it != st.lists.end() && *it < end;) {
    st.listCalls.erase(*it);
    it = st.lists.erase(it);
  }
}

std::string ListOffsets(GLsizei count, GLenum type, const GLvoid* lists) {
  if (count <= 0 || lists == nullptr) return "[]";
  const size_t n = static_cast<size_t>(count);
  switch (type) {
    case GL_UNSIGNED_BYTE: return Array(static_cast<const GLubyte*>(lists), n);
    case GL_BYTE: return Array(static_cast<const GLbyte*>(lists), n);
    case GL_UNSIGNED_SHORT: return Array(static_cast<const GLushort*>(lists), n);
    case GL_SHORT: return Array(static_cast<const GLshort*>(lists), n);
    case GL_UNSIGNED_INT: return Array(static_cast<const GLuint*>(lists), n);
    case GL_INT: return Array(static_cast<const GLint*>(lists), n);
    default: return "[?]";
  }
}

std::string StippleText(const GLubyte* mask) {
  if (mask == nullptr) return "null";
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (int k = 0; k < 128; ++k) {
    text += kDigits[mask[k] >> 4];
    text += kDigits[mask[k] & 15];
  }
  return text;
}

// --- the entries ------------------------------------------------------------------------

void FakeBegin(GLenum mode) {
  Log("glBegin", {GLPrimitiveName(mode)});
  if (State().inBeginEnd) return Raise(GL_INVALID_OPERATION);
  State().inBeginEnd = true;
}
void FakeEnd() {
  Log("glEnd");
  if (!State().inBeginEnd) return Raise(GL_INVALID_OPERATION);
  State().inBeginEnd = false;
}
void FakeEnable(GLenum cap) { Log("glEnable", {Enum(cap)}); }
void FakeDisable(GLenum cap) { Log("glDisable", {Enum(cap)}); }
void FakeTranslatef(GLfloat x, GLfloat y, GLfloat z) { Log("glTranslatef", {Num(x), Num(y), Num(z)}); }
void FakeScalef(GLfloat x, GLfloat y, GLfloat z) { Log("glScalef", {Num(x), Num(y), Num(z)}); }
void FakeRotatef(GLfloat a, GLfloat x, GLfloat y, GLfloat z) { Log("glRotatef", {Num(a), Num(x), Num(y), Num(z)}); }
void FakeNormal3f(GLfloat x, GLfloat y, GLfloat z) { Log("glNormal3f", {Num(x), Num(y), Num(z)}); }
void FakeVertex3f(GLfloat x, GLfloat y, GLfloat z) { Log("glVertex3f", {Num(x), Num(y), Num(z)}); }
void FakeTexCoord2f(GLfloat s, GLfloat t) { Log("glTexCoord2f", {Num(s), Num(t)}); }
void FakeTexParameteri(GLenum target, GLenum name, GLint value) {
  Log("glTexParameteri", {Enum(target), Enum(name), EnumOrInt(value)});
}
void FakeBlendFunc(GLenum source, GLenum destination) { Log("glBlendFunc", {Enum(source), Enum(destination)}); }
void FakeEdgeFlag(GLboolean flag) { Log("glEdgeFlag", {Int(flag)}); }
void FakePushMatrix() {
  Log("glPushMatrix");
  FakeState& st = State();
  int* depth = DepthOf(st.matrixMode);
  if (depth == nullptr) return;
  if (*depth >= DepthLimitOf(st.matrixMode)) return Raise(GL_STACK_OVERFLOW);
  ++*depth;
}
void FakePopMatrix() {
  Log("glPopMatrix");
  int* depth = DepthOf(State().matrixMode);
  if (depth == nullptr) return;
  if (*depth <= 1) return Raise(GL_STACK_UNDERFLOW);
  --*depth;
}
void FakeColor3ub(GLubyte r, GLubyte g, GLubyte b) { Log("glColor3ub", {Int(r), Int(g), Int(b)}); }
void FakeColor4ub(GLubyte r, GLubyte g, GLubyte b, GLubyte a) { Log("glColor4ub", {Int(r), Int(g), Int(b), Int(a)}); }
void FakeShadeModel(GLenum mode) { Log("glShadeModel", {Enum(mode)}); }
void FakeFlush() { Log("glFlush"); }
void FakeColorMaterial(GLenum face, GLenum mode) { Log("glColorMaterial", {Enum(face), Enum(mode)}); }
void FakeCullFace(GLenum mode) { Log("glCullFace", {Enum(mode)}); }
void FakeDepthFunc(GLenum function) { Log("glDepthFunc", {Enum(function)}); }
void FakeLineWidth(GLfloat width) { Log("glLineWidth", {Num(width)}); }
void FakeMatrixMode(GLenum mode) {
  Log("glMatrixMode", {Enum(mode)});
  if (DepthOf(mode) == nullptr) return Raise(GL_INVALID_ENUM);
  State().matrixMode = mode;
}
void FakeRasterPos3f(GLfloat x, GLfloat y, GLfloat z) { Log("glRasterPos3f", {Num(x), Num(y), Num(z)}); }
void FakeTexEnvf(GLenum target, GLenum name, GLfloat value) { Log("glTexEnvf", {Enum(target), Enum(name), Num(value)}); }
void FakePointSize(GLfloat size) { Log("glPointSize", {Num(size)}); }
void FakeFogi(GLenum name, GLint value) { Log("glFogi", {Enum(name), EnumOrInt(value)}); }
void FakeLightModeli(GLenum name, GLint value) { Log("glLightModeli", {Enum(name), Int(value)}); }
void FakePixelStorei(GLenum name, GLint value) { Log("glPixelStorei", {Enum(name), Int(value)}); }
void FakePolygonMode(GLenum face, GLenum mode) { Log("glPolygonMode", {Enum(face), Enum(mode)}); }
void FakeEvalCoord2f(GLfloat u, GLfloat v) { Log("glEvalCoord2f", {Num(u), Num(v)}); }
void FakeLineStipple(GLint factor, GLushort pattern) { Log("glLineStipple", {Int(factor), HexText(pattern)}); }
void FakeListBase(GLuint base) { Log("glListBase", {Int(base)}); }
void FakeDeleteLists(GLuint list, GLsizei range) {
  Log("glDeleteLists", {Int(list), Int(range)});
  if (range < 0) return Raise(GL_INVALID_VALUE);
  EraseLists(list, range);
}
void FakeEvalMesh2(GLenum mode, GLint i1, GLint i2, GLint j1, GLint j2) {
  Log("glEvalMesh2", {Enum(mode), Int(i1), Int(i2), Int(j1), Int(j2)});
}
void FakeClipPlane(GLenum plane, const GLdouble* equation) { Log("glClipPlane", {Enum(plane), Array(equation, 4)}); }
void FakeMaterialf(GLenum face, GLenum name, GLfloat value) { Log("glMaterialf", {Enum(face), Enum(name), Num(value)}); }
void FakeMaterialfv(GLenum face, GLenum name, const GLfloat* values) {
  Log("glMaterialfv", {Enum(face), Enum(name), Array(values, 4)});
}
void FakeCallLists(GLsizei count, GLenum type, const GLvoid* lists) {
  Log("glCallLists", {Int(count), Enum(type), ListOffsets(count, type, lists)});
}
void FakeFogf(GLenum name, GLfloat value) { Log("glFogf", {Enum(name), Num(value)}); }
void FakeFogfv(GLenum name, const GLfloat* values) { Log("glFogfv", {Enum(name), Array(values, 4)}); }
void FakeMapGrid2f(GLint un, GLfloat u1, GLfloat u2, GLint vn, GLfloat v1, GLfloat v2) {
  Log("glMapGrid2f", {Int(un), Num(u1), Num(u2), Int(vn), Num(v1), Num(v2)});
}
void FakeMultMatrixf(const GLfloat* matrix) { Log("glMultMatrixf", {Array(matrix, 16)}); }
void FakePolygonStipple(const GLubyte* mask) { Log("glPolygonStipple", {StippleText(mask)}); }
// The control points as GL reads them: point (i, j) at i * ustride +
// j * vstride.
void FakeMap2f(GLenum target, GLfloat u1, GLfloat u2, GLint ustride, GLint uorder, GLfloat v1, GLfloat v2,
               GLint vstride, GLint vorder, const GLfloat* points) {
  const int components = GLMap2Components(target);
  std::vector<GLfloat> read;
  if (points != nullptr && components > 0)
    for (GLint i = 0; i < uorder; ++i)
      for (GLint j = 0; j < vorder; ++j)
        for (int k = 0; k < components; ++k) read.push_back(points[i * ustride + j * vstride + k]);
  Log("glMap2f", {Enum(target), Num(u1), Num(u2), Int(ustride), Int(uorder), Num(v1), Num(v2), Int(vstride),
                  Int(vorder), Array(read.data(), read.size())});
}
void FakeTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height, GLint border,
                    GLenum format, GLenum type, const GLvoid* pixels) {
  const size_t bytes = width > 0 && height > 0 ? size_t(width) * size_t(height) * 4 : 0;
  Log("glTexImage2D", {Enum(target), Int(level), EnumOrInt(internalFormat), Int(width), Int(height), Int(border),
                       Enum(format), Enum(type), Int(static_cast<long long>(bytes)) + " bytes"});
  const auto* data = static_cast<const uint8_t*>(pixels);
  State().lastTexImage = data != nullptr ? std::vector<uint8_t>(data, data + bytes) : std::vector<uint8_t>(bytes);
}
void FakeLoadIdentity() { Log("glLoadIdentity"); }
void FakeOrtho(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f) {
  Log("glOrtho", {Num(l), Num(r), Num(b), Num(t), Num(n), Num(f)});
}
void FakeViewport(GLint x, GLint y, GLsizei width, GLsizei height) {
  Log("glViewport", {Int(x), Int(y), Int(width), Int(height)});
  if (width < 0 || height < 0) return Raise(GL_INVALID_VALUE);
  GLint* viewport = State().viewport;
  viewport[0] = x;
  viewport[1] = y;
  viewport[2] = width;
  viewport[3] = height;
}
void FakeReadBuffer(GLenum mode) { Log("glReadBuffer", {Enum(mode)}); }
void FakeDrawBuffer(GLenum mode) { Log("glDrawBuffer", {Enum(mode)}); }
void FakeCopyPixels(GLint x, GLint y, GLsizei width, GLsizei height, GLenum type) {
  Log("glCopyPixels", {Int(x), Int(y), Int(width), Int(height), Enum(type)});
}
void FakeCallList(GLuint list) { Log("glCallList", {Int(list)}); }
void FakeNewList(GLuint list, GLenum mode) {
  Log("glNewList", {Int(list), Enum(mode)});
  FakeState& st = State();
  if (list == 0) return Raise(GL_INVALID_VALUE);
  if (st.openList) return Raise(GL_INVALID_OPERATION);
  st.openList = list;
  st.compiling.clear();
}
void FakeEndList() {
  Log("glEndList");
  FakeState& st = State();
  if (!st.openList) return Raise(GL_INVALID_OPERATION);
  st.lists.insert(*st.openList);
  st.listCalls[*st.openList] = std::move(st.compiling);
  st.compiling.clear();
  st.openList.reset();
}
void FakeClear(GLbitfield mask) { Log("glClear", {HexText(mask)}); }
void FakeClearColor(GLclampf r, GLclampf g, GLclampf b, GLclampf a) {
  Log("glClearColor", {Num(r), Num(g), Num(b), Num(a)});
}
void FakeClearDepth(GLclampd depth) { Log("glClearDepth", {Num(depth)}); }
GLint FakeRenderMode(GLenum mode) {
  Log("glRenderMode", {Enum(mode)});
  FakeState& st = State();
  GLint answer = 0;
  if (st.renderMode == GL_SELECT) {
    const size_t room = st.selectBuffer != nullptr && st.selectSize > 0 ? size_t(st.selectSize) : 0;
    const size_t copied = std::min(room, st.hitRecords.size());
    std::copy_n(st.hitRecords.begin(), copied, st.selectBuffer);
    answer = copied < st.hitRecords.size() ? -1 : st.hitCount;
    st.names.clear();
  }
  st.renderMode = mode;
  return answer;
}
void FakePerspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar) {
  Log("gluPerspective", {Num(fovy), Num(aspect), Num(zNear), Num(zFar)});
}
void FakeLookAt(GLdouble ex, GLdouble ey, GLdouble ez, GLdouble cx, GLdouble cy, GLdouble cz, GLdouble ux,
                GLdouble uy, GLdouble uz) {
  Log("gluLookAt", {Num(ex), Num(ey), Num(ez), Num(cx), Num(cy), Num(cz), Num(ux), Num(uy), Num(uz)});
}
void FakePickMatrix(GLdouble x, GLdouble y, GLdouble width, GLdouble height, GLint* viewport) {
  Log("gluPickMatrix", {Num(x), Num(y), Num(width), Num(height), viewport != nullptr ? Array(viewport, 4) : "null"});
}

bool IntegerAnswer(GLenum name, std::vector<GLint>& out) {
  const FakeState& st = State();
  if (auto set = st.integers.find(name); set != st.integers.end()) {
    out = set->second;
    return true;
  }
  switch (name) {
    case GL_VIEWPORT: out.assign(st.viewport, st.viewport + 4); return true;
    case GL_MATRIX_MODE: out = {static_cast<GLint>(st.matrixMode)}; return true;
    case GL_RENDER_MODE: out = {static_cast<GLint>(st.renderMode)}; return true;
    case GL_NAME_STACK_DEPTH: out = {static_cast<GLint>(st.names.size())}; return true;
    case GL_LIST_INDEX: out = {static_cast<GLint>(st.openList.value_or(0))}; return true;
    case GL_MODELVIEW_STACK_DEPTH: out = {st.modelViewDepth}; return true;
    case GL_PROJECTION_STACK_DEPTH: out = {st.projectionDepth}; return true;
    default: return false;
  }
}

void FakeGetIntegerv(GLenum name, GLint* values) {
  Log("glGetIntegerv", {Enum(name)});
  std::vector<GLint> answer;
  if (values != nullptr && IntegerAnswer(name, answer)) std::copy(answer.begin(), answer.end(), values);
}
void FakeGetFloatv(GLenum name, GLfloat* values) {
  Log("glGetFloatv", {Enum(name)});
  if (values == nullptr) return;
  const FakeState& st = State();
  if (auto set = st.floats.find(name); set != st.floats.end()) {
    std::copy(set->second.begin(), set->second.end(), values);
    return;
  }
  if (name == GL_MODELVIEW_MATRIX || name == GL_PROJECTION_MATRIX) {
    for (int k = 0; k < 16; ++k) values[k] = k % 5 == 0 ? 1.0f : 0.0f;
    return;
  }
  std::vector<GLint> answer;
  if (IntegerAnswer(name, answer))
    std::transform(answer.begin(), answer.end(), values, [](GLint v) { return static_cast<GLfloat>(v); });
}
// Name-stack commands count only in selection mode, as in GL.
void FakePushName(GLuint name) {
  Log("glPushName", {Int(name)});
  if (State().renderMode == GL_SELECT) State().names.push_back(name);
}
void FakePopName() {
  Log("glPopName");
  FakeState& st = State();
  if (st.renderMode != GL_SELECT) return;
  if (st.names.empty()) return Raise(GL_STACK_UNDERFLOW);
  st.names.pop_back();
}
void FakeInitNames() {
  Log("glInitNames");
  if (State().renderMode == GL_SELECT) State().names.clear();
}
GLboolean FakeIsList(GLuint list) {
  Log("glIsList", {Int(list)});
  return State().lists.count(list) != 0 ? GL_TRUE : GL_FALSE;
}
void FakeSelectBuffer(GLsizei size, GLuint* buffer) {
  Log("glSelectBuffer", {Int(size)});
  State().selectBuffer = buffer;
  State().selectSize = size;
}
GLenum FakeGetError() {
  Log("glGetError");
  FakeState& st = State();
  if (!st.failingChecks.empty()) {
    const auto failing = st.failingChecks.find(++st.checksMade);
    if (failing != st.failingChecks.end()) return failing->second;
  }
  if (st.errors.empty()) return GL_NO_ERROR;
  const GLenum error = st.errors.front();
  st.errors.pop_front();
  return error;
}
void FakeSphereBands(GLint n, GLdouble normalFactor, GLdouble a1, GLdouble a2, GLdouble p1, GLdouble p2) {
  Log("DrawSphereBands", {Int(n), Num(normalFactor), Num(a1), Num(a2), Num(p1), Num(p2)});
  DrawSphereBands(n, normalFactor, a1, a2, p1, p2);
}

const GLProcTable kFakeTable = {
    FakeBegin,        FakeEnd,          FakeEnable,        FakeDisable,        FakeTranslatef,  FakeScalef,
    FakeRotatef,      FakeNormal3f,     FakeVertex3f,      FakeTexCoord2f,     FakeTexParameteri,
    FakeBlendFunc,    FakeEdgeFlag,     FakePushMatrix,    FakePopMatrix,      FakeColor3ub,    FakeColor4ub,
    FakeShadeModel,   FakeFlush,        FakeColorMaterial, FakeCullFace,       FakeDepthFunc,   FakeLineWidth,
    FakeMatrixMode,   FakeRasterPos3f,  FakeTexEnvf,       FakePointSize,      FakeFogi,        FakeLightModeli,
    FakePixelStorei,  FakePolygonMode,  FakeEvalCoord2f,   FakeLineStipple,    FakeListBase,    FakeDeleteLists,
    FakeEvalMesh2,    FakeClipPlane,    FakeMaterialf,     FakeMaterialfv,     FakeCallLists,   FakeFogf,
    FakeFogfv,        FakeMapGrid2f,    FakeMultMatrixf,   FakePolygonStipple, FakeMap2f,       FakeTexImage2D,
    FakeLoadIdentity, FakeOrtho,        FakeViewport,      FakeReadBuffer,     FakeDrawBuffer,  FakeCopyPixels,
    FakeCallList,     FakeNewList,      FakeEndList,       FakeClear,          FakeClearColor,  FakeClearDepth,
    FakeRenderMode,   FakePerspective,  FakeLookAt,        FakePickMatrix,     FakeGetIntegerv, FakePushName,
    FakePopName,      FakeInitNames,    FakeIsList,        FakeSelectBuffer,   FakeGetError,    FakeSphereBands,
    FakeGL::FontRoutine, FakeGetFloatv,
};

}  // namespace

namespace FakeGL {

void Reset() { State() = FakeState(); }
const GLProcTable& Table() { return kFakeTable; }

const std::vector<std::string>& Calls() { return State().calls; }

std::vector<std::string> CallsExcept(std::initializer_list<std::string_view> names) {
  std::vector<std::string> kept;
  for (const std::string& call : State().calls) {
    const std::string_view name = std::string_view(call).substr(0, call.find('('));
    if (std::find(names.begin(), names.end(), name) == names.end()) kept.push_back(call);
  }
  return kept;
}

size_t CountOf(std::string_view name) {
  return static_cast<size_t>(std::count_if(State().calls.begin(), State().calls.end(), [&](const std::string& call) {
    return std::string_view(call).substr(0, call.find('(')) == name;
  }));
}

void ClearCalls() { State().calls.clear(); }

const std::set<GLuint>& Lists() { return State().lists; }
bool HasList(GLuint list) { return State().lists.count(list) != 0; }
std::vector<std::string> ListCalls(GLuint list) {
  auto found = State().listCalls.find(list);
  return found != State().listCalls.end() ? found->second : std::vector<std::string>();
}
std::optional<GLuint> OpenList() { return State().openList; }

GLenum RenderMode() { return State().renderMode; }
const std::vector<GLuint>& NameStack() { return State().names; }
GLenum MatrixMode() { return State().matrixMode; }
int MatrixDepth(GLenum mode) {
  const int* depth = DepthOf(mode);
  return depth != nullptr ? *depth : 0;
}
bool InBeginEnd() { return State().inBeginEnd; }
const std::vector<uint8_t>& LastTexImage() { return State().lastTexImage; }

void QueueError(GLenum error) { Raise(error); }
const std::deque<GLenum>& PendingErrors() { return State().errors; }
void FailAtCheck(size_t n, GLenum error) {
  FakeState& st = State();
  if (st.failingChecks.empty()) st.checksMade = 0;
  st.failingChecks[st.checksMade + n] = error;
}
void SetIntegers(GLenum name, std::vector<GLint> values) { State().integers[name] = std::move(values); }
void SetFloats(GLenum name, std::vector<GLfloat> values) { State().floats[name] = std::move(values); }
void SetSelectionHits(GLint hitCount, std::vector<GLuint> records) {
  State().hitCount = hitCount;
  State().hitRecords = std::move(records);
}

void FontRoutine(const char* faceName, GLint height, GLboolean bold, GLuint firstList, GLboolean italic) {
  Log("CreateBitmapFontLists",
      {faceName != nullptr ? std::string(faceName) : "null", Int(height), Int(bold), Int(firstList), Int(italic)});
  for (GLuint k = 0; k < kFontGlyphLists; ++k) {
    State().lists.insert(firstList + k);
    State().listCalls[firstList + k];
  }
}

}  // namespace FakeGL

UseFakeGL::UseFakeGL() {
  FakeGL::Reset();
  CloseGLRecording();
  SetGLNullRoute(false);
  SetGLBase(FakeGL::Table());
}

UseFakeGL::~UseFakeGL() {
  CloseGLRecording();
  SetGLNullRoute(false);
  SetGLBase(DirectGL());
  FakeGL::Reset();
}
