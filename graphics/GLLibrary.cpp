// The library table: every entry is the GL or GLU library's own function
// (entries 71 and 72 are ours). Only programs that draw into a real context
// link it, and with it the GL libraries.

#include "graphics/ZavOpenGL.h"

constinit const GLProcTable zavgl_detail::kLibraryTable = {
    glBegin,        glEnd,          glEnable,       glDisable,        glTranslatef,     glScalef,
    glRotatef,      glNormal3f,     glVertex3f,     glTexCoord2f,     glTexParameteri,  glBlendFunc,
    glEdgeFlag,     glPushMatrix,   glPopMatrix,    glColor3ub,       glColor4ub,       glShadeModel,
    glFlush,        glColorMaterial, glCullFace,    glDepthFunc,      glLineWidth,      glMatrixMode,
    glRasterPos3f,  glTexEnvf,      glPointSize,    glFogi,           glLightModeli,    glPixelStorei,
    glPolygonMode,  glEvalCoord2f,  glLineStipple,  glListBase,       glDeleteLists,    glEvalMesh2,
    glClipPlane,    glMaterialf,    glMaterialfv,   glCallLists,      glFogf,           glFogfv,
    glMapGrid2f,    glMultMatrixf,  glPolygonStipple, glMap2f,        glTexImage2D,     glLoadIdentity,
    glOrtho,        glViewport,     glReadBuffer,   glDrawBuffer,     glCopyPixels,     glCallList,
    glNewList,      glEndList,      glClear,        glClearColor,     glClearDepth,     glRenderMode,
    gluPerspective, gluLookAt,      gluPickMatrix,  glGetIntegerv,    glPushName,       glPopName,
    glInitNames,    glIsList,       glSelectBuffer, glGetError,       DrawSphereBands,  zavgl_detail::CreateInstalledBitmapFontLists,
    glGetFloatv,
};
