#include "graphics/ZavOpenGL.h"

#include "graphics/GLNullTable.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <utility>

#include "core/Text.h"
#include "core/Trans.h"

namespace {

using FontRoutine = void (*)(const char*, GLint, GLboolean, GLuint, GLboolean);

// --- the bitmap-font entry of the library table ---------------------------------------

TStructure* errorStructure = nullptr;  // where the default font routine raises

// Until the font module installs its routine there is no way to build glyph
// lists: asking for them is an internal error, not a silent empty font.
void MissingBitmapFontRoutine(const char*, GLint, GLboolean, GLuint, GLboolean) {
  if (errorStructure != nullptr) RaiseInternalError(*errorStructure, u"ZAVOPENGL:FONT");
}

FontRoutine installedFontRoutine = MissingBitmapFontRoutine;

const GLProcTable& kNullTable = kNullGLTable;
constexpr const GLProcTable* kDirectTable = &zavgl_detail::kLibraryTable;

// --- the table in force ---------------------------------------------------------------

const GLProcTable* baseTable = kDirectTable;
bool nullRoute = false;
bool recordingActive = false;
GLenum trackedRenderMode = GL_RENDER;

// --- the recording file -----------------------------------------------------------------

constexpr size_t kRecordingBufferSize = 1 << 16;

std::FILE* recordingFile = nullptr;
std::u16string recordingName;  // as the caller gave it, for the failure message
std::function<void(const std::u16string&)> failureHandler;

extern GLProcTable recordingTable;

void SelectActiveTable() {
  zavgl_detail::Active = nullRoute ? &kNullTable : recordingActive ? &recordingTable : baseTable;
}

// A write or flush failed: the recording is over. Closing first makes any
// later write a no-op, so the handler runs once per recording.
void StopAfterFailure() {
  std::FILE* file = std::exchange(recordingFile, nullptr);
  std::fclose(file);
  UseDirectGL();
  if (failureHandler) failureHandler(recordingName);
}

// The writers write only while the last render mode passed through the
// table is GL_RENDER: picking in selection mode leaves no trace.
bool Writing() { return recordingFile != nullptr && trackedRenderMode == GL_RENDER; }

void RecordBytes(const void* data, size_t size) {
  if (!Writing() || size == 0) return;
  if (std::fwrite(data, 1, size, recordingFile) != size) StopAfterFailure();
}

void RecordZeros(size_t size) {
  static constexpr uint8_t kZeros[256] = {};
  while (size > 0 && Writing()) {
    const size_t chunk = std::min(size, sizeof kZeros);
    RecordBytes(kZeros, chunk);
    size -= chunk;
  }
}

void RecordLittleEndian(uint64_t value, size_t size) {
  uint8_t bytes[8];
  for (size_t k = 0; k < size; ++k) bytes[k] = static_cast<uint8_t>(value >> (8 * k));
  RecordBytes(bytes, size);
}

void RecordOpcode(uint16_t opcode) { RecordLittleEndian(opcode, 2); }
void RecordByte(uint8_t value) { RecordBytes(&value, 1); }
void RecordInt(int32_t value) { RecordLittleEndian(static_cast<uint32_t>(value), 4); }
void RecordEnum(GLenum value) { RecordLittleEndian(value, 4); }
void RecordFloat(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  RecordLittleEndian(bits, 4);
}
void RecordDouble(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  RecordLittleEndian(bits, 8);
}
void RecordFloats(const GLfloat* values, size_t count) {
  for (size_t k = 0; k < count; ++k) RecordFloat(values[k]);
}
// Length n+1, the n code-page bytes, a NUL.
void RecordString(const char* text) {
  const size_t length = text != nullptr ? std::strlen(text) : 0;
  RecordInt(static_cast<int32_t>(length + 1));
  RecordBytes(text, length);
  RecordByte(0);
}

size_t CountOf(int64_t a, int64_t b = 1, int64_t c = 1) {
  return a > 0 && b > 0 && c > 0 ? static_cast<size_t>(a * b * c) : 0;
}


// --- the recording wrappers: the record, then the base's call ---------------------------

const GLProcTable& Base() { return *baseTable; }

void RecBegin(GLenum mode) {
  RecordOpcode(1), RecordEnum(mode);
  Base().glBegin(mode);
}
void RecEnd() {
  RecordOpcode(2);
  Base().glEnd();
}
void RecEnable(GLenum cap) {
  RecordOpcode(3), RecordEnum(cap);
  Base().glEnable(cap);
}
void RecDisable(GLenum cap) {
  RecordOpcode(4), RecordEnum(cap);
  Base().glDisable(cap);
}
void RecTranslatef(GLfloat x, GLfloat y, GLfloat z) {
  RecordOpcode(5), RecordFloat(x), RecordFloat(y), RecordFloat(z);
  Base().glTranslatef(x, y, z);
}
void RecScalef(GLfloat x, GLfloat y, GLfloat z) {
  RecordOpcode(6), RecordFloat(x), RecordFloat(y), RecordFloat(z);
  Base().glScalef(x, y, z);
}
void RecRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z) {
  RecordOpcode(7), RecordFloat(angle), RecordFloat(x), RecordFloat(y), RecordFloat(z);
  Base().glRotatef(angle, x, y, z);
}
void RecNormal3f(GLfloat x, GLfloat y, GLfloat z) {
  RecordOpcode(23), RecordFloat(x), RecordFloat(y), RecordFloat(z);
  Base().glNormal3f(x, y, z);
}
void RecVertex3f(GLfloat x, GLfloat y, GLfloat z) {
  RecordOpcode(8), RecordFloat(x), RecordFloat(y), RecordFloat(z);
  Base().glVertex3f(x, y, z);
}
void RecTexCoord2f(GLfloat s, GLfloat t) {
  RecordOpcode(9), RecordFloat(s), RecordFloat(t);
  Base().glTexCoord2f(s, t);
}
void RecTexParameteri(GLenum target, GLenum name, GLint value) {
  RecordOpcode(10), RecordEnum(target), RecordEnum(name), RecordInt(value);
  Base().glTexParameteri(target, name, value);
}
void RecBlendFunc(GLenum source, GLenum destination) {
  RecordOpcode(11), RecordEnum(source), RecordEnum(destination);
  Base().glBlendFunc(source, destination);
}
// The drawing code passes 0xFF for true; the record holds it sign-extended.
void RecEdgeFlag(GLboolean flag) {
  RecordOpcode(19), RecordInt(static_cast<int8_t>(flag));
  Base().glEdgeFlag(flag);
}
void RecPushMatrix() {
  RecordOpcode(12);
  Base().glPushMatrix();
}
void RecPopMatrix() {
  RecordOpcode(13);
  Base().glPopMatrix();
}
void RecColor3ub(GLubyte r, GLubyte g, GLubyte b) {
  RecordOpcode(14), RecordByte(r), RecordByte(g), RecordByte(b);
  Base().glColor3ub(r, g, b);
}
void RecColor4ub(GLubyte r, GLubyte g, GLubyte b, GLubyte a) {
  RecordOpcode(15), RecordByte(r), RecordByte(g), RecordByte(b), RecordByte(a);
  Base().glColor4ub(r, g, b, a);
}
void RecShadeModel(GLenum mode) {
  RecordOpcode(16), RecordEnum(mode);
  Base().glShadeModel(mode);
}
void RecFlush() {
  RecordOpcode(17);
  Base().glFlush();
}
void RecColorMaterial(GLenum face, GLenum mode) {
  RecordOpcode(18), RecordEnum(face), RecordEnum(mode);
  Base().glColorMaterial(face, mode);
}
void RecCullFace(GLenum mode) {
  RecordOpcode(20), RecordEnum(mode);
  Base().glCullFace(mode);
}
void RecDepthFunc(GLenum function) {
  RecordOpcode(21), RecordEnum(function);
  Base().glDepthFunc(function);
}
void RecLineWidth(GLfloat width) {
  RecordOpcode(22), RecordFloat(width);
  Base().glLineWidth(width);
}
void RecMatrixMode(GLenum mode) {
  RecordOpcode(24), RecordEnum(mode);
  Base().glMatrixMode(mode);
}
void RecRasterPos3f(GLfloat x, GLfloat y, GLfloat z) {
  RecordOpcode(25), RecordFloat(x), RecordFloat(y), RecordFloat(z);
  Base().glRasterPos3f(x, y, z);
}
void RecTexEnvf(GLenum target, GLenum name, GLfloat value) {
  RecordOpcode(26), RecordEnum(target), RecordEnum(name), RecordFloat(value);
  Base().glTexEnvf(target, name, value);
}
void RecPointSize(GLfloat size) {
  RecordOpcode(27), RecordFloat(size);
  Base().glPointSize(size);
}
void RecFogi(GLenum name, GLint value) {
  RecordOpcode(28), RecordEnum(name), RecordInt(value);
  Base().glFogi(name, value);
}
void RecLightModeli(GLenum name, GLint value) {
  RecordOpcode(29), RecordEnum(name), RecordInt(value);
  Base().glLightModeli(name, value);
}
void RecPixelStorei(GLenum name, GLint value) {
  RecordOpcode(30), RecordEnum(name), RecordInt(value);
  Base().glPixelStorei(name, value);
}
void RecPolygonMode(GLenum face, GLenum mode) {
  RecordOpcode(31), RecordEnum(face), RecordEnum(mode);
  Base().glPolygonMode(face, mode);
}
void RecEvalCoord2f(GLfloat u, GLfloat v) {
  RecordOpcode(32), RecordFloat(u), RecordFloat(v);
  Base().glEvalCoord2f(u, v);
}
void RecLineStipple(GLint factor, GLushort pattern) {
  RecordOpcode(33), RecordInt(factor), RecordInt(pattern);
  Base().glLineStipple(factor, pattern);
}
void RecListBase(GLuint base) {
  RecordOpcode(34), RecordEnum(base);
  Base().glListBase(base);
}
// Every call reaches the base (a font's block of 256 lists included); the
// record names each list that existed, one list per record, so that a
// replay deletes exactly what was deleted.
void RecDeleteLists(GLuint list, GLsizei range) {
  for (GLsizei k = 0; k < range && Writing(); ++k) {
    const GLuint each = list + static_cast<GLuint>(k);
    if (Base().glIsList(each)) RecordOpcode(35), RecordEnum(each), RecordInt(1);
  }
  Base().glDeleteLists(list, range);
}
void RecEvalMesh2(GLenum mode, GLint i1, GLint i2, GLint j1, GLint j2) {
  RecordOpcode(36), RecordEnum(mode), RecordInt(i1), RecordInt(i2), RecordInt(j1), RecordInt(j2);
  Base().glEvalMesh2(mode, i1, i2, j1, j2);
}
void RecClipPlane(GLenum plane, const GLdouble* equation) {
  RecordOpcode(53), RecordEnum(plane);
  for (int k = 0; k < 4; ++k) RecordFloat(static_cast<float>(equation[k]));
  Base().glClipPlane(plane, equation);
}
void RecMaterialf(GLenum face, GLenum name, GLfloat value) {
  RecordOpcode(54), RecordEnum(face), RecordEnum(name), RecordFloat(value);
  Base().glMaterialf(face, name, value);
}
void RecMaterialfv(GLenum face, GLenum name, const GLfloat* values) {
  RecordOpcode(55), RecordEnum(face), RecordEnum(name), RecordFloats(values, 4);
  Base().glMaterialfv(face, name, values);
}
// One byte per list offset, as the drawing code passes them.
void RecCallLists(GLsizei count, GLenum type, const GLvoid* lists) {
  RecordOpcode(57), RecordInt(count), RecordEnum(type), RecordBytes(lists, CountOf(count));
  Base().glCallLists(count, type, lists);
}
void RecFogf(GLenum name, GLfloat value) {
  RecordOpcode(37), RecordEnum(name), RecordFloat(value);
  Base().glFogf(name, value);
}
void RecFogfv(GLenum name, const GLfloat* values) {
  RecordOpcode(56), RecordEnum(name), RecordFloats(values, 4);
  Base().glFogfv(name, values);
}
void RecMapGrid2f(GLint un, GLfloat u1, GLfloat u2, GLint vn, GLfloat v1, GLfloat v2) {
  RecordOpcode(38), RecordInt(un), RecordFloat(u1), RecordFloat(u2);
  RecordInt(vn), RecordFloat(v1), RecordFloat(v2);
  Base().glMapGrid2f(un, u1, u2, vn, v1, v2);
}
void RecMultMatrixf(const GLfloat* matrix) {
  RecordOpcode(58), RecordFloats(matrix, 16);
  Base().glMultMatrixf(matrix);
}
// The 32 x 32-bit mask as 32 little-endian words is the 128 mask bytes in
// their order.
void RecPolygonStipple(const GLubyte* mask) {
  RecordOpcode(59), RecordBytes(mask, 128);
  Base().glPolygonStipple(mask);
}
// The control points are read tightly packed from the start of the array,
// as many components per point as the target has: a two-component texture
// map is never read as three.
void RecMap2f(GLenum target, GLfloat u1, GLfloat u2, GLint ustride, GLint uorder, GLfloat v1, GLfloat v2,
              GLint vstride, GLint vorder, const GLfloat* points) {
  RecordOpcode(60), RecordEnum(target), RecordFloat(u1), RecordFloat(u2), RecordInt(ustride), RecordInt(uorder);
  RecordFloat(v1), RecordFloat(v2), RecordInt(vstride), RecordInt(vorder);
  if (points != nullptr) RecordFloats(points, CountOf(uorder, vorder, GLMap2Components(target)));
  Base().glMap2f(target, u1, u2, ustride, uorder, v1, v2, vstride, vorder, points);
}
// Four bytes a texel; a missing pixel array is recorded as zeros so that
// the record keeps its length.
void RecTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height, GLint border,
                   GLenum format, GLenum type, const GLvoid* pixels) {
  RecordOpcode(61), RecordEnum(target), RecordInt(level), RecordInt(internalFormat), RecordInt(width);
  RecordInt(height), RecordInt(border), RecordEnum(format), RecordEnum(type);
  const size_t bytes = CountOf(width, height, 4);
  if (pixels != nullptr)
    RecordBytes(pixels, bytes);
  else
    RecordZeros(bytes);
  Base().glTexImage2D(target, level, internalFormat, width, height, border, format, type, pixels);
}
void RecLoadIdentity() {
  RecordOpcode(52);
  Base().glLoadIdentity();
}
void RecOrtho(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top, GLdouble zNear, GLdouble zFar) {
  RecordOpcode(39), RecordDouble(left), RecordDouble(right), RecordDouble(bottom);
  RecordDouble(top), RecordDouble(zNear), RecordDouble(zFar);
  Base().glOrtho(left, right, bottom, top, zNear, zFar);
}
void RecViewport(GLint x, GLint y, GLsizei width, GLsizei height) {
  RecordOpcode(40), RecordInt(x), RecordInt(y), RecordInt(width), RecordInt(height);
  Base().glViewport(x, y, width, height);
}
void RecReadBuffer(GLenum mode) {
  RecordOpcode(41), RecordEnum(mode);
  Base().glReadBuffer(mode);
}
void RecDrawBuffer(GLenum mode) {
  RecordOpcode(42), RecordEnum(mode);
  Base().glDrawBuffer(mode);
}
void RecCopyPixels(GLint x, GLint y, GLsizei width, GLsizei height, GLenum type) {
  RecordOpcode(43), RecordInt(x), RecordInt(y), RecordInt(width), RecordInt(height), RecordEnum(type);
  Base().glCopyPixels(x, y, width, height, type);
}
void RecCallList(GLuint list) {
  RecordOpcode(44), RecordEnum(list);
  Base().glCallList(list);
}
void RecNewList(GLuint list, GLenum mode) {
  RecordOpcode(46), RecordEnum(list), RecordEnum(mode);
  Base().glNewList(list, mode);
}
void RecEndList() {
  RecordOpcode(45);
  Base().glEndList();
}
void RecClear(GLbitfield mask) {
  RecordOpcode(47), RecordEnum(mask);
  Base().glClear(mask);
}
void RecClearColor(GLclampf r, GLclampf g, GLclampf b, GLclampf a) {
  RecordOpcode(48), RecordFloat(r), RecordFloat(g), RecordFloat(b), RecordFloat(a);
  Base().glClearColor(r, g, b, a);
}
void RecClearDepth(GLclampd depth) {
  RecordOpcode(49), RecordFloat(static_cast<float>(depth));
  Base().glClearDepth(depth);
}
// Not recorded: it only decides whether the writers write.
GLint RecRenderMode(GLenum mode) {
  trackedRenderMode = mode;
  return Base().glRenderMode(mode);
}
void RecPerspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar) {
  RecordOpcode(50), RecordDouble(fovy), RecordDouble(aspect), RecordDouble(zNear), RecordDouble(zFar);
  Base().gluPerspective(fovy, aspect, zNear, zFar);
}
void RecLookAt(GLdouble ex, GLdouble ey, GLdouble ez, GLdouble cx, GLdouble cy, GLdouble cz, GLdouble ux,
               GLdouble uy, GLdouble uz) {
  RecordOpcode(51), RecordDouble(ex), RecordDouble(ey), RecordDouble(ez);
  RecordDouble(cx), RecordDouble(cy), RecordDouble(cz);
  RecordDouble(ux), RecordDouble(uy), RecordDouble(uz);
  Base().gluLookAt(ex, ey, ez, cx, cy, cz, ux, uy, uz);
}
// One record for the whole routine: its own calls go to the base directly.
void RecSphereBands(GLint sliceCount, GLdouble normalFactor, GLdouble azimuthStart, GLdouble azimuthEnd,
                    GLdouble polarStart, GLdouble polarEnd) {
  RecordOpcode(1000), RecordInt(sliceCount), RecordFloat(static_cast<float>(normalFactor));
  RecordFloat(static_cast<float>(azimuthStart)), RecordFloat(static_cast<float>(azimuthEnd));
  RecordFloat(static_cast<float>(polarStart)), RecordFloat(static_cast<float>(polarEnd));
  Base().DrawSphereBands(sliceCount, normalFactor, azimuthStart, azimuthEnd, polarStart, polarEnd);
}
// The record's order (face, height, bold, italic, first list) differs from
// the entry's.
void RecBitmapFont(const char* faceName, GLint height, GLboolean bold, GLuint firstList, GLboolean italic) {
  RecordOpcode(1001), RecordString(faceName), RecordInt(height), RecordByte(bold), RecordByte(italic);
  RecordEnum(firstList);
  Base().CreateBitmapFontLists(faceName, height, bold, firstList, italic);
}

// The query and picking entries (63-70) and glGetFloatv are the base's own;
// CopyBaseQueries fills them in whenever the base changes. Until then they
// are the library table's (constant-initialised, so already in place).
const GLProcTable& L = zavgl_detail::kLibraryTable;
GLProcTable recordingTable = {
    RecBegin,       RecEnd,         RecEnable,       RecDisable,        RecTranslatef,     RecScalef,
    RecRotatef,     RecNormal3f,    RecVertex3f,     RecTexCoord2f,     RecTexParameteri,  RecBlendFunc,
    RecEdgeFlag,    RecPushMatrix,  RecPopMatrix,    RecColor3ub,       RecColor4ub,       RecShadeModel,
    RecFlush,       RecColorMaterial, RecCullFace,   RecDepthFunc,      RecLineWidth,      RecMatrixMode,
    RecRasterPos3f, RecTexEnvf,     RecPointSize,    RecFogi,           RecLightModeli,    RecPixelStorei,
    RecPolygonMode, RecEvalCoord2f, RecLineStipple,  RecListBase,       RecDeleteLists,    RecEvalMesh2,
    RecClipPlane,   RecMaterialf,   RecMaterialfv,   RecCallLists,      RecFogf,           RecFogfv,
    RecMapGrid2f,   RecMultMatrixf, RecPolygonStipple, RecMap2f,        RecTexImage2D,     RecLoadIdentity,
    RecOrtho,       RecViewport,    RecReadBuffer,   RecDrawBuffer,     RecCopyPixels,     RecCallList,
    RecNewList,     RecEndList,     RecClear,        RecClearColor,     RecClearDepth,     RecRenderMode,
    RecPerspective, RecLookAt,      L.gluPickMatrix, L.glGetIntegerv,   L.glPushName,      L.glPopName,
    L.glInitNames,  L.glIsList,     L.glSelectBuffer, L.glGetError,     RecSphereBands,    RecBitmapFont,
    L.glGetFloatv,
};

void CopyBaseQueries() {
  const GLProcTable& base = Base();
  recordingTable.gluPickMatrix = base.gluPickMatrix;
  recordingTable.glGetIntegerv = base.glGetIntegerv;
  recordingTable.glPushName = base.glPushName;
  recordingTable.glPopName = base.glPopName;
  recordingTable.glInitNames = base.glInitNames;
  recordingTable.glIsList = base.glIsList;
  recordingTable.glSelectBuffer = base.glSelectBuffer;
  recordingTable.glGetError = base.glGetError;
  recordingTable.glGetFloatv = base.glGetFloatv;
}

// A bound far beyond any drawing (a half sphere of 1000 slices needs 1000
// polar steps) that keeps absurd angles from looping for ever.
constexpr double kMaxPolarSteps = 1 << 20;

}  // namespace

namespace zavgl_detail {
const GLProcTable* Active = kDirectTable;
}

// --- back-ends and routes --------------------------------------------------------------

const GLProcTable& DirectGL() { return *kDirectTable; }
const GLProcTable& NullGL() { return kNullTable; }

void SetGLBase(const GLProcTable& base) {
  if (&base == &recordingTable) return;  // the recorder cannot be its own base
  baseTable = &base;
  CopyBaseQueries();
  SelectActiveTable();
}

const GLProcTable& GLBase() { return *baseTable; }
const GLProcTable& glDirect() { return nullRoute ? kNullTable : *baseTable; }

bool SetGLNullRoute(bool on) {
  const bool previous = nullRoute;
  nullRoute = on;
  SelectActiveTable();
  return previous;
}

// --- the recording ------------------------------------------------------------------------

bool GLRecordingActive() { return recordingActive; }
GLenum GLRenderMode() { return trackedRenderMode; }

void UseDirectGL() {
  recordingActive = false;
  SelectActiveTable();
}

void UseRecordingGL() {
  recordingActive = true;
  SelectActiveTable();
}

bool OpenGLRecording(const std::u16string& fileName) {
  CloseGLRecording();
  std::u16string path = fileName;
  std::replace(path.begin(), path.end(), u'\\', u'/');
  // "e": close-on-exec, as for the program log.
  recordingFile = path.empty() ? nullptr : std::fopen(Utf16ToUtf8(path).c_str(), "wbe");
  if (recordingFile == nullptr) return false;
  std::setvbuf(recordingFile, nullptr, _IOFBF, kRecordingBufferSize);
  recordingName = fileName;
  trackedRenderMode = GL_RENDER;
  UseRecordingGL();
  return true;
}

// What the buffer still holds must reach the file: a failed flush at the
// end is reported like any other failed write.
void CloseGLRecording() {
  if (recordingFile != nullptr && std::fflush(recordingFile) != 0) {
    StopAfterFailure();
    return;
  }
  if (recordingFile != nullptr) std::fclose(std::exchange(recordingFile, nullptr));
  UseDirectGL();
}

void RecordFrameEnd() {
  if (!recordingActive || recordingFile == nullptr) return;
  RecordInt(0);
  if (recordingFile != nullptr && std::fflush(recordingFile) != 0) StopAfterFailure();
}

void SetGLRecordingFailureHandler(std::function<void(const std::u16string& fileName)> handler) {
  failureHandler = std::move(handler);
}

// --- routines of entries 71 and 72 ------------------------------------------------------------

void DrawSphereBands(GLint sliceCount, GLdouble normalFactor, GLdouble azimuthStart, GLdouble azimuthEnd,
                     GLdouble polarStart, GLdouble polarEnd) {
  if (sliceCount <= 0) return;
  const GLProcTable& t = glDirect();
  const double pi = std::numbers::pi;
  const double azimuthStep = (azimuthEnd - azimuthStart) / sliceCount;
  double polarSteps = std::fabs(std::nearbyint((polarEnd - polarStart) * sliceCount / pi));
  if (!(polarSteps >= 3)) polarSteps = 3;  // also when the angles are not numbers
  polarSteps = std::min(polarSteps, kMaxPolarSteps);
  const int m = static_cast<int>(polarSteps);
  const double polarStep = (polarEnd - polarStart) / m;

  auto vertex = [&](double a, double p) {
    const double x = std::cos(a) * std::sin(p), y = std::sin(a) * std::sin(p), z = std::cos(p);
    t.glNormal3f(static_cast<GLfloat>(normalFactor * x), static_cast<GLfloat>(normalFactor * y),
                 static_cast<GLfloat>(normalFactor * z));
    t.glTexCoord2f(static_cast<GLfloat>(a / pi), static_cast<GLfloat>(p / pi));
    t.glVertex3f(static_cast<GLfloat>(x), static_cast<GLfloat>(y), static_cast<GLfloat>(z));
  };
  double a = azimuthStart;
  for (GLint slice = 0; slice < sliceCount; ++slice) {
    t.glBegin(GL_QUAD_STRIP);
    for (int step = 0; step <= m; ++step) {
      const double p = polarStart + step * polarStep;
      vertex(a, p);
      vertex(a + azimuthStep, p);
    }
    t.glEnd();
    a += azimuthStep;
  }
}

// The library table is constant, so its entry 72 forwards to whatever
// routine is installed.
void zavgl_detail::CreateInstalledBitmapFontLists(const char* faceName, GLint height, GLboolean bold,
                                                  GLuint firstList, GLboolean italic) {
  installedFontRoutine(faceName, height, bold, firstList, italic);
}

void InstallCreateBitmapFontLists(void (*routine)(const char*, GLint, GLboolean, GLuint, GLboolean)) {
  installedFontRoutine = routine != nullptr ? routine : MissingBitmapFontRoutine;
}

void SetGLErrorStructure(TStructure* s) { errorStructure = s; }

int GLMap2Components(GLenum target) {
  switch (target) {
    case GL_MAP2_INDEX:
    case GL_MAP2_TEXTURE_COORD_1: return 1;
    case GL_MAP2_TEXTURE_COORD_2: return 2;
    case GL_MAP2_VERTEX_3:
    case GL_MAP2_NORMAL:
    case GL_MAP2_TEXTURE_COORD_3: return 3;
    case GL_MAP2_VERTEX_4:
    case GL_MAP2_COLOR_4:
    case GL_MAP2_TEXTURE_COORD_4: return 4;
    default: return 0;
  }
}
