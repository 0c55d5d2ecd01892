#pragma once
// The OpenGL call table. Every GL and GLU call of the drawing code goes
// through gl(), the active table, so that the calls can be recorded to a
// file, sent to a null back-end while no plane context exists, or captured
// by a test fake. The table in direct mode is the base itself: one indirect
// call, no wrapper. In recording mode each recordable entry first appends
// its record to the recording file, then calls the base.
//
// The recording file is a flat run of little-endian records: a 16-bit
// opcode and the call's arguments (b byte, i 32-bit integer, f float, d
// double, s length+1, bytes, NUL); each presented frame ends with a 32-bit
// zero. Nothing here reads a recording back.

#include <GL/gl.h>
#include <GL/glu.h>

#include <cstdint>
#include <functional>
#include <string>

class TStructure;

// The entries in table order (1 to 72), then glGetFloatv, which every
// back-end has and which is never recorded.
struct GLProcTable {
  void (*glBegin)(GLenum mode);                                                             // 1
  void (*glEnd)();                                                                          // 2
  void (*glEnable)(GLenum capability);                                                      // 3
  void (*glDisable)(GLenum capability);                                                     // 4
  void (*glTranslatef)(GLfloat x, GLfloat y, GLfloat z);                                    // 5
  void (*glScalef)(GLfloat x, GLfloat y, GLfloat z);                                        // 6
  void (*glRotatef)(GLfloat angle, GLfloat x, GLfloat y, GLfloat z);                        // 7
  void (*glNormal3f)(GLfloat x, GLfloat y, GLfloat z);                                      // 8
  void (*glVertex3f)(GLfloat x, GLfloat y, GLfloat z);                                      // 9
  void (*glTexCoord2f)(GLfloat s, GLfloat t);                                               // 10
  void (*glTexParameteri)(GLenum target, GLenum name, GLint value);                         // 11
  void (*glBlendFunc)(GLenum source, GLenum destination);                                   // 12
  void (*glEdgeFlag)(GLboolean flag);                                                       // 13
  void (*glPushMatrix)();                                                                   // 14
  void (*glPopMatrix)();                                                                    // 15
  void (*glColor3ub)(GLubyte red, GLubyte green, GLubyte blue);                             // 16
  void (*glColor4ub)(GLubyte red, GLubyte green, GLubyte blue, GLubyte alpha);              // 17
  void (*glShadeModel)(GLenum mode);                                                        // 18
  void (*glFlush)();                                                                        // 19
  void (*glColorMaterial)(GLenum face, GLenum mode);                                        // 20
  void (*glCullFace)(GLenum mode);                                                          // 21
  void (*glDepthFunc)(GLenum function);                                                     // 22
  void (*glLineWidth)(GLfloat width);                                                       // 23
  void (*glMatrixMode)(GLenum mode);                                                        // 24
  void (*glRasterPos3f)(GLfloat x, GLfloat y, GLfloat z);                                   // 25
  void (*glTexEnvf)(GLenum target, GLenum name, GLfloat value);                             // 26
  void (*glPointSize)(GLfloat size);                                                        // 27
  void (*glFogi)(GLenum name, GLint value);                                                 // 28
  void (*glLightModeli)(GLenum name, GLint value);                                          // 29
  void (*glPixelStorei)(GLenum name, GLint value);                                          // 30
  void (*glPolygonMode)(GLenum face, GLenum mode);                                          // 31
  void (*glEvalCoord2f)(GLfloat u, GLfloat v);                                              // 32
  void (*glLineStipple)(GLint factor, GLushort pattern);                                    // 33
  void (*glListBase)(GLuint base);                                                          // 34
  void (*glDeleteLists)(GLuint list, GLsizei range);                                        // 35
  void (*glEvalMesh2)(GLenum mode, GLint i1, GLint i2, GLint j1, GLint j2);                 // 36
  void (*glClipPlane)(GLenum plane, const GLdouble* equation);                              // 37
  void (*glMaterialf)(GLenum face, GLenum name, GLfloat value);                             // 38
  void (*glMaterialfv)(GLenum face, GLenum name, const GLfloat* values);                    // 39
  void (*glCallLists)(GLsizei count, GLenum type, const GLvoid* lists);                     // 40
  void (*glFogf)(GLenum name, GLfloat value);                                               // 41
  void (*glFogfv)(GLenum name, const GLfloat* values);                                      // 42
  void (*glMapGrid2f)(GLint un, GLfloat u1, GLfloat u2, GLint vn, GLfloat v1, GLfloat v2);  // 43
  void (*glMultMatrixf)(const GLfloat* matrix);                                             // 44
  void (*glPolygonStipple)(const GLubyte* mask);                                            // 45
  void (*glMap2f)(GLenum target, GLfloat u1, GLfloat u2, GLint ustride, GLint uorder, GLfloat v1, GLfloat v2,
                  GLint vstride, GLint vorder, const GLfloat* points);  // 46
  void (*glTexImage2D)(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height, GLint border,
                       GLenum format, GLenum type, const GLvoid* pixels);                                   // 47
  void (*glLoadIdentity)();                                                                                 // 48
  void (*glOrtho)(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top, GLdouble zNear, GLdouble zFar);  // 49
  void (*glViewport)(GLint x, GLint y, GLsizei width, GLsizei height);                                      // 50
  void (*glReadBuffer)(GLenum mode);                                                                        // 51
  void (*glDrawBuffer)(GLenum mode);                                                                        // 52
  void (*glCopyPixels)(GLint x, GLint y, GLsizei width, GLsizei height, GLenum type);                       // 53
  void (*glCallList)(GLuint list);                                                                          // 54
  void (*glNewList)(GLuint list, GLenum mode);                                                              // 55
  void (*glEndList)();                                                                                      // 56
  void (*glClear)(GLbitfield mask);                                                                         // 57
  void (*glClearColor)(GLclampf red, GLclampf green, GLclampf blue, GLclampf alpha);                        // 58
  void (*glClearDepth)(GLclampd depth);                                                                     // 59
  GLint (*glRenderMode)(GLenum mode);                                                                       // 60
  void (*gluPerspective)(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar);                    // 61
  void (*gluLookAt)(GLdouble eyeX, GLdouble eyeY, GLdouble eyeZ, GLdouble centerX, GLdouble centerY, GLdouble centerZ,
                    GLdouble upX, GLdouble upY, GLdouble upZ);                                              // 62
  void (*gluPickMatrix)(GLdouble x, GLdouble y, GLdouble width, GLdouble height, GLint* viewport);          // 63
  void (*glGetIntegerv)(GLenum name, GLint* values);                                                        // 64
  void (*glPushName)(GLuint name);                                                                          // 65
  void (*glPopName)();                                                                                      // 66
  void (*glInitNames)();                                                                                    // 67
  GLboolean (*glIsList)(GLuint list);                                                                       // 68
  void (*glSelectBuffer)(GLsizei size, GLuint* buffer);                                                     // 69
  GLenum (*glGetError)();                                                                                   // 70
  // The part of the unit sphere between two azimuth angles (about z) and two
  // polar angles (from +z), in radians, as n quad strips.
  void (*DrawSphereBands)(GLint sliceCount, GLdouble normalFactor, GLdouble azimuthStart, GLdouble azimuthEnd,
                          GLdouble polarStart, GLdouble polarEnd);  // 71
  // Glyph lists firstList .. firstList+254 of character codes 0..254 of the
  // face (code-page bytes).
  void (*CreateBitmapFontLists)(const char* faceName, GLint height, GLboolean bold, GLuint firstList,
                                GLboolean italic);  // 72
  void (*glGetFloatv)(GLenum name, GLfloat* values);
};

// --- back-ends ------------------------------------------------------------------

// The library functions themselves (entries 71 and 72: the routines below).
const GLProcTable& DirectGL();
// Calls that do nothing: glIsList answers false, glGetError and glRenderMode
// 0, queries write nothing.
const GLProcTable& NullGL();

// The base every call ends at: DirectGL at start; the owner of the context
// sets its own (the plane, a test fake). Setting a base keeps the mode.
void SetGLBase(const GLProcTable& base);
const GLProcTable& GLBase();

namespace zavgl_detail {
extern const GLProcTable* Active;
// What DirectGL answers. GLLibrary.cpp fills it with the GL and GLU
// libraries' own functions; a program that never makes a GL context links
// GLWithoutLibrary.cpp instead (calls that do nothing, as NullGL), so that it
// needs no GL library at all.
extern const GLProcTable kLibraryTable;
// Entry 72 of the library table: the routine InstallCreateBitmapFontLists set.
void CreateInstalledBitmapFontLists(const char* faceName, GLint height, GLboolean bold, GLuint firstList,
                                    GLboolean italic);
}
// The active table: the recording wrappers while recording, else the base;
// NullGL while a graphics entry found no context (SetGLNullRoute).
inline const GLProcTable& gl() { return *zavgl_detail::Active; }
// The table the never-recorded direct calls go to: the base, or NullGL
// while the null route is on.
const GLProcTable& glDirect();

// Routes every call to NullGL (on) or back to the mode's table (off);
// returns the previous setting. GraphicsEntry uses it when the plane's
// context cannot be made current.
bool SetGLNullRoute(bool on);

// --- the recording ----------------------------------------------------------------

bool GLRecordingActive();
// The render mode last passed through the recording glRenderMode entry.
GLenum GLRenderMode();
void UseDirectGL();
void UseRecordingGL();
// Creates (truncates) the file and switches to recording; false (and direct
// mode) when it cannot be created. A recording in progress is closed first.
// "\" in the name is taken as "/".
[[nodiscard]] bool OpenGLRecording(const std::u16string& fileName);
// Flushes and closes the file and returns to direct mode; a flush that
// fails is reported like a failed write.
void CloseGLRecording();
// Writes the frame end (a 32-bit zero) while recording, and flushes.
void RecordFrameEnd();
// Called once with the file's name (as given) when a write or flush first
// fails; the file is closed first and the table goes direct.
void SetGLRecordingFailureHandler(std::function<void(const std::u16string& fileName)> handler);

// --- routines of entries 71 and 72 ---------------------------------------------------

// Issues its calls through the base, so its vertices are not recorded.
void DrawSphereBands(GLint sliceCount, GLdouble normalFactor, GLdouble azimuthStart, GLdouble azimuthEnd,
                     GLdouble polarStart, GLdouble polarEnd);
// Replaces the bitmap-font routine (fonts install theirs); until then the
// entry raises the internal error "ZAVOPENGL:FONT" on the structure set by
// SetGLErrorStructure.
void InstallCreateBitmapFontLists(void (*routine)(const char*, GLint, GLboolean, GLuint, GLboolean));
void SetGLErrorStructure(TStructure* s);

// The components of one control point of a two-dimensional evaluator map
// (0 for a target that is not one).
int GLMap2Components(GLenum target);
